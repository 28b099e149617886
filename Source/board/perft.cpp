// Perft: counts legal move sequences. Leaf moves are counted, not played.
#include "board/attacks.h"

namespace board {

namespace {

// Per-node legality shortcut: outside check, a move of an unpinned piece other
// than the king (and not en passant) is always legal; the rest go to isLegal.
struct LegalFilter {
  Bitboard pinned = 0;
  int king = 0;
  bool checked = false;

  explicit LegalFilter(const Position& pos) {
    const int us = pos.sideToMove, them = us ^ 1;
    king = pos.kingSquare[us];
    checked = isAttacked(pos, king, them);
    const auto& e = pos.pieces[them];
    Bitboard occ = occupied(pos);
    Bitboard snipers = (rookEmptyAttacks[king] & (e[kRook] | e[kQueen])) |
                       (bishopEmptyAttacks[king] & (e[kBishop] | e[kQueen]));
    while (snipers) {
      Bitboard blockers = between[popLowest(snipers)][king] & occ;
      if (blockers && !(blockers & (blockers - 1))) pinned |= blockers & pos.pieces[us][0];
    }
  }

  bool legal(const Position& pos, Move m) const {
    const int from = moveFrom(m), to = moveTo(m);
    const int type = typeOf(pos.board[from]);
    if (checked || type == kKing || (type == kPawn && to == pos.epSquare)) return isLegal(pos, pos.sideToMove, m);
    return !(pinned & bit(from)) || (lineThrough[from][king] & bit(to));
  }
};

}  // namespace

uint64_t perft(Position& pos, int depth) {
  if (depth <= 0) return 1;
  MoveEntry list[kMaxMoves];
  MoveEntry* end = generateAll(pos, list);
  LegalFilter filter(pos);
  uint64_t nodes = 0;
  for (MoveEntry* e = list; e != end; ++e) {
    if (!filter.legal(pos, e->move)) continue;
    if (depth == 1) {
      ++nodes;
    } else {
      makeMove(pos, e->move);
      nodes += perft(pos, depth - 1);
      unmakeMove(pos);
    }
  }
  return nodes;
}

}  // namespace board
