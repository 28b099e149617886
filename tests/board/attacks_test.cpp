// Attack tables, bit operations, slider attacks and attacker queries, checked
// against square-by-square walks written independently here.
#include <gtest/gtest.h>

#include "board/board_helpers.h"

using namespace board;
using namespace boardtest;

namespace {

bool onBoard(int f, int r) { return f >= 0 && f < 8 && r >= 0 && r < 8; }

Bitboard steps(int s, const int (*deltas)[2], int n) {
  Bitboard b = 0;
  for (int i = 0; i < n; ++i) {
    int f = fileOf(s) + deltas[i][0], r = rankOf(s) + deltas[i][1];
    if (onBoard(f, r)) b |= bit(makeSquare(f, r));
  }
  return b;
}

constexpr int kKnightDeltas[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
constexpr int kKingDeltas[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
// In the engine's direction order: N, S, E, W, NE, SW, NW, SE.
constexpr int kDirDeltas[8][2] = {{0, 1}, {0, -1}, {1, 0}, {-1, 0}, {1, 1}, {-1, -1}, {-1, 1}, {1, -1}};

// Squares along one direction up to and including the first occupied one.
Bitboard walk(int s, int dir, Bitboard occ) {
  Bitboard b = 0;
  int f = fileOf(s) + kDirDeltas[dir][0], r = rankOf(s) + kDirDeltas[dir][1];
  while (onBoard(f, r)) {
    int t = makeSquare(f, r);
    b |= bit(t);
    if (occ & bit(t)) break;
    f += kDirDeltas[dir][0];
    r += kDirDeltas[dir][1];
  }
  return b;
}

Bitboard walkRook(int s, Bitboard occ) { return walk(s, 0, occ) | walk(s, 1, occ) | walk(s, 2, occ) | walk(s, 3, occ); }
Bitboard walkBishop(int s, Bitboard occ) {
  return walk(s, 4, occ) | walk(s, 5, occ) | walk(s, 6, occ) | walk(s, 7, occ);
}

Bitboard squares(std::initializer_list<const char*> names) {
  Bitboard b = 0;
  for (const char* n : names) b |= bit(sq(n));
  return b;
}

// Squares the piece with this code on `from` attacks.
Bitboard walkAttacks(int code, int from, Bitboard occ) {
  const int white[2][2] = {{-1, 1}, {1, 1}}, black[2][2] = {{-1, -1}, {1, -1}};
  switch (typeOf(code)) {
    case kPawn: return steps(from, colourOf(code) == kWhite ? white : black, 2);
    case kKnight: return steps(from, kKnightDeltas, 8);
    case kBishop: return walkBishop(from, occ);
    case kRook: return walkRook(from, occ);
    case kQueen: return walkRook(from, occ) | walkBishop(from, occ);
    case kKing: return steps(from, kKingDeltas, 8);
  }
  return 0;
}

// Attack test by walking the board from the target square.
bool walkAttacked(const Position& p, int s, int by) {
  Bitboard occ = occupied(p);
  const auto& own = p.pieces[by];
  Bitboard pawnFrom = 0;
  int back = by == kWhite ? -1 : 1;
  for (int df : {-1, 1})
    if (onBoard(fileOf(s) + df, rankOf(s) + back)) pawnFrom |= bit(makeSquare(fileOf(s) + df, rankOf(s) + back));
  return (pawnFrom & own[kPawn]) || (steps(s, kKnightDeltas, 8) & own[kKnight]) ||
         (steps(s, kKingDeltas, 8) & own[kKing]) || (walkBishop(s, occ) & (own[kBishop] | own[kQueen])) ||
         (walkRook(s, occ) & (own[kRook] | own[kQueen]));
}

}  // namespace

TEST(AttackTables, StepTablesMatchTheMovePatterns) {
  testutil::initTables();
  for (int s = 0; s < 64; ++s) {
    EXPECT_EQ(knightAttacks[s], steps(s, kKnightDeltas, 8)) << squareName(s);
    EXPECT_EQ(kingAttacks[s], steps(s, kKingDeltas, 8)) << squareName(s);
    const int white[2][2] = {{-1, 1}, {1, 1}}, black[2][2] = {{-1, -1}, {1, -1}};
    EXPECT_EQ(pawnAttacks[kWhite][s], steps(s, white, 2)) << squareName(s);
    EXPECT_EQ(pawnAttacks[kBlack][s], steps(s, black, 2)) << squareName(s);
  }
  // Edges: no wrapping between the a and h files.
  EXPECT_EQ(knightAttacks[kA1], squares({"b3", "c2"}));
  EXPECT_EQ(kingAttacks[kH8], squares({"g8", "g7", "h7"}));
  EXPECT_EQ(pawnAttacks[kWhite][sq("h2")], squares({"g3"}));
  EXPECT_EQ(pawnAttacks[kWhite][sq("a2")], squares({"b3"}));
  EXPECT_EQ(pawnAttacks[kBlack][sq("a7")], squares({"b6"}));
  EXPECT_EQ(pawnAttacks[kBlack][sq("h7")], squares({"g6"}));
  EXPECT_EQ(pawnAttacks[kWhite][sq("e8")], 0u);
  EXPECT_EQ(pawnAttacks[kBlack][sq("e1")], 0u);
}

TEST(AttackTables, RaysLinesAndBetween) {
  testutil::initTables();
  for (int s = 0; s < 64; ++s) {
    for (int d = 0; d < 8; ++d) EXPECT_EQ(rays[d][s], walk(s, d, 0)) << squareName(s) << " dir " << d;
    EXPECT_EQ(rookEmptyAttacks[s], walkRook(s, 0));
    EXPECT_EQ(bishopEmptyAttacks[s], walkBishop(s, 0));
  }
  for (int a = 0; a < 64; ++a) {
    for (int b = 0; b < 64; ++b) {
      Bitboard expectBetween = 0, expectLine = 0;
      for (int d = 0; d < 8; ++d) {
        if (!(walk(a, d, 0) & bit(b))) continue;
        expectBetween = walk(a, d, bit(b)) & ~bit(b);
        expectLine = walk(a, d, 0) | walk(a, d ^ 1, 0) | bit(a);
      }
      ASSERT_EQ(between[a][b], expectBetween) << squareName(a) << "-" << squareName(b);
      ASSERT_EQ(lineThrough[a][b], expectLine) << squareName(a) << "-" << squareName(b);
    }
  }
  EXPECT_EQ(between[kA1][kH8], squares({"b2", "c3", "d4", "e5", "f6", "g7"}));
  EXPECT_EQ(between[kE1][sq("e2")], 0u) << "neighbours have nothing between";
  EXPECT_EQ(between[kA1][sq("b3")], 0u) << "not on a line";
  EXPECT_EQ(between[kE1][kE1], 0u);
}

TEST(AttackTables, BitOperations) {
  EXPECT_EQ(bitScanForward(bit(63)), 63);
  EXPECT_EQ(bitScanForward(bit(63) | bit(5)), 5);
  EXPECT_EQ(bitScanForward(1), 0);
  EXPECT_EQ(bitScanReverse(bit(63) | bit(5)), 63);
  EXPECT_EQ(bitScanReverse(1), 0);
  EXPECT_EQ(bitScanReverse(0x00F0000000000000ull), 55);
  EXPECT_EQ(popCount(0), 0);
  EXPECT_EQ(popCount(~Bitboard{0}), 64);
  EXPECT_EQ(popCount(0x8000000100000001ull), 3);
  Bitboard b = bit(3) | bit(40) | bit(63);
  EXPECT_EQ(popLowest(b), 3);
  EXPECT_EQ(popLowest(b), 40);
  EXPECT_EQ(popLowest(b), 63);
  EXPECT_EQ(b, 0u);
}

TEST(SliderAttacks, CornerAndLastSquareCases) {
  testutil::initTables();
  Bitboard fileAndRank = (0x0101010101010101ull | 0xFFull) & ~bit(kA1);
  EXPECT_EQ(rookAttacks(kA1, 0), fileAndRank);
  EXPECT_EQ(popCount(rookAttacks(kA1, 0)), 14);
  EXPECT_EQ(rookAttacks(kA1, squares({"a1", "a4", "c1"})), squares({"a2", "a3", "a4", "b1", "c1"}));
  EXPECT_EQ(bishopAttacks(kH8, 0), squares({"a1", "b2", "c3", "d4", "e5", "f6", "g7"}));
  // A blocker on the last square of a ray still belongs to the attack set.
  EXPECT_EQ(bishopAttacks(kA1, bit(kH8)), bishopAttacks(kA1, 0));
  EXPECT_TRUE(bishopAttacks(kA1, bit(kH8)) & bit(kH8));
  EXPECT_EQ(rookAttacks(kH8, bit(kH1) | bit(kA8)), rookAttacks(kH8, 0));
  EXPECT_EQ(rookAttacks(sq("d4"), squares({"d5", "d3", "c4", "e4"})), squares({"d5", "d3", "c4", "e4"}));
  EXPECT_EQ(queenAttacks(sq("d4"), 0), rookAttacks(sq("d4"), 0) | bishopAttacks(sq("d4"), 0));
  EXPECT_EQ(popCount(queenAttacks(sq("d4"), 0)), 27);
}

TEST(SliderAttacks, TablesAgreeWithRayScansAndBoardWalksOnRandomOccupancies) {
  testutil::initTables();
  std::mt19937_64 rng(12345);
  for (int round = 0; round < 1500; ++round) {
    // Sparse to dense boards.
    Bitboard occ = rng();
    for (int k = round % 4; k > 0; --k) occ &= rng();
    for (int s = 0; s < 64; ++s) {
      Bitboard r = walkRook(s, occ), b = walkBishop(s, occ);
      ASSERT_EQ(rookAttacks(s, occ), r) << squareName(s) << " occ " << std::hex << occ;
      ASSERT_EQ(bishopAttacks(s, occ), b) << squareName(s) << " occ " << std::hex << occ;
      ASSERT_EQ(rayRookAttacks(s, occ), r) << squareName(s) << " occ " << std::hex << occ;
      ASSERT_EQ(rayBishopAttacks(s, occ), b) << squareName(s) << " occ " << std::hex << occ;
      // Whether the slider's own square is in the set does not matter.
      ASSERT_EQ(rookAttacks(s, occ | bit(s)), r);
      ASSERT_EQ(bishopAttacks(s, occ | bit(s)), b);
    }
  }
}

TEST(AttackQueries, IsAttackedAgreesWithBoardWalksOnRandomBoards) {
  testutil::initTables();
  std::mt19937 rng(99);
  for (int round = 0; round < 400; ++round) {
    Position p = randomBoard(rng, 4 + round % 24);
    for (int s = 0; s < 64; ++s)
      for (int c = 0; c < 2; ++c)
        ASSERT_EQ(isAttacked(p, s, c) != 0, walkAttacked(p, s, c))
            << fenOf(p) << " square " << squareName(s) << " by " << c;
    for (int c = 0; c < 2; ++c) EXPECT_EQ(inCheck(p, c), walkAttacked(p, p.kingSquare[c], c ^ 1));
  }
}

TEST(AttackQueries, OwnKingCoversANeighbourSquareHoldingAnOwnPiece) {
  testutil::initTables();
  testutil::Board b("4k3/8/8/8/8/8/3PP3/4K3 w - -");
  EXPECT_EQ(isAttacked(b.pos, sq("e2"), kWhite), 1);
  EXPECT_EQ(isAttacked(b.pos, sq("d2"), kWhite), 1);
  EXPECT_EQ(isAttacked(b.pos, sq("e3"), kWhite), 1) << "the d2 pawn";
  EXPECT_EQ(isAttacked(b.pos, sq("e4"), kWhite), 0);
  EXPECT_EQ(isAttacked(b.pos, sq("e7"), kBlack), 1);
  EXPECT_EQ(isAttacked(b.pos, sq("e6"), kBlack), 0);
}

TEST(AttackQueries, LeastValuableAttackerOrder) {
  testutil::initTables();
  // Knight b4 (square 25) and pawn e4 (28) both hit d5: the pawn comes first.
  testutil::Board b("4k3/8/8/8/1N2P3/8/8/4K3 w - -");
  Bitboard occ = occupied(b.pos);
  EXPECT_EQ(leastValuableAttacker(b.pos, sq("d5"), kWhite, occ), sq("e4"));
  EXPECT_EQ(leastValuableAttacker(b.pos, sq("d5"), kWhite, occ & ~bit(sq("e4"))), sq("b4"))
      << "a piece outside the occupancy takes no part";
  EXPECT_EQ(leastValuableAttacker(b.pos, sq("d5"), kBlack, occ), kNoSquare);

  // Every kind hits d4 at once; they come out pawn, knight, bishop, rook,
  // queen, king, whatever their square numbers.
  const int target = sq("d4");
  testutil::Board six("6k1/B7/8/1N2K3/7R/2P5/8/3Q4 w - -");
  occ = occupied(six.pos);
  const char* expected[] = {"c3", "b5", "a7", "h4", "d1", "e5"};
  for (const char* s : expected) {
    int a = leastValuableAttacker(six.pos, target, kWhite, occ);
    ASSERT_EQ(a, sq(s)) << "next attacker of d4";
    occ &= ~bit(a);
  }
  EXPECT_EQ(leastValuableAttacker(six.pos, target, kWhite, occ), kNoSquare);
}

TEST(AttackQueries, XRayAttackersAppearOnceTheFrontPieceIsGone) {
  testutil::initTables();
  // Bishop c4 in front of the queen b3 on the diagonal to e6.
  testutil::Board b("4k3/8/8/8/2B5/1Q6/8/4K3 w - -");
  Bitboard occ = occupied(b.pos);
  EXPECT_EQ(leastValuableAttacker(b.pos, sq("e6"), kWhite, occ), sq("c4"));
  EXPECT_EQ(leastValuableAttacker(b.pos, sq("e6"), kWhite, occ & ~bit(sq("c4"))), sq("b3"));
  // Queen in front of the bishop: only the queen is seen, though the bishop is cheaper.
  testutil::Board q("4k3/8/8/3Q4/2B5/8/8/4K3 w - -");
  occ = occupied(q.pos);
  EXPECT_EQ(leastValuableAttacker(q.pos, sq("e6"), kWhite, occ), sq("d5"));
  EXPECT_EQ(leastValuableAttacker(q.pos, sq("e6"), kWhite, occ & ~bit(sq("d5"))), sq("c4"));
  // Rooks doubled on a file.
  testutil::Board r("3rk3/8/8/3p4/8/8/3R4/3RK3 w - -");
  occ = occupied(r.pos);
  EXPECT_EQ(leastValuableAttacker(r.pos, sq("d5"), kWhite, occ), sq("d2"));
  EXPECT_EQ(leastValuableAttacker(r.pos, sq("d5"), kWhite, occ & ~bit(sq("d2"))), sq("d1"));
}

TEST(AttackQueries, FindAttackerSearchesAllPiecesWithGivenBlockers) {
  testutil::initTables();
  testutil::Board b("4k3/8/8/8/2B5/1Q6/8/4K3 w - -");
  Bitboard occ = occupied(b.pos);
  Bitboard withoutBishop = occ & ~bit(sq("c4"));
  EXPECT_EQ(leastValuableAttacker(b.pos, sq("e6"), kWhite, withoutBishop), sq("b3"));
  EXPECT_EQ(findAttacker(b.pos, sq("e6"), kWhite, withoutBishop), sq("c4"))
      << "a piece missing from the blockers is still an attacker";
  EXPECT_EQ(findAttacker(b.pos, sq("e6"), kWhite, occ), sq("c4"));
  // Blockers decide the lines: an extra blocker on d5 hides both.
  EXPECT_EQ(findAttacker(b.pos, sq("e6"), kWhite, occ | bit(sq("d5"))), kNoSquare);
  // The usual check question.
  testutil::Board check("4k3/8/8/8/8/8/4r3/4K3 w - -");
  EXPECT_EQ(findAttacker(check.pos, kE1, kBlack, occupied(check.pos)), sq("e2"));
  EXPECT_EQ(findAttacker(check.pos, kE8, kWhite, occupied(check.pos)), kNoSquare);
}

TEST(AttackQueries, AttackersOfListsEveryAttacker) {
  testutil::initTables();
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    Position p = randomBoard(rng, 20);
    Bitboard occ = occupied(p);
    for (int s = 0; s < 64; ++s) {
      for (int c = 0; c < 2; ++c) {
        Bitboard expected = 0;
        for (Bitboard own = p.pieces[c][0]; own;) {
          int from = popLowest(own);
          if (walkAttacks(p.board[from], from, occ) & bit(s)) expected |= bit(from);
        }
        ASSERT_EQ(attackersOf(p, s, c, occ), expected) << fenOf(p) << " " << squareName(s) << " by " << c;
      }
    }
  }
}
