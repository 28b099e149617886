// The transposition table, shared by all threads without locks. The table
// owns its size and its on/off switch.
#pragma once

#include <cstdint>

#include "board/board.h"

namespace search {

struct HashProbe {
  board::Move move;
  int score;
  int depth;
  int bound;
};
constexpr int kBoundUpper = 1, kBoundLower = 2, kBoundExact = 3;

// 1 when a table of that size is in place; 0 when the machine cannot give it:
// the previous size (or the largest smaller one available) stays in use,
// ttSizeMb tells which, and a line says so. Size 0 leaves no table.
int ttAllocate(int megabytes);
// Gives the table back (at exit).
void ttRelease();
// The size in use (0: none).
int ttSizeMb();
// Searches without a table (the tools at small depths) switch it off.
bool ttIsEnabled();
void ttSetEnabled(bool on);
// The console's table setting: 0 no table, 1 the table is cleared before each
// console search, 2 or more it stays filled between searches.
int ttEnabledSetting();
void ttSetEnabledSetting(int value);
// Zeroes the table when one is in use; harmless otherwise.
void ttClear();
bool ttProbe(const board::Position& pos, HashProbe& out);
void ttStore(const board::Position& pos, int ply, int depth, board::Move move, int score, int alpha, int beta);
int ttHashfull();
// Advances the generation (ages 1..15); ttResetAge starts a new game at 0.
void ttNewSearch();
void ttResetAge();
int ttGeneration();
uint64_t ttEntryCount();
// Starts loading the bucket of key, ahead of the probe at the child node.
void ttPrefetch(uint64_t key);

}  // namespace search
