// Static exchange evaluation: fixed cases and a comparison with a plain
// recursive exchange on random boards.
#include <gtest/gtest.h>

#include <algorithm>

#include "board/board_helpers.h"

using namespace board;
using namespace boardtest;

namespace {

constexpr int kValue[8] = {0, 100, 335, 335, 535, 1035, 10000, 0};
constexpr int kKingLoss = 9999;

// Whether the piece on `from` attacks `to` with blockers `occ`, by walking.
bool reaches(const Position& p, int from, int to, Bitboard occ) {
  const int code = p.board[from], type = typeOf(code);
  const int df = fileOf(to) - fileOf(from), dr = rankOf(to) - rankOf(from);
  switch (type) {
    case kPawn: return std::abs(df) == 1 && dr == (colourOf(code) == kWhite ? 1 : -1);
    case kKnight: return std::abs(df * dr) == 2;
    case kKing: return std::max(std::abs(df), std::abs(dr)) == 1;
    default: break;
  }
  const bool straight = df == 0 || dr == 0, diagonal = std::abs(df) == std::abs(dr);
  if (from == to || (!straight && !diagonal)) return false;
  if (straight && type == kBishop) return false;
  if (diagonal && type == kRook) return false;
  const int sf = (df > 0) - (df < 0), sr = (dr > 0) - (dr < 0);
  for (int f = fileOf(from) + sf, r = rankOf(from) + sr; makeSquare(f, r) != to; f += sf, r += sr)
    if (occ & bit(makeSquare(f, r))) return false;
  return true;
}

// Cheapest attacker of `colour` among the pieces still in occ; the lowest
// square breaks ties.
int cheapest(const Position& p, int to, int colour, Bitboard occ) {
  for (int type = kPawn; type <= kKing; ++type)
    for (int s = 0; s < 64; ++s)
      if ((occ & bit(s)) && p.board[s] == pieceCode(colour, type) && reaches(p, s, to, occ)) return s;
  return kNoSquare;
}

// Best gain for `side` of starting (or declining) captures on `to`, where a
// piece of `victim` type stands; a king taken ends the exchange.
int exchange(const Position& p, int side, int to, int victim, Bitboard occ) {
  int a = cheapest(p, to, side, occ);
  if (a == kNoSquare) return 0;
  if (victim == kKing) return kKingLoss;
  return std::max(0, kValue[victim] - exchange(p, side ^ 1, to, typeOf(p.board[a]), occ & ~bit(a)));
}

// A capture (or move) from `from` that must be played, then the exchange.
int forcedExchange(const Position& p, int side, int from, int to) {
  Bitboard occ = occupied(p) & ~bit(from);
  int v = kValue[typeOf(p.board[to])];
  if (typeOf(p.board[from]) == kKing) return cheapest(p, to, side ^ 1, occ) == kNoSquare ? v : v - kKingLoss;
  return v - exchange(p, side ^ 1, to, typeOf(p.board[from]), occ);
}

int see(const char* fen, const char* from, const char* to) {
  testutil::Board b(fen);
  return staticExchange(b.pos, b.pos.sideToMove, from ? sq(from) : kNoSquare, sq(to));
}

}  // namespace

TEST(StaticExchange, SimpleGainsAndLosses) {
  testutil::initTables();
  EXPECT_EQ(kSeeValue[kPawn], 100);
  EXPECT_EQ(kSeeValue[kKnight], 335);
  EXPECT_EQ(kSeeValue[kBishop], 335);
  EXPECT_EQ(kSeeValue[kRook], 535);
  EXPECT_EQ(kSeeValue[kQueen], 1035);
  // Pawn takes an undefended knight.
  EXPECT_EQ(see("4k3/8/8/3n4/4P3/8/8/4K3 w - -", "e4", "d5"), 335);
  EXPECT_EQ(see("4k3/8/8/3n4/4P3/8/8/4K3 w - -", nullptr, "d5"), 335);
  // Queen takes a pawn defended by a pawn.
  EXPECT_EQ(see("4k3/8/2p5/3p4/8/8/8/3QK3 w - -", "d1", "d5"), 100 - 1035);
  EXPECT_EQ(see("4k3/8/2p5/3p4/8/8/8/3QK3 w - -", nullptr, "d5"), 0) << "declining is allowed";
  // Knight takes a pawn defended by a pawn, and a bishop defended by a pawn.
  EXPECT_EQ(see("4k3/8/2p5/3p4/8/4N3/8/4K3 w - -", "e3", "d5"), 100 - 335);
  EXPECT_EQ(see("4k3/8/2p5/3b4/8/4N3/8/4K3 w - -", "e3", "d5"), 0);
  // A quiet move to an attacked square loses the piece.
  EXPECT_EQ(see("4k3/8/2p5/8/8/4N3/8/4K3 w - -", "e3", "d5"), -335);
  EXPECT_EQ(see("4k3/8/2p5/8/8/4N3/8/4K3 w - -", "e3", "c4"), 0);
  // Nothing to take and nothing attacking.
  EXPECT_EQ(see("4k3/8/8/3n4/8/8/8/4K3 w - -", nullptr, "d5"), 0);
}

