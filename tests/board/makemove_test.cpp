// Make/unmake, the null move, legality and draw detection.
#include <gtest/gtest.h>

#include "board/board_helpers.h"

using namespace board;
using namespace boardtest;

namespace {

struct Snapshot {
  Position pos;
  Counters counters;
};

Snapshot snap(const Position& p) { return {p, countersOf(p)}; }

testing::AssertionResult restored(const Position& p, const Snapshot& s) {
  auto same = samePosition(p, s.pos);
  if (!same) return same;
  if (!(countersOf(p) == s.counters))
    return testing::AssertionFailure() << "counters " << countersOf(p) << " instead of " << s.counters;
  return testing::AssertionSuccess();
}

// Rights may only stand with their king and rook at home.
testing::AssertionResult rightsBacked(const Position& p) {
  const auto& b = p.board;
  const int wk = pieceCode(kWhite, kKing), wr = pieceCode(kWhite, kRook);
  const int bk = pieceCode(kBlack, kKing), br = pieceCode(kBlack, kRook);
  if ((p.castleRights & kWhiteKingSide) && (b[kE1] != wk || b[kH1] != wr)) return testing::AssertionFailure() << "K";
  if ((p.castleRights & kWhiteQueenSide) && (b[kE1] != wk || b[kA1] != wr)) return testing::AssertionFailure() << "Q";
  if ((p.castleRights & kBlackKingSide) && (b[kE8] != bk || b[kH8] != br)) return testing::AssertionFailure() << "k";
  if ((p.castleRights & kBlackQueenSide) && (b[kE8] != bk || b[kA8] != br)) return testing::AssertionFailure() << "q";
  return testing::AssertionSuccess();
}

void play(testutil::Board& b, std::initializer_list<const char*> moves) {
  for (const char* m : moves) makeMove(b.pos, mv(m));
}

}  // namespace

// ---------------------------------------------------------------- long playouts

// Along random games: after every move the incremental fields equal the
// from-scratch ones, the undo entry holds the state before the move, every
// pseudo-legal move and the null move unmake cleanly, and the whole game
// unwinds to its start.
TEST(MakeUnmake, PlayoutsKeepEveryFieldAndUnwindExactly) {
  testutil::initTables();
  int plies = 0, nulls = 0, tried = 0;
  for (unsigned seed = 1; seed <= 3; ++seed) {
    Playout playout(seed * 7919);
    for (const auto& fen : variedFens()) {
      testutil::Board b(fen);
      Position& p = b.pos;
      std::vector<Snapshot> line;
      for (int i = 0; i < 150 && p.rule50 <= 100; ++i) {
        const Snapshot before = snap(p);
        // Every pseudo-legal move makes and unmakes without a trace.
        for (Move m : allMoves(p)) {
          makeMove(p, m);
          ASSERT_TRUE(consistent(p)) << name(m) << " from " << fenOf(before.pos);
          unmakeMove(p);
          ASSERT_TRUE(restored(p, before)) << name(m) << " from " << fenOf(before.pos);
          ++tried;
        }
        // The null move pair, with a real move in between.
        makeNullMove(p);
        ++nulls;
        ASSERT_TRUE(consistent(p)) << "null from " << fenOf(before.pos);
        ASSERT_EQ(p.sideToMove, before.pos.sideToMove ^ 1);
        ASSERT_EQ(p.epSquare, kNoSquare);
        ASSERT_EQ(p.rule50, before.pos.rule50) << "a null move is no ply of the fifty";
        ASSERT_EQ(countersOf(p), (Counters{before.counters.undoCount + 1, before.counters.ply + 1, kNoMove}));
        ASSERT_EQ(p.owner->undoStack[before.counters.undoCount].move, kNoMove);
        auto replies = legalMoves(p);
        if (!replies.empty() && !inCheck(p, p.sideToMove ^ 1)) {
          const Snapshot afterNull = snap(p);
          makeMove(p, replies[0]);
          unmakeMove(p);
          ASSERT_TRUE(restored(p, afterNull));
        }
        unmakeNullMove(p);
        ASSERT_TRUE(restored(p, before)) << "null from " << fenOf(before.pos);

        Move m = playout.pick(p);
        if (m == kNoMove) break;
        const int from = moveFrom(m), to = moveTo(m), type = typeOf(p.board[from]);
        const bool capture = p.board[to] != 0, castle = type == kKing && (to == from + 2 || to == from - 2);
        line.push_back(before);
        uint64_t key = makeMove(p, m);
        ++plies;
        ASSERT_EQ(key, p.key);
        ASSERT_TRUE(consistent(p)) << name(m) << " from " << fenOf(before.pos);
        ASSERT_TRUE(rightsBacked(p)) << name(m) << " from " << fenOf(before.pos);
        ASSERT_EQ(countersOf(p), (Counters{before.counters.undoCount + 1, before.counters.ply + 1, m}));
        const UndoEntry& e = p.owner->undoStack[before.counters.undoCount];
        ASSERT_EQ(e.key, before.pos.key);
        ASSERT_EQ(e.pawnKey, before.pos.pawnKey);
        ASSERT_EQ(e.move, m);
        ASSERT_EQ(e.capturedType, typeOf(before.pos.board[to]));
        ASSERT_EQ(e.epSquare, before.pos.epSquare);
        ASSERT_EQ(e.rule50, before.pos.rule50);
        ASSERT_EQ(e.castleRights, before.pos.castleRights);
        const bool resets = capture || castle || type == kPawn;
        ASSERT_EQ(p.rule50, resets ? 0 : std::min(255, before.pos.rule50 + 1)) << name(m);
        const bool doubleStep = type == kPawn && (to == from + 16 || to == from - 16);
        ASSERT_EQ(p.epSquare, doubleStep ? (from + to) / 2 : kNoSquare) << name(m);
        ASSERT_EQ(p.sideToMove, before.pos.sideToMove ^ 1);
        ASSERT_FALSE(inCheck(p, p.sideToMove ^ 1)) << "a legal move left the king attacked";
      }
      // Unwind the whole game.
      while (!line.empty()) {
        unmakeMove(p);
        ASSERT_TRUE(restored(p, line.back())) << "unwinding to " << fenOf(line.back().pos);
        line.pop_back();
      }
      EXPECT_EQ(fenOf(p), fenOf(testutil::Board(fen).pos));
    }
  }
  EXPECT_GT(plies, 5000);
  EXPECT_GT(nulls, 5000);
  EXPECT_GT(tried, 100000);
}

