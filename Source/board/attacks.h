// Attack tables, bit operations and slider attacks.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#if defined(__BMI2__)
#include <immintrin.h>
#endif

#include "board/board.h"

namespace board {

#if defined(__BMI2__)
inline constexpr bool kUsePext = true;
#else
inline constexpr bool kUsePext = false;
#endif

// Opposite directions are paired (d ^ 1); the first four are orthogonal.
enum Direction { kNorth, kSouth, kEast, kWest, kNorthEast, kSouthWest, kNorthWest, kSouthEast };

struct AttackTables {
  std::array<Bitboard, 64> knightAttacks;
  std::array<Bitboard, 64> kingAttacks;
  std::array<std::array<Bitboard, 64>, 2> pawnAttacks;
  std::array<std::array<Bitboard, 64>, 8> rays;
  std::array<Bitboard, 64> rookEmptyAttacks;
  std::array<Bitboard, 64> bishopEmptyAttacks;
  std::array<std::array<Bitboard, 64>, 64> between;
  std::array<std::array<Bitboard, 64>, 64> line;  // whole line through a and b, else 0
  // Indexed slider tables (PEXT index, or rays when BMI2 is absent).
  std::array<Bitboard, 64> rookMask;
  std::array<Bitboard, 64> bishopMask;
  std::array<uint32_t, 64> rookOffset;
  std::array<uint32_t, 64> bishopOffset;
};

extern AttackTables attackTables;
extern std::array<Bitboard, 102400> rookTable;
extern std::array<Bitboard, 5248> bishopTable;

inline const auto& knightAttacks = attackTables.knightAttacks;
inline const auto& kingAttacks = attackTables.kingAttacks;
inline const auto& pawnAttacks = attackTables.pawnAttacks;
inline const auto& rays = attackTables.rays;
inline const auto& rookEmptyAttacks = attackTables.rookEmptyAttacks;
inline const auto& bishopEmptyAttacks = attackTables.bishopEmptyAttacks;
inline const auto& between = attackTables.between;
inline const auto& lineThrough = attackTables.line;

inline int bitScanForward(Bitboard x) { return std::countr_zero(x); }
inline int bitScanReverse(Bitboard x) { return 63 - std::countl_zero(x); }
inline int popCount(Bitboard x) { return std::popcount(x); }
inline int popLowest(Bitboard& x) {
  int s = std::countr_zero(x);
  x &= x - 1;
  return s;
}

// Ray-and-blocker slider attacks: the nearest blocker in each direction cuts
// the ray behind it. Sentinels h8 / a1 have empty rays in the scanned direction.
inline Bitboard rayRookAttacks(int s, Bitboard occ) {
  Bitboard a = rookEmptyAttacks[s];
  a ^= rays[kNorth][bitScanForward((occ & rays[kNorth][s]) | bit(63))];
  a ^= rays[kEast][bitScanForward((occ & rays[kEast][s]) | bit(63))];
  a ^= rays[kSouth][bitScanReverse((occ & rays[kSouth][s]) | bit(0))];
  a ^= rays[kWest][bitScanReverse((occ & rays[kWest][s]) | bit(0))];
  return a;
}

inline Bitboard rayBishopAttacks(int s, Bitboard occ) {
  Bitboard a = bishopEmptyAttacks[s];
  a ^= rays[kNorthEast][bitScanForward((occ & rays[kNorthEast][s]) | bit(63))];
  a ^= rays[kNorthWest][bitScanForward((occ & rays[kNorthWest][s]) | bit(63))];
  a ^= rays[kSouthEast][bitScanReverse((occ & rays[kSouthEast][s]) | bit(0))];
  a ^= rays[kSouthWest][bitScanReverse((occ & rays[kSouthWest][s]) | bit(0))];
  return a;
}

inline Bitboard rookAttacks(int s, Bitboard occ) {
#if defined(__BMI2__)
  return rookTable[attackTables.rookOffset[s] + _pext_u64(occ, attackTables.rookMask[s])];
#else
  return rayRookAttacks(s, occ);
#endif
}

inline Bitboard bishopAttacks(int s, Bitboard occ) {
#if defined(__BMI2__)
  return bishopTable[attackTables.bishopOffset[s] + _pext_u64(occ, attackTables.bishopMask[s])];
#else
  return rayBishopAttacks(s, occ);
#endif
}

inline Bitboard queenAttacks(int s, Bitboard occ) { return rookAttacks(s, occ) | bishopAttacks(s, occ); }

inline bool inCheck(const Position& pos, int colour) {
  return isAttacked(pos, pos.kingSquare[colour], colour ^ 1) != 0;
}

// Pieces of colour (from any square) that attack square s through occ.
inline Bitboard attackersOf(const Position& pos, int s, int colour, Bitboard occ) {
  const auto& p = pos.pieces[colour];
  return (pawnAttacks[colour ^ 1][s] & p[kPawn]) | (knightAttacks[s] & p[kKnight]) |
         (kingAttacks[s] & p[kKing]) | (bishopAttacks(s, occ) & (p[kBishop] | p[kQueen])) |
         (rookAttacks(s, occ) & (p[kRook] | p[kQueen]));
}

}  // namespace board