TEST(StaticExchange, XRayRookJoinsTheExchange) {
  testutil::initTables();
  const char* fen = "3r2k1/8/8/3p4/8/8/3R4/3RK3 w - -";
  EXPECT_EQ(see(fen, "d2", "d5"), 100);
  EXPECT_EQ(see(fen, nullptr, "d5"), 100);
  // Without the d1 rook the d8 rook wins the exchange.
  EXPECT_EQ(see("3r2k1/8/8/3p4/8/8/3R4/4K3 w - -", "d2", "d5"), 100 - 535);
  // Queen behind a bishop on the diagonal.
  EXPECT_EQ(see("4k3/1b6/2n5/8/8/5B2/6Q1/4K3 w - -", "f3", "c6"), 335);
}

TEST(StaticExchange, KingCapturesAndKingVictims) {
  testutil::initTables();
  // King takes a knight defended by a pawn.
  EXPECT_EQ(see("4k3/8/8/8/8/2p5/3n4/4K3 w - -", "e1", "d2"), 335 - kKingLoss);
  EXPECT_EQ(see("4k3/8/8/8/8/8/3n4/4K3 w - -", "e1", "d2"), 335) << "undefended";
  // From 64 the king is the last attacker chosen and is not thrown in.
  EXPECT_EQ(see("4k3/8/8/8/8/2p5/3n4/4K3 w - -", nullptr, "d2"), 0);
  // A king as the victim.
  testutil::Board b("4k3/8/8/8/8/8/4R3/4K3 b - -");
  EXPECT_EQ(staticExchange(b.pos, kWhite, kNoSquare, kE8), kKingLoss);
  EXPECT_EQ(staticExchange(b.pos, kWhite, sq("e2"), kE8), 10000);
  // A defending king cannot recapture while the square stays covered.
  EXPECT_EQ(see("4k3/3p4/8/8/8/8/3R4/3R2K1 w - -", "d2", "d7"), 100);
  EXPECT_EQ(see("4k3/3p4/8/8/8/8/3R4/6K1 w - -", "d2", "d7"), 100 - 535);
}

TEST(StaticExchange, EnPassantAndPromotionsAreNotModelled) {
  testutil::initTables();
  // The en-passant square is empty: the capture is worth nothing by itself.
  EXPECT_EQ(see("4k3/8/8/3pP3/8/8/8/4K3 w - d6", "e5", "d6"), 0);
  // A pawn taking onto the last rank counts as a pawn's trade.
  EXPECT_EQ(see("3rk3/4P3/8/8/8/8/8/4K3 w - -", "e7", "d8"), 535 - 100);
}

TEST(StaticExchange, AgreesWithARecursiveExchangeOnRandomBoards) {
  testutil::initTables();
  std::mt19937 rng(2024);
  int captures = 0, nonZero = 0;
  for (int round = 0; round < 600; ++round) {
    Position p = randomBoard(rng, 10 + round % 20);
    Bitboard occ = occupied(p);
    for (int to = 0; to < 64; ++to) {
      for (int c = 0; c < 2; ++c) {
        if (p.board[to] && colourOf(p.board[to]) == c) continue;
        int best = staticExchange(p, c, kNoSquare, to);
        ASSERT_GE(best, 0);
        int victim = typeOf(p.board[to]);
        ASSERT_EQ(best, exchange(p, c, to, victim, occ)) << fenOf(p) << " on " << squareName(to) << " for " << c;
        ASSERT_EQ(exchangeGain(p, c, to, victim, occ), best) << fenOf(p) << " on " << squareName(to);
        // Every capture by every attacker.
        for (Bitboard a = attackersOf(p, to, c, occ); a;) {
          int from = popLowest(a);
          int gain = staticExchange(p, c, from, to);
          ASSERT_EQ(gain, forcedExchange(p, c, from, to))
              << fenOf(p) << " " << squareName(from) << "x" << squareName(to);
          ++captures;
          nonZero += gain != 0;
        }
      }
    }
  }
  EXPECT_GT(captures, 20000);
  EXPECT_GT(nonZero, 5000);
}
