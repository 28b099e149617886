// Quiescence search: captures (and at its first ply quiet checks) below the
// horizon, with delta and exchange pruning.
#include <algorithm>

#include "board/attacks.h"
#include "search/search.h"

namespace search {

using namespace board;

int quiesce(SearchThread& t, int ply, int depth, int alpha, int beta, int nodeType) {
  Position& pos = t.position;
  StackEntry& s = t.stack[ply];
  const int e = s.staticEval;
  if (e >= beta) return beta;
  int best = std::max(e, alpha);
  const int floor = best;
  s.movesSearched = 0;
  const int margin = depth > 0 ? 450 : 150;
  startPicker(t, ply, depth >= 0 ? kPickQuiesce0 : kPickQuiesceDeep);
  const int us = pos.sideToMove, them = us ^ 1;
  const int recapture = moveTo(t.history.lastMove);
  Move bestMove = 0;
  Move* pv = t.pv[ply];
  for (MoveEntry* entry; (entry = pickNextMove(t, ply));) {
    const Move m = entry->move;
    const int to = moveTo(m);
    if (depth <= -4 && to != recapture) continue;
    const int mover = typeOf(entry->piece), victim = typeOf(entry->captured);
    int gain = kSeeValue[victim];
    if (givesCheck(pos, m)) {
      gain = 20000;
    } else if (victim && (pos.materialSignature[them] & 15) - (victim == kPawn) == 0 &&
               pos.pieceMaterial[them] - kMaterialStep[victim] <= 3) {
      gain = 5000;
    } else if (mover == kPawn && (us == kWhite ? to : to ^ 56) > 47) {
      gain = 1500;
    }
    if (e + gain <= best - margin) continue;
    if (failsExchange(pos, m)) continue;
    if (!isLegal(pos, us, m)) continue;
    s.currentMove = m;
    s.currentPiece = entry->piece;
    s.moveClass = 0;
    makeMove(pos, m);
    const int score = -search(t, ply + 1, depth - 1, -beta, -best, -nodeType);
    unmakeMove(pos);
    if (stop_requested.load(std::memory_order_relaxed)) return 0;
    ++s.movesSearched;
    if (score > best) {
      bestMove = m;
      pv[ply] = m;
      pv[ply + 1] = 0;
      if (score >= beta) {
        best = score;
        break;
      }
      copyChildLine(t, ply);
      best = score;
    }
  }
  if (depth >= 0 && best >= beta) ttStore(pos, ply, depth, bestMove, best, floor, beta);
  return best;
}

}  // namespace search