// ---------------------------------------------------------------- special moves

TEST(MakeUnmake, CastlingMovesTheRookAndDropsTheRights) {
  testutil::initTables();
  testutil::Board b("rn2k2r/8/8/8/8/8/8/RN2K2R w KQkq -");
  play(b, {"b1c3", "b8c6"});
  ASSERT_EQ(b.pos.rule50, 2);
  const Snapshot before = snap(b.pos);
  makeMove(b.pos, mv("e1g1"));
  EXPECT_EQ(b.pos.castleRights, kBlackKingSide | kBlackQueenSide);
  EXPECT_EQ(b.pos.board[kG1], pieceCode(kWhite, kKing));
  EXPECT_EQ(b.pos.board[kF1], pieceCode(kWhite, kRook));
  EXPECT_EQ(b.pos.board[kH1], 0);
  EXPECT_EQ(b.pos.board[kE1], 0);
  EXPECT_EQ(b.pos.kingSquare[kWhite], kG1);
  EXPECT_EQ(b.pos.rule50, 0) << "castling resets the fifty-move count";
  EXPECT_TRUE(consistent(b.pos));
  unmakeMove(b.pos);
  EXPECT_TRUE(restored(b.pos, before));

  testutil::Board q("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
  makeMove(q.pos, mv("e1c1"));
  EXPECT_EQ(fenOf(q.pos), "r3k2r/8/8/8/8/8/8/2KR3R b kq -");
  makeMove(q.pos, mv("e8g8"));
  EXPECT_EQ(fenOf(q.pos), "r4rk1/8/8/8/8/8/8/2KR3R w - -");
  EXPECT_TRUE(consistent(q.pos));
  testutil::Board bq("r3k2r/8/8/8/8/8/8/R3K2R b KQkq -");
  makeMove(bq.pos, mv("e8c8"));
  EXPECT_EQ(fenOf(bq.pos), "2kr3r/8/8/8/8/8/8/R3K2R w KQ -");
  EXPECT_TRUE(consistent(bq.pos));
}

TEST(MakeUnmake, KingAndRookMovesAndRookCapturesDropRights) {
  testutil::initTables();
  testutil::Board k("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
  makeMove(k.pos, mv("e1f1"));
  EXPECT_EQ(k.pos.castleRights, kBlackKingSide | kBlackQueenSide);
  EXPECT_EQ(k.pos.rule50, 1) << "a plain king move is no reset";
  testutil::Board r("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
  makeMove(r.pos, mv("a1b1"));
  EXPECT_EQ(r.pos.castleRights, kWhiteKingSide | kBlackKingSide | kBlackQueenSide);
  EXPECT_EQ(r.pos.rule50, 1);
  // A bishop takes the h8 rook: Black loses the king side.
  testutil::Board h8("r3k2r/8/8/8/8/8/1B6/R3K2R w KQkq -");
  makeMove(h8.pos, mv("b2h8"));
  EXPECT_EQ(h8.pos.castleRights, kWhiteKingSide | kWhiteQueenSide | kBlackQueenSide);
  EXPECT_TRUE(consistent(h8.pos));
  // Rook takes rook on h8: both king sides go.
  testutil::Board hh("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
  makeMove(hh.pos, mv("h1h8"));
  EXPECT_EQ(hh.pos.castleRights, kWhiteQueenSide | kBlackQueenSide);
  testutil::Board a1("r3k2r/6b1/8/8/8/8/8/R3K2R b KQkq -");
  makeMove(a1.pos, mv("g7a1"));
  EXPECT_EQ(a1.pos.castleRights, kWhiteKingSide | kBlackKingSide | kBlackQueenSide);
  EXPECT_TRUE(consistent(a1.pos));
}

TEST(MakeUnmake, DoubleStepSetsTheEnPassantSquareForOnePly) {
  testutil::initTables();
  testutil::Board b("4k3/8/8/8/8/8/P7/4K3 w - -");
  makeMove(b.pos, mv("a2a4"));
  EXPECT_EQ(b.pos.epSquare, 16) << "set even with no pawn to take it";
  EXPECT_TRUE(consistent(b.pos)) << "and it is in the key";
  EXPECT_EQ(fenOf(b.pos), "4k3/8/8/8/P7/8/8/4K3 b - a3");
  makeMove(b.pos, mv("e8d8"));
  EXPECT_EQ(b.pos.epSquare, kNoSquare);
  EXPECT_TRUE(consistent(b.pos));
  testutil::Board black("4k3/7p/8/8/8/8/8/4K3 b - -");
  makeMove(black.pos, mv("h7h5"));
  EXPECT_EQ(black.pos.epSquare, sq("h6"));
}

TEST(MakeUnmake, EnPassantRemovesThePawnBesideAndUnmakePutsItBack) {
  testutil::initTables();
  testutil::Board b("4k3/8/8/3pP3/8/8/8/4K3 w - d6");
  const Snapshot before = snap(b.pos);
  makeMove(b.pos, mv("e5d6"));
  EXPECT_EQ(b.pos.board[sq("d6")], pieceCode(kWhite, kPawn));
  EXPECT_EQ(b.pos.board[sq("d5")], 0);
  EXPECT_EQ(b.pos.board[sq("e5")], 0);
  EXPECT_EQ(b.pos.pieces[kBlack][kPawn], 0u);
  EXPECT_EQ(b.pos.materialSignature[kBlack], 0);
  EXPECT_EQ(b.pos.owner->undoStack[0].capturedType, 0) << "nothing stood on d6";
  EXPECT_TRUE(consistent(b.pos));
  unmakeMove(b.pos);
  EXPECT_TRUE(restored(b.pos, before));

  testutil::Board bl("4k3/8/8/8/3pP3/8/8/4K3 b - e3");
  const Snapshot bb = snap(bl.pos);
  makeMove(bl.pos, mv("d4e3"));
  EXPECT_EQ(fenOf(bl.pos), "4k3/8/8/8/8/4p3/8/4K3 w - -");
  EXPECT_TRUE(consistent(bl.pos));
  unmakeMove(bl.pos);
  EXPECT_TRUE(restored(bl.pos, bb));
}

TEST(MakeUnmake, PromotionsMakeTheFlaggedPieceAndUnmakeToAPawn) {
  testutil::initTables();
  struct Case {
    const char* move;
    int type;
    int signature;
    int material;
  } cases[] = {{"e7e8q", kQueen, 65536, 10}, {"e7e8n", kKnight, 16, 3}, {"e7e8b", kBishop, 256, 3},
               {"e7e8r", kRook, 4096, 5}};
  for (const auto& c : cases) {
    testutil::Board b("8/4P1k1/8/8/8/8/8/4K3 w - -");
    const Snapshot before = snap(b.pos);
    makeMove(b.pos, mv(c.move));
    EXPECT_EQ(b.pos.board[kE8], pieceCode(kWhite, c.type)) << c.move;
    EXPECT_EQ(b.pos.board[sq("e7")], 0);
    EXPECT_EQ(b.pos.pieces[kWhite][c.type], bit(kE8)) << c.move;
    EXPECT_EQ(b.pos.pieces[kWhite][kPawn], 0u);
    EXPECT_EQ(b.pos.materialSignature[kWhite], c.signature) << c.move;
    EXPECT_EQ(b.pos.pieceMaterial[kWhite], c.material) << c.move;
    EXPECT_EQ(b.pos.pawnKey, 0u) << "the pawn left the pawn key";
    EXPECT_TRUE(consistent(b.pos)) << c.move;
    unmakeMove(b.pos);
    EXPECT_TRUE(restored(b.pos, before)) << c.move;
    EXPECT_EQ(b.pos.board[sq("e7")], pieceCode(kWhite, kPawn));
  }
  // Capturing promotion: the captured rook comes back on unmake.
  testutil::Board cap("3r4/4P1k1/8/8/8/8/8/4K3 w - -");
  const Snapshot before = snap(cap.pos);
  makeMove(cap.pos, mv("e7d8n"));
  EXPECT_EQ(fenOf(cap.pos), "3N4/6k1/8/8/8/8/8/4K3 b - -");
  EXPECT_EQ(cap.pos.materialSignature[kBlack], 0);
  EXPECT_EQ(cap.pos.owner->undoStack[0].capturedType, kRook);
  EXPECT_TRUE(consistent(cap.pos));
  unmakeMove(cap.pos);
  EXPECT_TRUE(restored(cap.pos, before));
  // Black promotes downwards.
  testutil::Board bl("4k3/8/8/8/8/8/1p6/R3K3 b Q -");
  makeMove(bl.pos, mv("b2a1b"));
  EXPECT_EQ(fenOf(bl.pos), "4k3/8/8/8/8/8/8/b3K3 w - -") << "the a1 rook and its right are gone";
  EXPECT_TRUE(consistent(bl.pos));
  // The destination decides: a last-rank pawn move without a flag makes a queen.
  testutil::Board plain("8/4P1k1/8/8/8/8/8/4K3 w - -");
  makeMove(plain.pos, makeMoveCode(sq("e7"), kE8));
  EXPECT_EQ(plain.pos.board[kE8], pieceCode(kWhite, kQueen));
  EXPECT_TRUE(consistent(plain.pos));
}

TEST(MakeUnmake, UnmakeRestoresTheLastMoveOfTheLineBelow) {
  testutil::initTables();
  testutil::Board b;
  play(b, {"e2e4", "e7e5", "g1f3"});
  EXPECT_EQ(countersOf(b.pos), (Counters{3, 4, mv("g1f3")}));
  unmakeMove(b.pos);
  EXPECT_EQ(countersOf(b.pos), (Counters{2, 3, mv("e7e5")}));
  makeNullMove(b.pos);
  EXPECT_EQ(countersOf(b.pos), (Counters{3, 4, kNoMove}));
  unmakeNullMove(b.pos);
  EXPECT_EQ(countersOf(b.pos), (Counters{2, 3, mv("e7e5")}));
  unmakeMove(b.pos);
  unmakeMove(b.pos);
  EXPECT_EQ(countersOf(b.pos), (Counters{0, 1, kNoMove}));
  EXPECT_EQ(fenOf(b.pos), kStartFen);
}

TEST(MakeUnmake, NullMoveClearsTheEnPassantSquareAndKeepsRule50) {
  testutil::initTables();
  testutil::Board b;
  play(b, {"g1f3", "g8f6", "e2e4"});
  const Snapshot before = snap(b.pos);
  ASSERT_EQ(b.pos.epSquare, sq("e3"));
  uint64_t key = makeNullMove(b.pos);
  EXPECT_EQ(key, b.pos.key);
  EXPECT_EQ(b.pos.epSquare, kNoSquare);
  EXPECT_EQ(b.pos.sideToMove, kWhite);
  EXPECT_EQ(b.pos.rule50, 0);
  EXPECT_EQ(b.pos.pawnKey, before.pos.pawnKey);
  EXPECT_TRUE(consistent(b.pos));
  unmakeNullMove(b.pos);
  EXPECT_TRUE(restored(b.pos, before));
  play(b, {"b8c6"});
  makeNullMove(b.pos);
  EXPECT_EQ(b.pos.rule50, 1);
  unmakeNullMove(b.pos);
}

TEST(MakeUnmake, Rule50SaturatesAt255) {
  testutil::initTables();
  testutil::Board b("4k3/8/8/8/8/8/8/R3K3 w - -");
  b.pos.rule50 = 254;
  makeMove(b.pos, mv("a1a2"));
  EXPECT_EQ(b.pos.rule50, 255);
  makeMove(b.pos, mv("e8d8"));
  EXPECT_EQ(b.pos.rule50, 255) << "no wrap to 0";
  makeMove(b.pos, mv("a2a3"));
  EXPECT_EQ(b.pos.rule50, 255);
  unmakeMove(b.pos);
  unmakeMove(b.pos);
  EXPECT_EQ(b.pos.rule50, 255);
  unmakeMove(b.pos);
  EXPECT_EQ(b.pos.rule50, 254);
  b.pos.rule50 = 255;
  EXPECT_EQ(isDraw(b.pos, 1), 1) << "a saturated count is still past the limit";
}

TEST(MakeUnmake, TraceHookSeesEveryMoveAndNullMove) {
  testutil::initTables();
  static std::vector<Move> seen;
  static std::vector<std::string> fens;
  seen.clear();
  fens.clear();
  moveTraceHook = [](const Position& p, Move m) {
    seen.push_back(m);
    fens.push_back(fenOf(p));
  };
  testutil::Board b;
  makeMove(b.pos, mv("e2e4"));
  makeNullMove(b.pos);
  unmakeNullMove(b.pos);
  unmakeMove(b.pos);
  moveTraceHook = nullptr;
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], mv("e2e4"));
  EXPECT_EQ(fens[0], kStartFen) << "the hook sees the position before the move";
  EXPECT_EQ(seen[1], kNoMove);
}

// ---------------------------------------------------------------- legality

TEST(Legality, EnPassantThatExposesTheKingAlongTheRankIsIllegal) {
  testutil::initTables();
  testutil::Board pinned("8/8/8/KPp4r/8/8/8/4k3 w - c6");
  EXPECT_TRUE(contains(allMoves(pinned.pos), mv("b5c6")));
  EXPECT_EQ(isLegal(pinned.pos, kWhite, mv("b5c6")), 0);
  EXPECT_FALSE(contains(legalMoves(pinned.pos), mv("b5c6")));
  EXPECT_EQ(isLegal(pinned.pos, kWhite, mv("b5b6")), 1) << "the plain push keeps the c5 pawn in the way";
  testutil::Board free("8/8/7r/KPp5/8/8/8/4k3 w - c6");
  EXPECT_EQ(isLegal(free.pos, kWhite, mv("b5c6")), 1);
  // Black, with the rook on the other side.
  testutil::Board black("8/2p5/3p4/KP5r/1R2Pp1k/8/6P1/8 b - e3");
  EXPECT_EQ(isLegal(black.pos, kBlack, mv("f4e3")), 0);
  // En passant that takes the checking pawn is legal.
  testutil::Board evade("8/8/8/2k5/2pP4/8/B7/4K3 b - d3");
  EXPECT_EQ(isLegal(evade.pos, kBlack, mv("c4d3")), 1);
}

TEST(Legality, KingMovesAlongTheCheckingLineAndPins) {
  testutil::initTables();
  testutil::Board b("4k3/8/8/8/8/8/8/r3K3 w - -");
  EXPECT_EQ(isLegal(b.pos, kWhite, mv("e1f1")), 0) << "still on the rook's rank behind the king";
  EXPECT_EQ(isLegal(b.pos, kWhite, mv("e1d1")), 0);
  EXPECT_EQ(isLegal(b.pos, kWhite, mv("e1e2")), 1);
  EXPECT_EQ(isLegal(b.pos, kWhite, mv("e1f2")), 1);
  // Taking a defended piece with the king is illegal; an undefended one is fine.
  testutil::Board take("4k3/8/8/8/8/2p5/3n4/4K3 w - -");
  EXPECT_EQ(isLegal(take.pos, kWhite, mv("e1d2")), 0);
  testutil::Board take2("4k3/8/8/8/8/8/3n4/4K3 w - -");
  EXPECT_EQ(isLegal(take2.pos, kWhite, mv("e1d2")), 1);
  // A pinned rook may move along the pin, not off it; it may take the pinner.
  testutil::Board pin("4r1k1/8/8/8/8/8/4R3/4K3 w - -");
  EXPECT_EQ(isLegal(pin.pos, kWhite, mv("e2e5")), 1);
  EXPECT_EQ(isLegal(pin.pos, kWhite, mv("e2e8")), 1);
  EXPECT_EQ(isLegal(pin.pos, kWhite, mv("e2d2")), 0);
  // Castling out of, through or into check.
  testutil::Board c("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
  EXPECT_EQ(isLegal(c.pos, kWhite, mv("e1g1")), 1);
  testutil::Board into("r3k2r/8/8/8/8/8/7b/R3K2R w KQkq -");
  EXPECT_EQ(isLegal(into.pos, kWhite, mv("e1g1")), 0) << "g1 attacked";
  EXPECT_EQ(isLegal(into.pos, kWhite, mv("e1c1")), 1);
}

// ---------------------------------------------------------------- draws

TEST(Draws, RepetitionInsideTheSearchLineCountsAtOnce) {
  testutil::initTables();
  testutil::Board b;
  play(b, {"g1f3", "g8f6", "f3g1", "f6g8"});
  ASSERT_EQ(b.pos.key, b.pos.owner->undoStack[0].key);
  EXPECT_EQ(isDraw(b.pos, 4), 1) << "the start position lies inside the line";
  EXPECT_EQ(isDraw(b.pos, 5), 1);
  EXPECT_EQ(isDraw(b.pos, 3), 0) << "one ply short: the start is game history, seen once";
  EXPECT_EQ(isDraw(b.pos, 0), 0) << "the game level needs a third occurrence";
  play(b, {"g1f3", "g8f6", "f3g1", "f6g8"});
  EXPECT_EQ(isDraw(b.pos, 0), 1) << "third occurrence";
  EXPECT_EQ(isDraw(b.pos, 2), 1);
  // One ply later the position differs.
  play(b, {"g1f3"});
  EXPECT_EQ(isDraw(b.pos, 0), 1) << "the position after Nf3 is here the third time too";
  play(b, {"b8c6"});
  EXPECT_EQ(isDraw(b.pos, 0), 0);
}

TEST(Draws, RepetitionScanStopsAtIrreversibleMovesAndNullMoves) {
  testutil::initTables();
  // A pawn move between the cycles: only the positions after it repeat.
  testutil::Board b;
  play(b, {"g1f3", "g8f6", "f3g1", "f6g8", "e2e3", "e7e6", "g1f3", "g8f6", "f3g1", "f6g8"});
  EXPECT_EQ(isDraw(b.pos, 0), 0);
  EXPECT_EQ(isDraw(b.pos, 4), 1);
  // The scan looks back no further than the fifty-move count allows.
  testutil::Board c;
  play(c, {"g1f3", "g8f6", "f3g1", "f6g8", "g1f3", "g8f6", "f3g1", "f6g8"});
  ASSERT_EQ(c.pos.rule50, 8);
  EXPECT_EQ(isDraw(c.pos, 0), 1);
  c.pos.rule50 = 7;
  EXPECT_EQ(isDraw(c.pos, 0), 0) << "the first occurrence lies beyond the count";
  c.pos.rule50 = 3;
  EXPECT_EQ(isDraw(c.pos, 8), 0) << "too few plies for any repetition";
  c.pos.rule50 = 8;
  // King steps there and back, then a rook triangle with a null move on the
  // scanned parity: the start position four plies back is not reached.
  testutil::Board n("r3k3/8/8/8/8/8/8/R3K3 w - -");
  play(n, {"e1e2", "e8e7", "e2e1", "e7e8"});
  makeMove(n.pos, mv("a1b1"));
  makeMove(n.pos, mv("a8b8"));
  makeNullMove(n.pos);
  makeMove(n.pos, mv("b8c8"));
  makeMove(n.pos, mv("b1a1"));
  makeMove(n.pos, mv("c8a8"));
  ASSERT_EQ(n.pos.key, n.pos.owner->undoStack[0].key);
  ASSERT_EQ(n.pos.rule50, 9);
  ASSERT_EQ(n.pos.owner->undoStack[6].move, kNoMove);
  ASSERT_EQ(n.pos.key, n.pos.owner->undoStack[4].key);
  EXPECT_EQ(isDraw(n.pos, 6), 0) << "a null move cuts the line";
  // The same triangle without the null move repeats.
  testutil::Board t("r3k3/8/8/8/8/8/8/R3K3 w - -");
  play(t, {"a1b1", "a8b8", "b1c1", "b8c8", "c1a1", "c8a8"});
  ASSERT_EQ(t.pos.key, t.pos.owner->undoStack[0].key);
  EXPECT_EQ(isDraw(t.pos, 6), 1);
}

// The position right after a double step repeats later without its
// en-passant square when no pawn could have taken there; with a pawn that
// could, it was a different position.
TEST(Draws, DoubleStepPositionRepeatsUnlessEnPassantWasPossible) {
  testutil::initTables();
  testutil::Board b;
  play(b, {"e2e4", "g8f6", "g1f3", "f6g8", "f3g1", "g8f6", "g1f3", "f6g8", "f3g1"});
  EXPECT_EQ(isDraw(b.pos, 0), 1) << "third occurrence of the position after e2e4";
  testutil::Board c("4k3/8/8/8/5p2/8/4P3/4K2N w - -");
  play(c, {"e2e4", "e8d8", "h1g3", "d8e8", "g3h1", "e8d8", "h1g3", "d8e8", "g3h1"});
  EXPECT_EQ(isDraw(c.pos, 0), 0) << "f4xe3 was possible the first time";
  play(c, {"e8d8", "h1g3", "d8e8", "g3h1"});
  EXPECT_EQ(isDraw(c.pos, 0), 1) << "the later two and this one";
}

TEST(Draws, FiftyMoveRuleEndsTheSearchLineAtAHundredPlies) {
  testutil::initTables();
  testutil::Board b("4k3/8/8/8/8/8/8/R3K3 w - -");
  b.pos.rule50 = 98;
  makeMove(b.pos, mv("a1a2"));
  ASSERT_EQ(b.pos.rule50, 99);
  EXPECT_EQ(isDraw(b.pos, 1), 0);
  makeMove(b.pos, mv("e8d8"));
  ASSERT_EQ(b.pos.rule50, 100);
  EXPECT_EQ(isDraw(b.pos, 1), 1) << "the hundredth ply ends the line, as an arbiter would";
  EXPECT_EQ(isDraw(b.pos, 0), 0) << "at the game level a position with moves left plays on";
  makeMove(b.pos, mv("a2a3"));
  EXPECT_EQ(isDraw(b.pos, 0), 0) << "the game level waits for more than a hundred";
  // A mate given with the hundredth ply stands.
  testutil::Board m("k7/8/1K6/8/8/8/8/7R w - -");
  m.pos.rule50 = 99;
  makeMove(m.pos, mv("h1h8"));
  ASSERT_EQ(m.pos.rule50, 100);
  EXPECT_EQ(isDraw(m.pos, 1), 0) << "checkmate";
  // At the game level it decides once no move is left.
  testutil::Board stale("k7/8/1Q6/8/8/8/8/4K3 b - -");
  ASSERT_TRUE(legalMoves(stale.pos).empty());
  stale.pos.rule50 = 101;
  EXPECT_EQ(isDraw(stale.pos, 0), 1);
  stale.pos.rule50 = 3;
  EXPECT_EQ(isDraw(stale.pos, 0), 0) << "a stalemate is not isDraw's business";
}
