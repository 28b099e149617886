// Self-play games with the engine's own search: a random opening, then one
// node-limited search per move, adjudicated wins and draws. The search state
// is process-wide, so one process plays one game at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records.h"

namespace train {

constexpr uint64_t kDefaultSoftNodes = 5000;
constexpr uint64_t kHardNodeFactor = 4;  // the default hard cap: this many times the soft limit
constexpr int kDefaultHashMb = 16;

struct SelfPlaySettings {
  uint64_t seed = 1;
  uint64_t softNodes = kDefaultSoftNodes;  // no new iteration past this
  uint64_t hardNodes = 0;                  // the search stops here; 0: kHardNodeFactor x softNodes
  int hashMb = kDefaultHashMb;
  // After the opening, this many moves in a thousand are a random legal move
  // instead of the searched one: the games then reach the lopsided positions
  // a search looks at and good play never shows.
  int randomMovePermille = 0;
};

uint64_t hardNodeCap(const SelfPlaySettings& s);

struct PlayedGame {
  std::vector<PackedRecord> records;  // one per searched position, result filled in
  uint8_t result = kDraw;             // GameResult
  int plies = 0;                      // the game's length, opening included
};

// Small deterministic generator (splitmix64): one stream per game.
struct Rng {
  uint64_t state;
  uint64_t next();
};
// The stream of game index under seed.
Rng gameRng(uint64_t seed, uint64_t index);

// Once per process: tables, weights, the game record, and the evaluation
// (the network file when given, else the hand-crafted evaluation).
// 0 when ready, else why holds the reason.
int setUpEngine(const std::string& networkFile, std::string& why);
// The search table for the games (announces itself on stdout); false when
// the memory is not there.
bool allocateSearchTable(int megabytes);
// Plays game number index of the series seeded by s.seed: the same seed,
// index and settings give the same game.
void playGame(const SelfPlaySettings& s, uint64_t index, PlayedGame& out);

}  // namespace train
