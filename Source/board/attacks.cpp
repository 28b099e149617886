// Attack tables and attack queries.
#include "board/attacks.h"

namespace board {

AttackTables attackTables;
std::array<Bitboard, 102400> rookTable;
std::array<Bitboard, 5248> bishopTable;

namespace {

constexpr int kDirFile[8] = {0, 0, 1, -1, 1, -1, -1, 1};
constexpr int kDirRank[8] = {1, -1, 0, 0, 1, -1, 1, -1};
constexpr bool kIncreasing[8] = {true, false, true, false, true, false, true, false};

Bitboard stepMask(int sq, const int (&df)[8], const int (&dr)[8]) {
  Bitboard b = 0;
  for (int i = 0; i < 8; ++i) {
    int f = fileOf(sq) + df[i], r = rankOf(sq) + dr[i];
    if (f >= 0 && f < 8 && r >= 0 && r < 8) b |= bit(makeSquare(f, r));
  }
  return b;
}

// Relevant occupancy of a slider: its rays without each ray's last square.
Bitboard relevantMask(int sq, int firstDir) {
  Bitboard m = 0;
  for (int d = firstDir; d < firstDir + 4; ++d) {
    Bitboard r = rays[d][sq];
    if (!r) continue;
    int last = kIncreasing[d] ? bitScanReverse(r) : bitScanForward(r);
    m |= r & ~bit(last);
  }
  return m;
}

uint32_t fillSliderTable(Bitboard* table, uint32_t offset, int sq, Bitboard mask,
                         Bitboard (*attacks)(int, Bitboard)) {
  // Enumerate every subset of the mask; the PEXT index of a subset is its
  // rank in this enumeration's bit order.
  int bits = popCount(mask);
  for (uint32_t i = 0; i < (1u << bits); ++i) {
    Bitboard occ = 0, m = mask;
    for (int j = 0; j < bits; ++j) {
      int s = popLowest(m);
      if (i & (1u << j)) occ |= bit(s);
    }
    table[offset + i] = attacks(sq, occ);
  }
  return offset + (1u << bits);
}

}  // namespace

void initAttackTables() {
  auto& t = attackTables;
  static constexpr int kKnightF[8] = {1, 2, 2, 1, -1, -2, -2, -1};
  static constexpr int kKnightR[8] = {2, 1, -1, -2, -2, -1, 1, 2};
  static constexpr int kKingF[8] = {1, 1, 0, -1, -1, -1, 0, 1};
  static constexpr int kKingR[8] = {0, 1, 1, 1, 0, -1, -1, -1};
  for (int s = 0; s < 64; ++s) {
    t.knightAttacks[s] = stepMask(s, kKnightF, kKnightR);
    t.kingAttacks[s] = stepMask(s, kKingF, kKingR);
    Bitboard w = 0, b = 0;
    if (rankOf(s) < 7) {
      if (fileOf(s) > 0) w |= bit(s + 7);
      if (fileOf(s) < 7) w |= bit(s + 9);
    }
    if (rankOf(s) > 0) {
      if (fileOf(s) > 0) b |= bit(s - 9);
      if (fileOf(s) < 7) b |= bit(s - 7);
    }
    t.pawnAttacks[kWhite][s] = w;
    t.pawnAttacks[kBlack][s] = b;
    for (int d = 0; d < 8; ++d) {
      Bitboard r = 0;
      int f = fileOf(s) + kDirFile[d], k = rankOf(s) + kDirRank[d];
      while (f >= 0 && f < 8 && k >= 0 && k < 8) {
        r |= bit(makeSquare(f, k));
        f += kDirFile[d];
        k += kDirRank[d];
      }
      t.rays[d][s] = r;
    }
    t.rookEmptyAttacks[s] = t.rays[kNorth][s] | t.rays[kSouth][s] | t.rays[kEast][s] | t.rays[kWest][s];
    t.bishopEmptyAttacks[s] =
        t.rays[kNorthEast][s] | t.rays[kNorthWest][s] | t.rays[kSouthEast][s] | t.rays[kSouthWest][s];
  }
  for (int a = 0; a < 64; ++a) {
    for (int b = 0; b < 64; ++b) {
      t.between[a][b] = 0;
      t.line[a][b] = 0;
      for (int d = 0; d < 8; ++d) {
        if (t.rays[d][a] & bit(b)) {
          int opposite = d ^ 1;  // directions are laid out in opposite pairs
          t.between[a][b] = t.rays[d][a] & t.rays[opposite][b];
          t.line[a][b] = t.rays[d][a] | t.rays[opposite][a] | bit(a);
        }
      }
    }
  }
  uint32_t rookOff = 0, bishopOff = 0;
  for (int s = 0; s < 64; ++s) {
    t.rookMask[s] = relevantMask(s, kNorth);
    t.bishopMask[s] = relevantMask(s, kNorthEast);
    t.rookOffset[s] = rookOff;
    t.bishopOffset[s] = bishopOff;
    rookOff = fillSliderTable(rookTable.data(), rookOff, s, t.rookMask[s], rayRookAttacks);
    bishopOff = fillSliderTable(bishopTable.data(), bishopOff, s, t.bishopMask[s], rayBishopAttacks);
  }
}

int isAttacked(const Position& pos, int s, int byColour) {
  return attackersOf(pos, s, byColour, occupied(pos)) != 0;
}

namespace {

// Shared core: the cheapest attacker among candidates (bitboards already
// restricted to the pieces allowed to take part), lines tested against occ.
inline int cheapestAttacker(const std::array<Bitboard, 8>& p, Bitboard allowed, int s, int colour, Bitboard occ) {
  Bitboard b = pawnAttacks[colour ^ 1][s] & p[kPawn] & allowed;
  if (b) return bitScanForward(b);
  b = knightAttacks[s] & p[kKnight] & allowed;
  if (b) return bitScanForward(b);
  Bitboard diag = bishopAttacks(s, occ);
  b = diag & p[kBishop] & allowed;
  if (b) return bitScanForward(b);
  Bitboard orth = rookAttacks(s, occ);
  b = orth & p[kRook] & allowed;
  if (b) return bitScanForward(b);
  b = (diag | orth) & p[kQueen] & allowed;
  if (b) return bitScanForward(b);
  b = kingAttacks[s] & p[kKing] & allowed;
  if (b) return bitScanForward(b);
  return kNoSquare;
}

}  // namespace

int leastValuableAttacker(const Position& pos, int s, int colour, Bitboard occ) {
  return cheapestAttacker(pos.pieces[colour], occ, s, colour, occ);
}

int findAttacker(const Position& pos, int s, int colour, Bitboard blockers) {
  return cheapestAttacker(pos.pieces[colour], ~Bitboard{0}, s, colour, blockers);
}

}  // namespace board
