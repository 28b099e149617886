// Pruning settings derived from the options, and the playing-strength limit:
// the machine's speed, Elo to nodes per second, and the throttle.
#pragma once

#include <cstdint>

#include "search/thread.h"

namespace search {

struct Selectivity {
  int BP_margin = 15;
  int FP_depth = 3, SEP_depth = 3, NMP_depth = 3, LMP_depth = 6, LMR_depth = 3;
  int16_t FP_margin[12] = {}, SEP_margin[12] = {}, LMP_count[12] = {};
  float LMR_table[32][32] = {};
  int builtFor = -1;
};
extern Selectivity sel;
// The throttle holds this search to its target rate.
extern bool limit_active;

// Measured once at start-up: evaluations and move generation per second on
// the game position, and the Elo that rate stands for.
extern double calibration_nps;
extern float max_elo;
void calibrateSpeed();

void applySelectivity(const SearchSettings& settings);
void printSelectivity(const SearchSettings& settings);
// The node rate that plays at elo (bisection of Elo = 150 ln(rate) + 1050).
double npsForElo(int elo);
void throttle(SearchThread& t);

}  // namespace search
