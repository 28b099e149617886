// Search: the node search and quiescence, the root driver, and (through the
// headers below) the control record, threads, table, picker and selectivity.
#pragma once

#include "search/control.h"
#include "search/limits.h"
#include "search/picker.h"
#include "search/selectivity.h"
#include "search/thread.h"
#include "search/ttable.h"

namespace search {

// Move-class bits of a move, computed before it is searched.
constexpr uint16_t kClassCapture = 0x01;     // en passant included
constexpr uint16_t kClassCheck = 0x02;
constexpr uint16_t kClassSeventh = 0x08;     // with kClassPawnRush: a push to the seventh rank
constexpr uint16_t kClassQueening = 0x10;    // with kClassPawnRush: a queen promotion
constexpr uint16_t kClassPawnRush = 0x20;    // promotions, pushes to the seventh, free passers to the sixth

// ---------------------------------------------------------------- node search and quiescence
int search(SearchThread& t, int ply, int depth, int alpha, int beta, int nodeType);
int quiesce(SearchThread& t, int ply, int depth, int alpha, int beta, int nodeType);
int moveClassOf(const Position& pos, Move move);
// The capture or quiet piece move loses more than 70 by exchange (pawn en
// passant excepted): pruned or reduced further by the searches.
bool failsExchange(const Position& pos, Move move);
// pv[ply][ply + 1..] = the child's line (up to its 0).
void copyChildLine(SearchThread& t, int ply);
int staticEvaluation(SearchThread& t, int ply, bool inCheck);

// ---------------------------------------------------------------- root
void rootSearch(SearchThread& t);
// Carries a line cut short by table cuts on to the depth searched
// and runs a mate score's line to the mate (the root position is t's).
// False when a mate score's line still stops short of the mate.
bool completeLine(SearchThread& t, Move* line, int depth, int score);
void reportSearchInfo(SearchThread& t, int lineNumber, int depth, int score, const Move* line);
// The most men a table may have to be probed: the largest table found,
// lowered by SyzygyProbeLimit.
int tablebaseMenLimit();

}  // namespace search
