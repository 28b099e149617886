// What one search is given: its limits (the clock, depth, nodes), the
// settings it takes from the options, and the search-wide constants of plies
// and scores.
#pragma once

#include <array>
#include <cstdint>

#include "board/board.h"

namespace search {

constexpr int kMaxDepth = 66;
constexpr int kStackSize = 70;  // plies 0..69; the root is ply 1

// Scores, from the side to move's point of view.
constexpr int kInfinity = 10001;
constexpr int kMateValue = 10000;       // mated at ply p scores p - kMateValue
constexpr int kMatedAtRoot = 1 - kMateValue;
constexpr int kTbWinScore = 9800;       // a tablebase win at ply p scores kTbWinScore - ply
constexpr int kTbLossAtRoot = -9800;    // a tablebase loss at ply p scores p - 9801
constexpr int kTbWinAtRoot = 9799;
constexpr int kWinBand = 9798;          // above: a mate or a tablebase win
constexpr int kLossBand = -9799;        // below: mated or a tablebase loss
constexpr int kMateShownAbove = 9899;   // reported as "mate" beyond these
constexpr int kMatedShownBelow = -9900;

// Node types: the window a node is searched with and what it is expected to do.
enum NodeType : int { kAllNode = -1, kPvNode = 0, kCutNode = 1 };

struct SearchLimits {
  uint64_t node_limit = 0;   // 0 = none
  uint64_t soft_node_limit = 0;  // no new iteration past this many nodes (0 = none)
  int depth_limit = 66;      // iteration depth limit, never above 66
  int level_moves = 1;       // 0 rest of game, 1 fixed per move, 40 movestogo
  float level_time = 5.0f;   // seconds
  float increment = 0.0f;    // seconds, side to move
  float time_left[2] = {5.0f, 5.0f};
  int moves_to_go = 0;
  // "go mate N": the search ends once a mate in N moves or fewer is proven (0 = none).
  int mate_moves = 0;
  bool analysis = false;  // "go infinite": only "stop" ends the search
  // "go searchmoves": the root searches only these (count 0 = every legal move).
  int search_move_count = 0;
  std::array<board::Move, board::kMaxMoves> search_moves{};
};

constexpr float kUnlimitedTime = 10000000.0f;  // a level_time that never runs out
constexpr double kNoOutput = 9999;             // a noise that keeps every search silent

// Pruning settings, in the option order: (unused), SEP_depth, SEP_step,
// NMP_depth, FP_depth, FP_step, LMP_depth, LMP_step, LMR_depth.
enum PersonalityIndex { kSEP_depth = 1, kSEP_step, kNMP_depth, kFP_depth, kFP_step, kLMP_depth, kLMP_step, kLMR_depth };
using PruningSettings = std::array<int16_t, 9>;

// The options a search reads, handed over by whoever starts it.
struct SearchSettings {
  int move_overhead_ms = 50;
  bool ponder = true;
  int multi_pv = 1;
  int contempt = 0;
  bool eval_noise = false;  // the network may add its jitter (play, not tools)
  int elo = 3300;           // UCI_Elo in force; below 2400 the target time shrinks
  double target_nps = 0;    // strength throttle rate (0: none)
  double noise = 0;         // seconds before search output starts; kNoOutput = never
  int selectivity = 100;
  int tb_min_depth = 0;      // smallest depth at which the node search probes the tablebases
  int tb_probe_depth6 = 1;   // SyzygyProbeDepth6: the same for six men
  int tb_probe_limit = 7;    // SyzygyProbeLimit: no table of more men is probed (0: none)
  bool show_wdl = false;     // UCI_ShowWDL: info lines carry the win/draw/loss estimate
  PruningSettings personality = {0, 3, 75, 3, 3, 125, 6, 3, 3};
};

}  // namespace search
