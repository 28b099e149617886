// Limits of one search, written by the command line, "go" and the console.
#pragma once

#include <cstdint>

namespace search {

struct SearchLimits {
  uint64_t node_limit = 0;   // 0 = none
  int depth_limit = 66;      // iteration depth limit, never above 66
  int level_moves = 1;       // 0 rest of game, 1 fixed per move, 40 movestogo
  float level_time = 5.0f;   // seconds
  float increment = 0.0f;    // seconds, side to move
  float time_left[2] = {5.0f, 5.0f};
  int moves_to_go = 0;
  double target_nps = 0;     // strength throttle, 0 = off
};

constexpr int kMaxDepth = 66;

}  // namespace search
