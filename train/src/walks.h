// Positions a few random plies away from game positions, scored by the
// hand-crafted evaluation: the lopsided, unquiet positions a search looks
// at, which games alone never show the network.
#pragma once

#include <cstdint>
#include <vector>

#include "records.h"

namespace train {

struct WalkSettings {
  int perPosition = 0;  // walks from each listed position
  int maxPlies = 4;     // each walk is 1 to this many random legal plies
  uint64_t seed = 1;
  int threads = 0;      // 0: one per core
};

// Appends to records the ends of the walks from records[i] for every i of
// indices, and their places in records to indices. They carry the static
// score and kNoResult. Positions in check or without moves are dropped.
// Needs the engine set up (setUpEngine); returns the count added.
size_t addHceWalks(std::vector<PackedRecord>& records, std::vector<uint32_t>& indices, const WalkSettings& s);

}  // namespace train
