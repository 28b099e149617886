// Whether a move gives check, worked out on the position it leaves.
#include "board/attacks.h"

namespace board {

// Whether the side to move gives check after move, with the real position
// after the move (castling rook and en-passant discoveries included).
bool givesCheck(const Position& pos, Move move) {
  const int us = pos.sideToMove;
  const int from = moveFrom(move), to = moveTo(move);
  const int type = typeOf(pos.board[from]);
  const int king = pos.kingSquare[us ^ 1];
  std::array<Bitboard, 8> ours = pos.pieces[us];
  Bitboard occ = (occupied(pos) & ~bit(from)) | bit(to);
  ours[type] &= ~bit(from);
  ours[isPromotion(move) || (type == kPawn && (rankOf(to) == 0 || rankOf(to) == 7)) ? promotionType(move) : type] |=
      bit(to);
  if (type == kPawn && to == pos.epSquare) occ &= ~bit(to - kForward[us]);
  if (type == kKing && (to == from + 2 || to == from - 2)) {
    int rookFrom = to > from ? from + 3 : from - 4, rookTo = to > from ? from + 1 : from - 1;
    occ = (occ & ~bit(rookFrom)) | bit(rookTo);
    ours[kRook] = (ours[kRook] & ~bit(rookFrom)) | bit(rookTo);
  }
  Bitboard attackers = (pawnAttacks[us ^ 1][king] & ours[kPawn]) | (knightAttacks[king] & ours[kKnight]) |
                       (bishopAttacks(king, occ) & (ours[kBishop] | ours[kQueen])) |
                       (rookAttacks(king, occ) & (ours[kRook] | ours[kQueen]));
  return attackers != 0;
}

}  // namespace board
