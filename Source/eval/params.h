// The named weight table of the hand-crafted evaluation.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace eval {

// A packed pair holds mg in the low 16 bits and eg above: mg + eg * 65536.
using Packed = int32_t;

constexpr Packed pack(int mg, int eg) {
  return static_cast<Packed>(static_cast<uint32_t>(mg) + static_cast<uint32_t>(eg) * 65536u);
}
constexpr int mgOf(Packed p) { return static_cast<int16_t>(static_cast<uint16_t>(p)); }
constexpr int egOf(Packed p) { return static_cast<int32_t>(static_cast<uint32_t>(p) + 32768u) >> 16; }

struct EvalParam {
  Packed packed;
  float mg;
  float eg;
  char name[24];
};

constexpr int kParamCount = 998;

// Index of the first element of each parameter, in table order. The params
// file relies on this order.
enum ParamIndex : int {
  kMtlPawn = 0, kMtlKnight, kMtlBishop, kMtlRook, kMtlQueen, kBishopPair,
  kPawnIsolated, kPawnWeak, kPawnBlocked, kPawnDoubled,
  kPpawnBase = 10, kPpawnMobile = 16, kPpawnFree = 22, kPpawnFkdist = 28, kPpawnEkdist = 36,
  kPpawnConnected = 44, kCandidatePasser = 50,
  kKnightMobility = 56, kKnightTrapped = 65, kKnightOutpost, kKnightOutpostAtk,
  kBishopMobility = 68, kBishopMob2 = 80, kBishopTrapped, kBishopOutpost, kBishopOutpostAtk,
  kRookMobility = 84, kRookMob2 = 96, kRookTrapped, kRookOpenfile, kRook7th,
  kQueenMobility = 100, kQueenTrapped = 118,
  kPawnShield, kEnemyChecks, kKingDanger1, kKingDanger2, kKingTrapped, kKingPawnDist,
  kHungPawn, kAttackedPawn, kHungMinor, kAttackedMinor, kHungMajor, kPpushThreat, kPinnedPiece,
  kBishopRampawns, kStmBonus,
  kTtune = 134,
  kPstP1 = 166, kPstCP = 230, kPstDP = 294, kPstN1 = 358, kPstB1 = 422, kPstR1 = 486, kPstQ1 = 550,
  kPstK = 614, kPstP2 = 678, kPstN2 = 742, kPstB2 = 806, kPstR2 = 870, kPstQ2 = 934,
};
static_assert(kStmBonus == 133 && kPstQ2 + 64 == kParamCount);

extern std::array<EvalParam, kParamCount> evalParams;

inline Packed param(int index) { return evalParams[index].packed; }

// Personality percentage pairs (mg %, eg %), in group order: pawn, knight,
// bishop, rook and queen material; knight, bishop, rook, queen pieces; pawn
// structure; passed pawns; king safety; threats.
using Personality = std::array<std::array<int16_t, 2>, 13>;

// Builds the table: defaults, then "params.txt" from the working directory
// (when present), then the personality scaling.
void init_eval_params(const Personality& personality, const char* paramsFile = "params.txt");
void register_param(const char* name, int mg, int eg);
void fset(const char* name, int mg, int eg);
// Reads a params file; returns the number of lines reported as bad.
int read_params_file(const char* path);
bool scale_params(const char* pattern, int mgPercent, int egPercent);
// Writes the table in the form read_params_file reads back ("fset" lines).
bool writeParamsFile(const char* path);

}  // namespace eval
