// Hung and attacked pieces, pawn-push threats, pins and the side-to-move bonus.
#include <algorithm>

#include "board/attacks.h"
#include "eval/eval.h"

namespace eval {

using namespace board;

namespace {

// Pieces alone between a slider and a target square along a line.
Bitboard pinnedAgainst(const Position& pos, int target, Bitboard diagonal, Bitboard orthogonal) {
  Bitboard snipers = (bishopEmptyAttacks[target] & diagonal) | (rookEmptyAttacks[target] & orthogonal);
  Bitboard pinned = 0, occ = occupied(pos);
  while (snipers) {
    Bitboard inBetween = between[popLowest(snipers)][target] & occ;
    if (inBetween && !(inBetween & (inBetween - 1))) pinned |= inBetween;
  }
  return pinned;
}

}  // namespace

void evaluateThreats(const Position& pos, EvalInfo& info) {
  const auto& ps = pos.pieces;

  Bitboard weak[2];
  for (int c = 0; c < 2; ++c) {
    const int e = c ^ 1;
    weak[c] = (info.doubleAttacks[e] & ~(info.attacks[c][kPawn] | info.doubleAttacks[c])) |
              (info.attacks[e][0] & ~info.attacks[c][0]);
  }
  for (int c = 0; c < 2; ++c) {
    const int e = c ^ 1;
    Bitboard X = ps[c][kPawn] & info.attacks[e][0] & ~info.attacks[c][kPawn] & ~info.attacks[e][kPawn];
    Bitboard hung = X & weak[c];
    info.hung |= hung;
    info.score[c] += term(info, c, kHungPawn, popCount(hung)) + term(info, c, kAttackedPawn, popCount(X & ~weak[c]));
    info.threat[c] += 64 * popCount(hung);
  }
  for (int c = 0; c < 2; ++c) {
    const int e = c ^ 1;
    Bitboard M = (ps[c][kKnight] | ps[c][kBishop]) & info.attacks[e][0];
    Bitboard hung = M & (weak[c] | info.attacks[e][kPawn]);
    info.hung |= hung;
    info.score[c] += term(info, c, kHungMinor, popCount(hung));
    info.score[c] += term(info, c, kAttackedMinor, popCount(M & ~(weak[c] | info.attacks[c][kPawn])));
    info.threat[c] += 256 * popCount(hung);
  }
  for (int c = 0; c < 2; ++c) {
    const int e = c ^ 1;
    Bitboard hung = (ps[c][kRook] | ps[c][kQueen]) &
                    (info.attacks[e][kPawn] | info.attacks[e][kKnight] | info.attacks[e][kBishop]);
    info.hung |= hung;
    info.score[c] += term(info, c, kHungMajor, popCount(hung));
    info.threat[c] += 256 * popCount(hung);
  }
  const Bitboard empty = ~info.occupied;
  for (int c = 0; c < 2; ++c) {
    const int e = c ^ 1;
    Bitboard push, twice;
    if (c == kWhite) {
      push = (ps[c][kPawn] << 8) & empty;
      twice = ((push & rankMask(2)) << 8) & empty;
    } else {
      push = (ps[c][kPawn] >> 8) & empty;
      twice = ((push & rankMask(5)) >> 8) & empty;
    }
    push |= twice;
    push &= ~info.attacks[e][kPawn] & (~info.attacks[e][0] | info.attacks[c][kPawn]);
    Bitboard targets = pawnAttackSet(push, c) & (ps[e][0] & ~ps[e][kPawn]) & ~info.hung;
    info.score[e] += term(info, e, kPpushThreat, popCount(targets));
  }
  for (int c = 0; c < 2; ++c) {
    const int e = c ^ 1;
    Bitboard pinned = pinnedAgainst(pos, pos.kingSquare[c], ps[e][kBishop] | ps[e][kQueen],
                                    ps[e][kRook] | ps[e][kQueen]);
    if (Bitboard queens = ps[c][kQueen]) {
      // The queen nearest its own first rank, so both colours see the same rule.
      int q = c == kWhite ? bitScanForward(queens) : bitScanReverse(queens);
      pinned |= pinnedAgainst(pos, q, ps[e][kBishop], ps[e][kRook]);
    }
    Bitboard ownPieces = ps[c][kKnight] | ps[c][kBishop] | ps[c][kRook] | ps[c][kQueen];
    info.score[c] += term(info, c, kPinnedPiece, popCount(pinned & ownPieces));
  }
  closeTraceGroup(info, kTraceThreats);

  info.score[pos.sideToMove] += term(info, pos.sideToMove, kStmBonus);
  closeTraceGroup(info, kTraceSpecial);
}

}  // namespace eval
