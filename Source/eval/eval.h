// Evaluation: the hand-crafted evaluation with its caches, the endgame
// tables, and the network evaluation.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "board/board.h"
#include "eval/params.h"
#include "platform/platform.h"


namespace eval {

using board::Bitboard;

constexpr int kInCheckScore = -10001;
constexpr int kStaticLimit = 9700;  // static scores stay clear of mate and tablebase bands

struct PawnCacheEntry {
  uint64_t key;
  Packed score[2];
};

struct EvalCacheEntry {
  uint64_t key;
  int16_t threat[2];
  int16_t score;
};

constexpr int kPawnCacheSize = 16384;
constexpr int kEvalCacheSize = 32768;

// Trace groups, in evaluation and print order.
enum TraceGroup { kTracePawns, kTraceKnights, kTraceBishops, kTraceRooks, kTraceQueens, kTraceKing,
                  kTracePassed, kTraceThreats, kTraceSpecial, kTraceGroups };

// Scratch record of one full evaluation.
struct EvalInfo {
  Bitboard attacks[2][7];  // [colour][0] all, [1..6] by piece type
  Bitboard doubleAttacks[2];
  Bitboard minorAttacks[2];
  Bitboard rookAndBelow[2];
  Bitboard queenAndBelow[2];
  Bitboard kingZone[2];
  Bitboard outposts[2];
  Bitboard spans[2];  // squares ahead of each pawn on its file
  int kingUnits[2];
  int transform[2];
  Packed score[2];
  int threat[2];
  Bitboard occupied;
  Bitboard passed;
  Bitboard candidates;
  Bitboard freePassers;
  Bitboard hung;
  int pstSet;  // 0: kings on the same wing, 1: opposite wings
  float endgameWeight;
  int trace;
  float* coefficients;  // when set: each weight's multiplier, white minus black (the tuner)
  Packed traceTotal[2];
  Packed traceDelta[kTraceGroups][2];
};

struct EvalCounters {
  platform::RelaxedCounter evaluations;
  platform::RelaxedCounter cacheHits;
  platform::RelaxedCounter pawnProbes;
  platform::RelaxedCounter pawnHits;
};

struct NetworkState;

// Per-thread evaluation working area.
struct EvalState {
  std::array<PawnCacheEntry, kPawnCacheSize> pawnCache{};
  std::array<EvalCacheEntry, kEvalCacheSize> evalCache{};
  EvalInfo info{};
  EvalCounters counters;
  int contempt = 0;      // effective contempt of the running search, 0 when off
  int rootSide = 0;      // side to move at the root of the running search
  bool useCaches = true; // off to check that the caches change nothing
  // When set (kParamCount entries, zeroed by the caller), a full evaluation
  // adds each weight's multiplier into it, white minus black; the caches are
  // bypassed so that every term is seen.
  float* coefficients = nullptr;
  std::unique_ptr<NetworkState> network;
  EvalState();
  ~EvalState();
  void clearCaches();
};

// King-and-pawn-versus-king results: 2 win for the pawn's side, 1 otherwise.
extern std::array<uint8_t, 2 * 32 * 64 * 64> kpk_table;
void initKpk();
int kpkIndex(int mover, int pawn, int strongKing, int weakKing);

// Static score for the side to move; -10001 when in check. threatOut (two
// values, white then black) receives the threat info when the evaluation
// produces it. trace > 0 prints the breakdown (2 adds the weights).
int evaluate(const board::Position& pos, EvalState& st, int ply, bool inCheck, int trace,
             int16_t* threatOut = nullptr);

// Which evaluation judges positions: written at start-up and by the options,
// only while no search runs.
enum EvalMode : int { kHandCrafted = 0, kNetwork = 1, kTrainingData = 2, kEpdDump = 3 };
extern int eval_mode;

// The one entry point for "evaluate this position": the network when
// eval_mode says so (noise adds its small jitter), else the hand-crafted
// evaluation. -10001 when in check.
int evaluatePosition(const board::Position& pos, EvalState& st, int ply, bool inCheck, bool noise = false,
                     int16_t* threatOut = nullptr);

// What contempt adds for the root side (both evaluations): more the more
// material the side avoiding the draw still has.
int contemptBonus(const board::Position& pos, const EvalState& st);

// The exact endings the evaluation answers without its terms (score for
// the side to move), and the drawish-ending factor for a white-view score.
bool exactEndingScore(const board::Position& pos, int& score);
float drawishScale(const board::Position& pos, int whiteScore);

// Blended display of a packed pair at endgame weight w.
int blend(Packed v, float w);

// The piece and king terms, the passed pawns and the threats: the groups of
// evaluate, in this order.
void evaluatePieces(const board::Position& pos, EvalInfo& info);
void evaluatePassedPawns(const board::Position& pos, EvalInfo& info);
void evaluateThreats(const board::Position& pos, EvalInfo& info);
void closeTraceGroup(EvalInfo& info, TraceGroup group);
void printTrace(const board::Position& pos, const EvalInfo& info, float scale);

// Helpers shared by the evaluation files.
inline Packed scaledParam(int index, float k) {
  return pack(static_cast<int>(k * evalParams[index].mg), static_cast<int>(k * evalParams[index].eg));
}
// Every weight enters a colour's score through these two, so that the
// evaluation is recorded as a sum of multiplier x weight when asked.
inline void noteWeight(EvalInfo& info, int c, int index, float k) {
  if (info.coefficients) info.coefficients[index] += c == 0 ? k : -k;
}
// n times a weight, for colour c.
inline Packed term(EvalInfo& info, int c, int index, int n = 1) {
  noteWeight(info, c, index, static_cast<float>(n));
  return n * param(index);
}
// A weight times a fraction, each half truncated.
inline Packed scaledTerm(EvalInfo& info, int c, int index, float k) {
  noteWeight(info, c, index, k);
  return scaledParam(index, k);
}
inline int chebyshev(int a, int b) {
  int df = (a & 7) - (b & 7), dr = (a >> 3) - (b >> 3);
  df = df < 0 ? -df : df;
  dr = dr < 0 ? -dr : dr;
  return df > dr ? df : dr;
}
constexpr Bitboard kLightSquares = 0x55aa55aa55aa55aaull;
constexpr Bitboard kDarkSquares = 0xaa55aa55aa55aa55ull;
using board::kFileA;
using board::kFileH;
inline Bitboard fileMask(int sq) { return kFileA << (sq & 7); }
inline Bitboard rankMask(int rank) { return 0xFFull << (8 * rank); }
inline Bitboard pawnAttackSet(Bitboard pawns, int colour) {
  return colour == 0 ? ((pawns & ~kFileA) << 7) | ((pawns & ~kFileH) << 9)
                     : ((pawns & ~kFileA) >> 9) | ((pawns & ~kFileH) >> 7);
}
// Squares strictly ahead of each given pawn on its file.
inline Bitboard frontSpan(Bitboard b, int colour) {
  if (colour == 0) {
    b <<= 8;
    b |= b << 8;
    b |= b << 16;
    b |= b << 32;
  } else {
    b >>= 8;
    b |= b >> 8;
    b |= b >> 16;
    b |= b >> 32;
  }
  return b;
}
using board::sideways;

}  // namespace eval
