// Passed and candidate pawns, hung and attacked pieces, pawn-push threats,
// pins and the side-to-move bonus.
#include <algorithm>

#include "board/attacks.h"
#include "eval/eval.h"

namespace eval {

using namespace board;

namespace {

constexpr float kKingDistanceScale[8] = {0, 0.16f, 0.18f, 0.36f, 0.57f, 0.78f, 1.0f, 1.0f};
constexpr float kCandidateScale[8] = {0, 0.15f, 0.3f, 0.45f, 0.6f, 0.75f, 0.9f, 1.0f};
constexpr int kPasserThreat[8] = {0, 0, 0, 150, 300, 600, 1200, 0};

inline int relativeRank(int sq, int c) { return c == kWhite ? sq >> 3 : 7 - (sq >> 3); }

void passedPawn(const Position& pos, EvalInfo& info, int p) {
  const int c = colourOf(pos.board[p]), e = c ^ 1;
  const int u = kForward[c];
  const int r = relativeRank(p, c);
  const Bitboard occ = info.occupied;
  const Bitboard front = frontSpan(bit(p), c);
  if (front & (pos.pieces[0][kPawn] | pos.pieces[1][kPawn])) return;  // rear pawn of a doubled passer
  int s = p + u;
  if (r == 1 && !(occ & bit(s))) s = p + 2 * u;
  Packed& score = info.score[c];
  score += param(kPpawnBase + r - 1);
  bool mobile = false, isFree = false;
  if (!(occ & bit(s)) && staticExchange(pos, c, p, s) == 0) {
    mobile = true;
    score += param(kPpawnMobile + r - 1);
    const Bitboard* ea = info.attacks[e];
    if (!((ea[kPawn] | ea[kKnight] | ea[kBishop]) & front)) {
      Bitboard unsafe = front & ~(~(ea[0] | pos.pieces[e][0]) | (info.attacks[c][0] & ~info.doubleAttacks[e]));
      if (!unsafe) {
        isFree = true;
        info.freePassers |= bit(p);
        score += param(kPpawnFree + r - 1);
      }
    }
  }
  const int t = r < 6 ? s + u : s;
  const float kd = kKingDistanceScale[r];
  score += scaledParam(kPpawnFkdist + chebyshev(pos.kingSquare[c], t), kd);
  score += scaledParam(kPpawnEkdist + chebyshev(pos.kingSquare[e], t), kd);
  if (info.attacks[c][kPawn] & bit(s)) score += param(kPpawnConnected + r - 1);
  int v = kPasserThreat[r];
  if (!mobile) v /= 4;
  else if (!isFree) v /= 2;
  info.threat[e] += v;
}

void candidatePawn(const Position& pos, EvalInfo& info, int p) {
  const int c = colourOf(pos.board[p]), e = c ^ 1;
  const int r = relativeRank(p, c);
  if (r < 3) return;
  const Bitboard front = frontSpan(bit(p), c);
  if (front & info.occupied) return;
  int sup = popCount(pos.pieces[c][kPawn] & sideways(bit(p)));
  int att = popCount(front & info.attacks[e][0]) + ((front & info.doubleAttacks[e]) ? 1 : 0);
  if (att > sup) return;
  int beforePromotion = c == kWhite ? 48 + (p & 7) : 8 + (p & 7);
  int d = chebyshev(pos.kingSquare[e], beforePromotion);
  info.score[c] += scaledParam(kCandidatePasser + r - 1, kCandidateScale[d]);
}

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

void evaluatePassedAndThreats(const Position& pos, EvalInfo& info) {
  const auto& ps = pos.pieces;
  for (Bitboard b = info.passed; b;) passedPawn(pos, info, popLowest(b));
  for (Bitboard b = info.candidates; b;) candidatePawn(pos, info, popLowest(b));
  closeTraceGroup(info, kTracePassed);

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
    info.score[c] += popCount(hung) * param(kHungPawn) + popCount(X & ~weak[c]) * param(kAttackedPawn);
    info.threat[c] += 64 * popCount(hung);
  }
  for (int c = 0; c < 2; ++c) {
    const int e = c ^ 1;
    Bitboard M = (ps[c][kKnight] | ps[c][kBishop]) & info.attacks[e][0];
    Bitboard hung = M & (weak[c] | info.attacks[e][kPawn]);
    info.hung |= hung;
    info.score[c] += popCount(hung) * param(kHungMinor);
    info.score[c] += popCount(M & ~(weak[c] | info.attacks[c][kPawn])) * param(kAttackedMinor);
    info.threat[c] += 256 * popCount(hung);
  }
  for (int c = 0; c < 2; ++c) {
    const int e = c ^ 1;
    Bitboard hung = (ps[c][kRook] | ps[c][kQueen]) &
                    (info.attacks[e][kPawn] | info.attacks[e][kKnight] | info.attacks[e][kBishop]);
    info.hung |= hung;
    info.score[c] += popCount(hung) * param(kHungMajor);
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
    info.score[e] += popCount(targets) * param(kPpushThreat);
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
    info.score[c] += popCount(pinned & ownPieces) * param(kPinnedPiece);
  }
  closeTraceGroup(info, kTraceThreats);

  info.score[pos.sideToMove] += param(kStmBonus);
  closeTraceGroup(info, kTraceSpecial);
}

}  // namespace eval
