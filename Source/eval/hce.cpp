// Hand-crafted evaluation: entry, caches, exact endings, pawn structure,
// blend, contempt and the drawish-ending scale factor.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "board/attacks.h"
#include "eval/eval.h"
#include "eval/nn.h"

namespace eval {

using namespace board;

EvalState::EvalState() = default;
EvalState::~EvalState() = default;

void EvalState::clearCaches() {
  pawnCache.fill(PawnCacheEntry{});
  evalCache.fill(EvalCacheEntry{});
}

int blend(Packed v, float w) {
  return static_cast<int>(static_cast<float>(egOf(v)) * w + static_cast<float>(mgOf(v)) * (1.0f - w));
}

namespace {

constexpr int kClampZone[8] = {1, 1, 2, 3, 4, 5, 6, 6};

// KBNK: distance of the weak king from the mating corners of a dark bishop.
constexpr int kCorner[64] = {
    9, 8, 7, 6, 5, 4, 3, 2, 8, 7, 6, 5, 4, 3, 2, 3, 7, 6, 4, 3, 2, 1, 3, 4, 6, 5, 3, 1, 0, 2, 4, 5,
    5, 4, 2, 0, 1, 3, 5, 6, 4, 3, 1, 2, 3, 4, 6, 7, 3, 2, 3, 4, 5, 6, 7, 8, 2, 3, 4, 5, 6, 7, 8, 9};
constexpr int kEdge[64] = {
    60, 50, 40, 30, 30, 40, 50, 60, 50, 40, 30, 20, 20, 30, 40, 50, 40, 30, 20, 10, 10, 20, 30, 40,
    30, 20, 10, 0,  0,  10, 20, 30, 30, 20, 10, 0,  0,  10, 20, 30, 40, 30, 20, 10, 10, 20, 30, 40,
    50, 40, 30, 20, 20, 30, 40, 50, 60, 50, 40, 30, 30, 40, 50, 60};

int centreRing(int sq) {
  int f = sq & 7, r = sq >> 3;
  int d = std::min(std::min(f, 7 - f), std::min(r, 7 - r));
  return std::min(d, 2);
}

int pawns(int32_t sig) { return sig & 15; }

// Exact results for a few endings; returns true and the score when one applies.
bool exactEnding(const Position& pos, int& score) {
  const int32_t sW = pos.materialSignature[0], sB = pos.materialSignature[1];
  const int stm = pos.sideToMove;
  auto fewMinors = [](int32_t s) { return s < 0x110 && ((s >> 4) & 15) <= 2; };
  if (!pawns(sW) && !pawns(sB) && fewMinors(sW) && fewMinors(sB)) {
    score = 0;
    return true;
  }
  for (int strong = 0; strong < 2; ++strong) {
    const int weak = strong ^ 1;
    const int32_t sS = pos.materialSignature[strong], sWk = pos.materialSignature[weak];
    if (sWk != 0) continue;
    if (sS == 1) {
      // KPK, seen with the pawn moving up on files a-d.
      int p = bitScanForward(pos.pieces[strong][kPawn]);
      int ks = pos.kingSquare[strong], kw = pos.kingSquare[weak];
      int mover = stm == strong ? 0 : 1;
      if (strong == kBlack) {
        p = 63 - p;
        ks = 63 - ks;
        kw = 63 - kw;
      }
      if ((p & 7) > 3) {
        p ^= 7;
        ks ^= 7;
        kw ^= 7;
      }
      int promo = 56 + (p & 7);
      int s = chebyshev(kw, promo) + 4 * (p >> 3) - chebyshev(ks, promo);
      if (kpk_table[kpkIndex(mover, p, ks, kw)] == 2) s += 800;
      score = stm == strong ? s : -s;
      return true;
    }
    if (sS == 0x110) {
      int w = pos.kingSquare[weak];
      Bitboard bishop = pos.pieces[strong][kBishop];
      if (bishop & kLightSquares) w ^= 7;
      int s = 700 + 10 * kCorner[w] + 8 * centreRing(pos.kingSquare[strong]) -
              6 * chebyshev(pos.kingSquare[0], pos.kingSquare[1]);
      score = stm == strong ? s : -s;
      return true;
    }
    if (sS & 0xFF000) {
      int side[2] = {100 * pos.pieceMaterial[0], 100 * pos.pieceMaterial[1]};
      side[strong] += 200 + 2 * (kEdge[pos.kingSquare[weak]] - 8 * chebyshev(pos.kingSquare[0], pos.kingSquare[1]));
      int s = side[0] - side[1];
      score = stm == kWhite ? s : -s;
      return true;
    }
  }
  return false;
}

// Per-colour pawn structure (cached by pawn key and king wings).
Packed pawnStructure(const Position& pos, EvalInfo& info, int c) {
  const Bitboard own = pos.pieces[c][kPawn];
  const Bitboard ownAttacks = info.attacks[c][kPawn];
  const int pstBase = info.pstSet ? kPstP2 : kPstP1;
  Packed score = 0;
  for (Bitboard b = own; b;) {
    int sq = popLowest(b);
    int t = sq ^ info.transform[c];
    score += term(info, c, kMtlPawn) + term(info, c, pstBase + t);
    if (ownAttacks & bit(sq)) score += term(info, c, kPstDP + t);
    if (ownAttacks & bit(sq + kForward[c])) score += term(info, c, kPstCP + t);
  }
  int isolated = 0, weak = 0, doubled = 0;
  for (Bitboard b = own; b;) {
    int sq = popLowest(b);
    Bitboard adjacentFiles = sideways(fileMask(sq));
    if (!(own & adjacentFiles)) {
      ++isolated;
    } else {
      // Own pawns beside it or behind it on the adjacent files.
      Bitboard supportZone = adjacentFiles & (rankMask(sq >> 3) | frontSpan(rankMask(sq >> 3), c ^ 1));
      if (!(own & supportZone)) ++weak;
    }
    if (own & frontSpan(bit(sq), c ^ 1)) ++doubled;
  }
  return score + term(info, c, kPawnIsolated, isolated) + term(info, c, kPawnWeak, weak) +
         term(info, c, kPawnDoubled, doubled);
}

float scaleFactor(const Position& pos, int S) {
  const int npW = pos.pieceMaterial[0], npB = pos.pieceMaterial[1];
  const int32_t sW = pos.materialSignature[0], sB = pos.materialSignature[1];
  const int pW = pawns(sW), pB = pawns(sB);
  if (npW > 10 || npB > 10 || std::abs(npW - npB) > 3) return 1.0f;
  if (S > 0 && pW == 0) return (sW == 0x200 && sB == 0x10) ? 0.75f : 0.1f + 0.007f * npW;
  if (S < 0 && pB == 0) return (sB == 0x200 && sW == 0x10) ? 0.75f : 0.1f + 0.007f * npB;
  if (S == 0) return 1.0f;

  const int strong = S > 0 ? kWhite : kBlack, weak = strong ^ 1;
  const int32_t sS = pos.materialSignature[strong], sWk = pos.materialSignature[weak];
  const Bitboard strongPawns = pos.pieces[strong][kPawn];
  const int weakKing = pos.kingSquare[weak];
  if (!(sS & 0xff0f0) && strongPawns) {
    for (int file : {0, 7}) {
      if (strongPawns & ~fileMask(file)) continue;
      int promo = strong == kWhite ? 56 + file : file;
      Bitboard promoColour = (kLightSquares & bit(promo)) ? kLightSquares : kDarkSquares;
      if (chebyshev(weakKing, promo) <= 1 && !(pos.pieces[strong][kBishop] & promoColour)) return 0.05f;
    }
  }
  float f = 1.0f;
  const int pS = pawns(sS), pWk = pawns(sWk);
  const int npS = pos.pieceMaterial[strong], npWk = pos.pieceMaterial[weak];
  if (npW == npB && (sW & 0xf00) == 0x100 && (sB & 0xf00) == 0x100 && std::abs(pW - pB) <= 2) {
    bool whiteLight = pos.pieces[0][kBishop] & kLightSquares, blackLight = pos.pieces[1][kBishop] & kLightSquares;
    if (whiteLight != blackLight) f = (sS & 0xFF000) ? 0.9f : 0.6f;
  }
  if ((pS == 1 || pS == 2) && npS + pS <= npWk + pWk + 1 && npWk > 0) {
    bool weakMinor = (sWk & 0xFF0) != 0;
    f *= pS == 1 ? (weakMinor ? 0.6f : 0.8f) : (weakMinor ? 0.8f : 0.9f);
    // Every strong pawn held by the weak king from in front.
    Bitboard files = fileMask(weakKing) | sideways(fileMask(weakKing));
    Bitboard ranks = 0;
    for (int r = 0; r < 8; ++r)
      if (strong == kWhite ? r <= (weakKing >> 3) : r >= (weakKing >> 3)) ranks |= rankMask(r);
    if (!(strongPawns & ~(files & ranks))) f *= 0.75f;
  }
  const auto& ps = pos.pieces;
  int strongPieces = popCount(ps[strong][0] & ~ps[strong][kPawn] & ~ps[strong][kKing]);
  int weakPieces = popCount(ps[weak][0] & ~ps[weak][kPawn] & ~ps[weak][kKing]);
  if (strongPieces == 1 && weakPieces > 1) f *= 0.8f;
  return f;
}

}  // namespace

bool exactEndingScore(const Position& pos, int& score) { return exactEnding(pos, score); }
float drawishScale(const Position& pos, int whiteScore) { return scaleFactor(pos, whiteScore); }

void closeTraceGroup(EvalInfo& info, TraceGroup group) {
  if (!info.trace) return;
  for (int c = 0; c < 2; ++c) {
    info.traceDelta[group][c] = info.score[c] - info.traceTotal[c];
    info.traceTotal[c] = info.score[c];
  }
}

int eval_mode = kNetwork;

int evaluatePosition(const Position& pos, EvalState& st, int ply, bool inCheck, bool noise, int16_t* threatOut) {
  if (eval_mode != kHandCrafted) return nn_evaluate(pos, st, inCheck, noise);
  return evaluate(pos, st, ply, inCheck, 0, threatOut);
}

namespace {

// Pawn keys get the kings' wings folded in (the piece-square set depends on them).
constexpr uint64_t kWhiteQueenSideSalt = 0x6c43eb52aull, kBlackQueenSideSalt = 0x3e2571cb4ull;

bool onQueenSide(int kingSquare) { return (kingSquare & 7) <= 3; }

void copyThreats(const int16_t* from, int16_t* to) {
  if (!to) return;
  to[0] = from[0];
  to[1] = from[1];
}

// King zones, piece-square orientation, pawn attacks and the pawn-derived
// sets every later term reads.
void setUpInfo(const Position& pos, EvalInfo& info, int trace, float* coefficients) {
  info = EvalInfo{};
  info.trace = trace;
  info.coefficients = coefficients;
  const Bitboard occ = occupied(pos);
  info.occupied = occ;
  info.endgameWeight = 1.0f - std::min(1.0f, 0.017f * static_cast<float>(pos.pieceMaterial[0] + pos.pieceMaterial[1]));
  for (int c = 0; c < 2; ++c) {
    const int k = pos.kingSquare[c];
    const int centre = kClampZone[k >> 3] * 8 + kClampZone[k & 7];
    info.kingZone[c] = kingAttacks[centre] | bit(centre);
    info.transform[c] = (c == kWhite ? 0 : 56) + (onQueenSide(k) ? 7 : 0);
  }
  info.pstSet = onQueenSide(pos.kingSquare[0]) == onQueenSide(pos.kingSquare[1]) ? 0 : 1;
  for (int c = 0; c < 2; ++c) {
    const Bitboard p = pos.pieces[c][kPawn];
    const Bitboard left = c == kWhite ? (p & ~kFileA) << 7 : (p & ~kFileA) >> 9;
    const Bitboard right = c == kWhite ? (p & ~kFileH) << 9 : (p & ~kFileH) >> 7;
    const Bitboard kingA = kingAttacks[pos.kingSquare[c]];
    info.attacks[c][kPawn] = left | right;
    info.attacks[c][kKing] = kingA;
    info.attacks[c][0] = left | right | kingA;
    info.doubleAttacks[c] = (left & right) | ((left | right) & kingA);
    info.spans[c] = frontSpan(p, c);
  }
  const Bitboard wp = pos.pieces[0][kPawn], bp = pos.pieces[1][kPawn];
  const Bitboard adjW = sideways(info.spans[0]), adjB = sideways(info.spans[1]);
  constexpr Bitboard kFilesBG = ~(kFileA | kFileH);
  info.outposts[0] = kFilesBG & (rankMask(3) | rankMask(4) | rankMask(5)) & ~adjB;
  info.outposts[1] = kFilesBG & (rankMask(2) | rankMask(3) | rankMask(4)) & ~adjW;
  info.passed = (wp & ~(info.spans[1] | adjB)) | (bp & ~(info.spans[0] | adjW));
  info.candidates = ((wp & ~info.spans[1]) | (bp & ~info.spans[0])) & ~info.passed;
  info.kingUnits[0] = 2 * popCount(bp & (info.kingZone[0] << 8));
  info.kingUnits[1] = 2 * popCount(wp & (info.kingZone[1] >> 8));
}

// Pawn structure from the pawn cache or computed (and stored), then the blocked pawns.
void pawnTerms(const Position& pos, EvalState& st, EvalInfo& info, bool cacheAllowed) {
  const uint64_t pawnKey = pos.pawnKey ^ (onQueenSide(pos.kingSquare[0]) ? kWhiteQueenSideSalt : 0) ^
                           (onQueenSide(pos.kingSquare[1]) ? kBlackQueenSideSalt : 0);
  PawnCacheEntry& pe = st.pawnCache[pawnKey & (kPawnCacheSize - 1)];
  ++st.counters.pawnProbes;
  if (cacheAllowed && pe.key == pawnKey) {
    ++st.counters.pawnHits;
    info.score[0] = pe.score[0];
    info.score[1] = pe.score[1];
  } else {
    info.score[0] = pawnStructure(pos, info, 0);
    info.score[1] = pawnStructure(pos, info, 1);
    pe.key = pawnKey;
    pe.score[0] = info.score[0];
    pe.score[1] = info.score[1];
  }
  const Bitboard occ = info.occupied;
  info.score[0] += term(info, 0, kPawnBlocked, popCount(pos.pieces[0][kPawn] & (occ >> 8)));
  info.score[1] += term(info, 1, kPawnBlocked, popCount(pos.pieces[1][kPawn] & (occ << 8)));
  closeTraceGroup(info, kTracePawns);
}

// The white-relative sum blended by game phase.
int blendedScore(const EvalInfo& info) {
  const Packed D = info.score[0] - info.score[1];
  const float w = info.endgameWeight;
  return static_cast<int>(static_cast<double>(1.0f - w) * mgOf(D) + static_cast<double>(w * static_cast<float>(egOf(D))));
}

}  // namespace

int contemptBonus(const Position& pos, const EvalState& st) {
  if (!st.contempt) return 0;
  const int r = st.rootSide;
  // Measured on the side that avoids the draw: its pieces and pawns left.
  const int m = st.contempt > 0 ? r : r ^ 1;
  const int n = std::max(0, pos.pieceMaterial[m] - 3) + 2 * std::min(6, pawns(pos.materialSignature[m]));
  return n * st.contempt / 41;
}

int evaluate(const Position& pos, EvalState& st, int ply, bool inCheck, int trace, int16_t* threatOut) {
  ++st.counters.evaluations;
  if (inCheck) return kInCheckScore;
  int exact;
  if (exactEnding(pos, exact)) return std::clamp(exact, -kStaticLimit, kStaticLimit);

  const bool cacheAllowed = ply > 1 && st.useCaches && !trace && !st.coefficients;
  EvalCacheEntry& slot = st.evalCache[pos.key & (kEvalCacheSize - 1)];
  if (cacheAllowed && slot.key == pos.key) {
    ++st.counters.cacheHits;
    copyThreats(slot.threat, threatOut);
    return slot.score;
  }

  EvalInfo& info = st.info;
  setUpInfo(pos, info, trace, st.coefficients);
  pawnTerms(pos, st, info, cacheAllowed);
  evaluatePieces(pos, info);
  evaluatePassedPawns(pos, info);
  evaluateThreats(pos, info);

  int S = blendedScore(info);
  const int contempt = contemptBonus(pos, st);
  S += st.rootSide == kWhite ? contempt : -contempt;
  const float f = scaleFactor(pos, S);
  int result = static_cast<int>(S * static_cast<double>(f));
  if (pos.sideToMove == kBlack) result = -result;
  result = std::clamp(result, -kStaticLimit, kStaticLimit);

  slot.key = pos.key;
  slot.threat[0] = static_cast<int16_t>(std::clamp(info.threat[0], -32768, 32767));
  slot.threat[1] = static_cast<int16_t>(std::clamp(info.threat[1], -32768, 32767));
  slot.score = static_cast<int16_t>(result);
  copyThreats(slot.threat, threatOut);
  if (trace) printTrace(pos, info, f);
  return result;
}

}  // namespace eval
