// Piece and king terms; also completes the attack maps the later terms read.
#include <algorithm>

#include "board/attacks.h"
#include "eval/eval.h"

namespace eval {

using namespace board;

namespace {

constexpr Bitboard kCentralBlock = 0x3c3c3c3c0000ull;
constexpr float kPawnDistanceScale[8] = {0, 0.2f, 0.4f, 0.6f, 0.8f, 1.0f, 1.0f, 1.0f};

inline void recordAttacks(EvalInfo& info, int c, int type, Bitboard a, int zoneUnits) {
  info.doubleAttacks[c] |= a & info.attacks[c][0];
  info.attacks[c][0] |= a;
  info.attacks[c][type] |= a;
  if (a & info.kingZone[c ^ 1]) info.kingUnits[c ^ 1] += zoneUnits;
}

inline int pst(const EvalInfo& info, int set1, int set2, int c, int sq) {
  return (info.pstSet ? set2 : set1) + (sq ^ info.transform[c]);
}

void outpost(const Position& pos, EvalInfo& info, int c, int sq, Bitboard a, int outpostParam, int attackParam) {
  (void)pos;
  if (info.outposts[c] & bit(sq)) {
    float k = (info.attacks[c][kPawn] & bit(sq)) ? 1.0f : 0.4f;
    info.score[c] += scaledTerm(info, c, outpostParam, k);
  }
  if (a & info.outposts[c]) info.score[c] += term(info, c, attackParam);
}

void kingTerms(const Position& pos, EvalInfo& info, int c) {
  const int e = c ^ 1;
  const int k = pos.kingSquare[c];
  const Bitboard occ = info.occupied;
  Packed& score = info.score[c];
  score += term(info, c, kPstK + (k ^ info.transform[c]));

  if (pos.pieceMaterial[e] > 8) {
    const Bitboard zone = info.kingZone[c];
    const Bitboard P = pos.pieces[c][kPawn];
    Bitboard shield = c == kWhite ? (P | P << 8 | P << 16) & (zone << 8) : (P | P >> 8 | P >> 16) & (zone >> 8);
    int s = popCount(shield);
    if (s < 9) {
      score += scaledTerm(info, c, kPawnShield, static_cast<float>(s - 9) * 0.111f);
    } else {
      s = 8;
    }
    const Bitboard safe = ~((info.attacks[c][0] & ~info.doubleAttacks[e]) | info.doubleAttacks[c] |
                            info.rookAndBelow[c] | pos.pieces[e][0]);
    const Bitboard Kb = bishopAttacks(k, occ), Kr = rookAttacks(k, occ);
    const Bitboard SB = safe & Kb, SR = safe & Kr;
    const Bitboard SN = safe & info.attacks[e][kKnight] & knightAttacks[k];
    const Bitboard* ea = info.attacks[e];
    int checks = popCount((SB & ea[kBishop]) | (SR & ea[kRook]) | SN) + ((SB & ea[kQueen]) ? 1 : 0) +
                 ((SR & ea[kQueen]) ? 1 : 0);
    const Bitboard U = zone & ~info.minorAttacks[c];
    int a = popCount(zone & ea[kPawn] & ~info.attacks[c][kPawn]);
    int b = popCount(SN | (ea[kKnight] & U));
    int cb = popCount(ea[kBishop] & (U | SB));
    int d = popCount(ea[kRook] & ((zone & ~info.rookAndBelow[c]) | SR));
    int q = popCount(ea[kQueen] & ((safe & (Kb | Kr)) | (zone & ~info.queenAndBelow[c])));
    int qv = q >= 3 ? 15 : 5 * q;
    int danger = 3 * cb + 2 * (a + 2 * b) + 4 * d + qv + 2 * checks + (info.kingUnits[c] - s);
    if (checks > 0) score += term(info, c, kEnemyChecks, checks);
    if (safe & ea[kQueen] & kingAttacks[k] & (Kb | Kr)) info.threat[c] += 800;
    if (danger > 1) {
      float x = static_cast<float>(std::min(danger, 39));
      float f = x * x * 0.0018f * (1.0f - 0.006f * x);
      score += scaledTerm(info, c, pos.pieces[e][kQueen] ? kKingDanger1 : kKingDanger2, f);
    }
  }

  if (!(kingAttacks[k] & ~(info.attacks[e][0] | pos.pieces[c][0]))) score += term(info, c, kKingTrapped);

  const Bitboard ahead = info.spans[0] | info.spans[1];
  if (pos.pieces[0][kPawn] | pos.pieces[1][kPawn]) {
    Bitboard reach = bit(k) | kingAttacks[k];
    int n = 0;
    while (!(reach & ahead) && n < 7) {
      Bitboard grown = reach;
      for (Bitboard b = reach; b;) grown |= kingAttacks[popLowest(b)];
      reach = grown;
      ++n;
    }
    if (n > 0) score += scaledTerm(info, c, kKingPawnDist, kPawnDistanceScale[n]);
  }
}

void knights(const Position& pos, EvalInfo& info) {
  const auto& ps = pos.pieces;
  for (int c = 0; c < 2; ++c) {
    const Bitboard notMobile = info.attacks[c ^ 1][kPawn] | ps[c][0];
    for (Bitboard b = ps[c][kKnight]; b;) {
      const int sq = popLowest(b);
      const Bitboard a = knightAttacks[sq];
      recordAttacks(info, c, kKnight, a, 4);
      info.score[c] += term(info, c, kMtlKnight) + term(info, c, pst(info, kPstN1, kPstN2, c, sq));
      info.score[c] += term(info, c, kKnightMobility + popCount(a & ~notMobile));
      outpost(pos, info, c, sq, a, kKnightOutpost, kKnightOutpostAtk);
    }
  }
  closeTraceGroup(info, kTraceKnights);
}

// Own pawns fixed on the colour of the own bishops.
void bishopRamPawns(const Position& pos, EvalInfo& info) {
  const auto& ps = pos.pieces;
  constexpr Bitboard kRamZone = ~(kFileA | kFileH) & 0x00FFFFFFFFFFFF00ull;
  const Bitboard rammed = ps[0][kPawn] & (ps[1][kPawn] >> 8) & kRamZone;
  if (!rammed) return;
  for (int c = 0; c < 2; ++c) {
    const Bitboard R = c == kWhite ? rammed : rammed << 8;
    const Bitboard bishops = ps[c][kBishop];
    if (!bishops) continue;
    const int n = ((bishops & kLightSquares) ? popCount(R & kLightSquares) : 0) +
                  ((bishops & kDarkSquares) ? popCount(R & kDarkSquares) : 0);
    info.score[c] += term(info, c, kBishopRampawns, n);
  }
}

void bishops(const Position& pos, EvalInfo& info) {
  const auto& ps = pos.pieces;
  const Bitboard diagonalSliders = ps[0][kBishop] | ps[0][kQueen] | ps[1][kBishop] | ps[1][kQueen];
  for (int c = 0; c < 2; ++c) {
    const Bitboard notMobile = info.attacks[c ^ 1][kPawn] | ps[c][0];
    for (Bitboard b = ps[c][kBishop]; b;) {
      const int sq = popLowest(b);
      const Bitboard a = bishopAttacks(sq, info.occupied & ~diagonalSliders);
      recordAttacks(info, c, kBishop, a, 3);
      info.score[c] += term(info, c, kMtlBishop) + term(info, c, pst(info, kPstB1, kPstB2, c, sq));
      info.score[c] += term(info, c, kBishopMobility + std::min(11, popCount(a & ~notMobile)));
      info.score[c] += term(info, c, kBishopMob2, popCount(a & kCentralBlock));
      outpost(pos, info, c, sq, a, kBishopOutpost, kBishopOutpostAtk);
    }
  }
  for (int c = 0; c < 2; ++c)
    if ((ps[c][kBishop] & kLightSquares) && (ps[c][kBishop] & kDarkSquares)) info.score[c] += term(info, c, kBishopPair);
  bishopRamPawns(pos, info);
  for (int c = 0; c < 2; ++c)
    info.minorAttacks[c] = info.attacks[c][kPawn] | info.attacks[c][kKnight] | info.attacks[c][kBishop];
  closeTraceGroup(info, kTraceBishops);
}

void rooks(const Position& pos, EvalInfo& info) {
  const auto& ps = pos.pieces;
  const Bitboard orthogonalSliders = ps[0][kRook] | ps[0][kQueen] | ps[1][kRook] | ps[1][kQueen];
  const Bitboard allPawns = ps[0][kPawn] | ps[1][kPawn];
  for (int c = 0; c < 2; ++c) {
    const int e = c ^ 1;
    const Bitboard notMobile = info.minorAttacks[e] | ps[c][0];
    const Bitboard enemyHalf = c == kWhite ? 0xFFFFFFFF00000000ull : 0x00000000FFFFFFFFull;
    const int seventh = c == kWhite ? 6 : 1, enemyFirst = c == kWhite ? 7 : 0;
    for (Bitboard b = ps[c][kRook]; b;) {
      const int sq = popLowest(b);
      const Bitboard a = rookAttacks(sq, info.occupied & ~orthogonalSliders);
      recordAttacks(info, c, kRook, a, 4);
      info.score[c] += term(info, c, kMtlRook) + term(info, c, pst(info, kPstR1, kPstR2, c, sq));
      info.score[c] += term(info, c, kRookMobility + std::min(11, popCount(a & ~notMobile)));
      info.score[c] += term(info, c, kRookMob2, popCount(a & fileMask(sq) & enemyHalf));
      if (!(allPawns & fileMask(sq))) info.score[c] += term(info, c, kRookOpenfile);
      const int enemyKingRank = pos.kingSquare[e] >> 3;
      if ((sq >> 3) == seventh && (enemyKingRank == seventh || enemyKingRank == enemyFirst))
        info.score[c] += term(info, c, kRook7th);
    }
  }
  for (int c = 0; c < 2; ++c) info.rookAndBelow[c] = info.minorAttacks[c] | info.attacks[c][kRook];
  closeTraceGroup(info, kTraceRooks);
}

void queens(const Position& pos, EvalInfo& info) {
  const auto& ps = pos.pieces;
  const Bitboard occ = info.occupied;
  for (int c = 0; c < 2; ++c) {
    const int e = c ^ 1;
    const Bitboard notMobile = info.rookAndBelow[e] | ps[c][0];
    for (Bitboard b = ps[c][kQueen]; b;) {
      const int sq = popLowest(b);
      const Bitboard B = bishopAttacks(sq, occ), R = rookAttacks(sq, occ), Q = B | R;
      // Batteries: the queen also reaches through own bishops and rooks.
      Bitboard X = Q;
      if (B & ps[c][kBishop]) X |= bishopAttacks(sq, occ & ~ps[c][kBishop]);
      if (R & ps[c][kRook]) X |= rookAttacks(sq, occ & ~ps[c][kRook]);
      info.doubleAttacks[c] |= X & info.attacks[c][0];
      info.attacks[c][0] |= Q;
      info.attacks[c][kQueen] |= Q;
      if (X & info.kingZone[e]) info.kingUnits[e] += 5;
      info.score[c] += term(info, c, kMtlQueen) + term(info, c, pst(info, kPstQ1, kPstQ2, c, sq));
      info.score[c] += term(info, c, kQueenMobility + std::min(17, popCount(Q & ~notMobile)));
    }
  }
  for (int c = 0; c < 2; ++c) info.queenAndBelow[c] = info.rookAndBelow[c] | info.attacks[c][kQueen];
  closeTraceGroup(info, kTraceQueens);
}

}  // namespace

// Each piece type in turn: later types' mobility excludes squares the
// enemy's lesser pieces attack, so the order is part of the terms.
void evaluatePieces(const Position& pos, EvalInfo& info) {
  knights(pos, info);
  bishops(pos, info);
  rooks(pos, info);
  queens(pos, info);
  kingTerms(pos, info, kWhite);
  kingTerms(pos, info, kBlack);
  closeTraceGroup(info, kTraceKing);
}

}  // namespace eval
