// Passed and candidate pawns.
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
  score += term(info, c, kPpawnBase + r - 1);
  bool mobile = false, isFree = false;
  if (!(occ & bit(s)) && staticExchange(pos, c, p, s) == 0) {
    mobile = true;
    score += term(info, c, kPpawnMobile + r - 1);
    const Bitboard* ea = info.attacks[e];
    if (!((ea[kPawn] | ea[kKnight] | ea[kBishop]) & front)) {
      Bitboard unsafe = front & ~(~(ea[0] | pos.pieces[e][0]) | (info.attacks[c][0] & ~info.doubleAttacks[e]));
      if (!unsafe) {
        isFree = true;
        info.freePassers |= bit(p);
        score += term(info, c, kPpawnFree + r - 1);
      }
    }
  }
  const int t = r < 6 ? s + u : s;
  const float kd = kKingDistanceScale[r];
  score += scaledTerm(info, c, kPpawnFkdist + chebyshev(pos.kingSquare[c], t), kd);
  score += scaledTerm(info, c, kPpawnEkdist + chebyshev(pos.kingSquare[e], t), kd);
  if (info.attacks[c][kPawn] & bit(s)) score += term(info, c, kPpawnConnected + r - 1);
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
  info.score[c] += scaledTerm(info, c, kCandidatePasser + r - 1, kCandidateScale[d]);
}

}  // namespace

void evaluatePassedPawns(const Position& pos, EvalInfo& info) {
  for (Bitboard b = info.passed; b;) passedPawn(pos, info, popLowest(b));
  for (Bitboard b = info.candidates; b;) candidatePawn(pos, info, popLowest(b));
  closeTraceGroup(info, kTracePassed);
}

}  // namespace eval
