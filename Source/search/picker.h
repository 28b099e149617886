// The staged move picker and the quiet-move statistics behind its order.
#pragma once

#include <array>
#include <cstdint>

#include "search/thread.h"

namespace search {

extern std::array<int32_t, kStackSize> historyWeight;
extern const std::array<int16_t, 8> kMvvScore;
extern const std::array<int16_t, 8> kExchangeRank;
// Fills the depth weights of the history statistics (once, at start-up).
void initSearchTables();
void startPicker(SearchThread& t, int ply, PickMode mode);
MoveEntry* pickNextMove(SearchThread& t, int ply);
void updateQuietStats(SearchThread& t, int ply, Move move, int piece, int depth, int score, int alpha);
void resetThreadTables(SearchThread& t);
// Type of the piece that made the move into this ply (0 after a null move or at the root).
int previousMoverType(const SearchThread& t, int ply);

}  // namespace search
