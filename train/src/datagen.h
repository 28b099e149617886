// The data generator: worker processes play self-play games (the engine's
// search state is process-wide, so each worker is its own process with its
// own game), and the parent writes the games in game order, in chunks, to
// one file that a later run with the same settings extends.
#pragma once

#include <cstdint>
#include <string>

#include "selfplay.h"

namespace train {

struct DatagenOptions {
  std::string outFile;
  std::string networkFile;  // empty: the hand-crafted evaluation labels
  int workers = 0;          // 0: one per core
  uint64_t games = 0;       // stop once the file holds this many games (0: no limit)
  uint64_t positions = 0;   // or this many positions (0: no limit)
  bool seedGiven = false;   // otherwise a new file takes a seed from the clock, an old one keeps its own
  SelfPlaySettings play;
  double progressSeconds = 10;
};

// Runs to the targets or until SIGINT / SIGTERM; returns the exit status.
int runDatagen(const DatagenOptions& options);

}  // namespace train
