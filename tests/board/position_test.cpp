// Position record: FEN reading (and its refusals), hash keys, clearing and
// placing pieces, FEN written back.
#include <gtest/gtest.h>

#include <bit>
#include <set>

#include "board/board_helpers.h"

using namespace board;
using namespace boardtest;

namespace {

uint64_t withSide(uint64_t key, int side) { return (key & ~uint64_t{1}) + side; }

// Reads a FEN and returns the result code with the reason given; the board
// itself prints nothing (its callers word the message).
std::pair<int, std::string> setWithReason(testutil::Board& b, const std::string& fen) {
  b.pos.owner = b.history.get();
  std::string reason = "untouched";
  testing::internal::CaptureStdout();
  int code = setFromFen(b.pos, fen, &reason);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << fen;
  return {code, reason};
}

}  // namespace

TEST(PositionSetup, StartPositionFields) {
  testutil::initTables();
  testutil::Board b;
  const Position& p = b.pos;
  EXPECT_EQ(p.board[kA1], pieceCode(kWhite, kRook));
  EXPECT_EQ(p.board[sq("d1")], pieceCode(kWhite, kQueen));
  EXPECT_EQ(p.board[kE8], pieceCode(kBlack, kKing));
  EXPECT_EQ(p.board[sq("g8")], pieceCode(kBlack, kKnight));
  EXPECT_EQ(p.board[sq("e2")], pieceCode(kWhite, kPawn));
  EXPECT_EQ(p.board[sq("e4")], 0);
  EXPECT_EQ(p.board[64], 0) << "the no-square slot is always empty";
  EXPECT_EQ(p.pieces[kWhite][0], 0xFFFFull);
  EXPECT_EQ(p.pieces[kBlack][0], 0xFFFF000000000000ull);
  EXPECT_EQ(p.pieces[kWhite][kPawn], 0xFF00ull);
  EXPECT_EQ(p.pieces[kBlack][kKnight], bit(sq("b8")) | bit(sq("g8")));
  EXPECT_EQ(p.pieces[kWhite][7], 0u);
  EXPECT_EQ(p.kingSquare[kWhite], kE1);
  EXPECT_EQ(p.kingSquare[kBlack], kE8);
  // 8 pawns, 2 knights, 2 bishops, 2 rooks, 1 queen in base 16.
  EXPECT_EQ(p.materialSignature[kWhite], 0x12228);
  EXPECT_EQ(p.materialSignature[kBlack], 0x12228);
  EXPECT_EQ(p.pieceMaterial[kWhite], 32);
  EXPECT_EQ(p.pieceMaterial[kBlack], 32);
  EXPECT_EQ(p.sideToMove, kWhite);
  EXPECT_EQ(p.castleRights, 15);
  EXPECT_EQ(p.epSquare, kNoSquare);
  EXPECT_EQ(p.rule50, 0);
  EXPECT_EQ(countersOf(p), (Counters{0, 1, kNoMove}));
  EXPECT_TRUE(consistent(p));
}

TEST(PositionSetup, BareKingsNeedNoOtherFields) {
  testutil::initTables();
  testutil::Board b;
  EXPECT_EQ(b.set("8/8/8/8/8/8/8/K6k w - -"), kFenOk);
  EXPECT_EQ(b.pos.kingSquare[kWhite], kA1);
  EXPECT_EQ(b.pos.kingSquare[kBlack], kH1);
  EXPECT_EQ(b.pos.castleRights, 0);
  EXPECT_EQ(b.pos.epSquare, kNoSquare);
  EXPECT_EQ(b.pos.rule50, 0);
  EXPECT_EQ(b.pos.materialSignature[kWhite], 0);
  EXPECT_EQ(b.pos.pawnKey, 0u) << "no pawns, no pawn key";
  EXPECT_TRUE(consistent(b.pos));
}

TEST(PositionSetup, EveryTestPositionIsAccepted) {
  testutil::initTables();
  for (const auto& fen : variedFens()) {
    testutil::Board b;
    EXPECT_EQ(b.set(fen), kFenOk) << fen;
    EXPECT_TRUE(consistent(b.pos)) << fen;
  }
}

TEST(PositionSetup, HalfmoveAndMoveNumberFieldsAreIgnored) {
  testutil::initTables();
  testutil::Board b("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 57 90");
  EXPECT_EQ(b.pos.rule50, 0);
  EXPECT_EQ(b.pos.owner->undoCount, 0);
  testutil::Board plain("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
  Position expected = plain.pos;
  expected.owner = b.pos.owner;
  EXPECT_TRUE(samePosition(b.pos, expected));
  EXPECT_EQ(positionToFen(b.pos, true), "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 0");
}

TEST(PositionSetup, MissingFieldsKeepSideAndGiveNoRightsNoEnPassant) {
  testutil::initTables();
  testutil::Board b("4k3/8/8/8/8/8/8/4K3 b - -");
  ASSERT_EQ(b.set("r3k2r/8/8/8/8/8/8/R3K2R"), kFenOk);
  EXPECT_EQ(b.pos.sideToMove, kBlack) << "no side field: the previous side stays";
  EXPECT_EQ(b.pos.castleRights, 0);
  EXPECT_EQ(b.pos.epSquare, kNoSquare);
  EXPECT_TRUE(consistent(b.pos));
}

TEST(PositionSetup, UnknownSideLetterKeepsThePreviousSide) {
  testutil::initTables();
  testutil::Board b("4k3/8/8/8/8/8/8/4K3 b - -");
  ASSERT_EQ(b.set("4k3/8/8/8/8/8/3P4/4K3 x - -"), kFenOk);
  EXPECT_EQ(b.pos.sideToMove, kBlack);
  ASSERT_EQ(b.set("4k3/8/8/8/8/8/3P4/4K3 w - -"), kFenOk);
  ASSERT_EQ(b.set("4k3/8/8/8/8/8/3P4/4K3 - - -"), kFenOk);
  EXPECT_EQ(b.pos.sideToMove, kWhite);
  EXPECT_TRUE(consistent(b.pos));
}

TEST(PositionSetup, EnPassantFieldKeptOnlyWhereADoubleStepCanHaveHappened) {
  testutil::initTables();
  testutil::Board b;
  struct Case {
    const char* fen;
    int ep;
  } cases[] = {
      {"4k3/8/8/8/4P3/8/8/4K3 b - e3", 20},
      {"4k3/8/8/8/4P3/8/8/4K3 b - -", kNoSquare},
      {"4k3/8/8/3p4/8/8/8/4K3 w - d6", 43},
      {"4k3/8/8/8/8/8/8/4K3 b - e3", kNoSquare},      // no pawn that stepped
      {"4k3/8/8/8/4p3/8/8/4K3 b - e3", kNoSquare},    // own pawn, not the enemy's
      {"4k3/8/8/8/4P3/8/8/4K3 w - e3", kNoSquare},    // wrong side to move for rank 3
      {"4k3/8/8/8/4P3/8/4N3/4K3 b - e3", kNoSquare},  // origin square occupied
      {"4k3/8/8/8/4P3/4N3/8/4K3 b - e3", kNoSquare},  // passed square occupied
      {"4k3/8/8/8/4P3/8/8/4K3 b - e88", kNoSquare},
      {"4k3/8/8/8/4P3/8/8/4K3 b - e", kNoSquare},
      {"4k3/8/8/8/4P3/8/8/4K3 b - i3", kNoSquare},
      {"4k3/8/8/8/4P3/8/8/4K3 b - e9", kNoSquare},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(b.set(c.fen), kFenOk) << c.fen;
    EXPECT_EQ(b.pos.epSquare, c.ep) << c.fen;
    EXPECT_TRUE(consistent(b.pos)) << c.fen;
  }
}

TEST(PositionSetup, CastlingLettersAreOredNotAdded) {
  testutil::initTables();
  testutil::Board b;
  EXPECT_EQ(b.set("4k3/8/8/8/8/8/8/4K2R w KK -"), kFenOk);
  EXPECT_EQ(b.pos.castleRights, kWhiteKingSide);
  EXPECT_EQ(b.set("r3k2r/8/8/8/8/8/8/R3K2R w KQkqKQkq -"), kFenOk);
  EXPECT_EQ(b.pos.castleRights, 15);
  EXPECT_EQ(b.set("r3k2r/8/8/8/8/8/8/R3K2R w qk -"), kFenOk);
  EXPECT_EQ(b.pos.castleRights, kBlackKingSide | kBlackQueenSide);
  EXPECT_TRUE(consistent(b.pos));
}

TEST(PositionSetup, ContradictedRightsAreReportedAndCleared) {
  testutil::initTables();
  testutil::Board b;
  struct Case {
    const char* fen;
    int rights;
  } cases[] = {
      {"r3k2r/8/8/8/8/8/8/R3K3 w KQkq -", kWhiteQueenSide | kBlackKingSide | kBlackQueenSide},
      {"r3k2r/8/8/8/8/8/8/4K2R w KQkq -", kWhiteKingSide | kBlackKingSide | kBlackQueenSide},
      {"r3k2r/8/8/8/8/8/8/R2K3R w KQkq -", kBlackKingSide | kBlackQueenSide},  // king off e1
      {"r3k3/8/8/8/8/8/8/R3K2R b KQkq -", kWhiteKingSide | kWhiteQueenSide | kBlackQueenSide},
      {"r2k3r/8/8/8/8/8/8/R3K2R w KQkq -", kWhiteKingSide | kWhiteQueenSide},
      {"4k2n/8/8/8/8/8/8/4K2B w Kk -", 0},  // wrong piece on the rook square
  };
  for (const auto& c : cases) {
    auto [code, reason] = setWithReason(b, c.fen);
    EXPECT_EQ(code, kFenCastlingFixed) << c.fen;
    EXPECT_NE(reason.find("castling"), std::string::npos) << c.fen << ": " << reason;
    EXPECT_EQ(b.pos.castleRights, c.rights) << c.fen;
    EXPECT_TRUE(consistent(b.pos)) << "the key must hold the cleared rights: " << c.fen;
  }
  // A right backed by its pieces is silent.
  auto [code, reason] = setWithReason(b, "4k3/8/8/8/8/8/8/R3K3 w Q -");
  EXPECT_EQ(code, kFenOk);
  EXPECT_EQ(reason, "");
  EXPECT_EQ(b.pos.castleRights, kWhiteQueenSide);
}

TEST(PositionSetup, SetupResetsTheOwnersHistory) {
  testutil::initTables();
  testutil::Board b;
  makeMove(b.pos, mv("e2e4"));
  makeMove(b.pos, mv("e7e5"));
  makeMove(b.pos, mv("g1f3"));
  ASSERT_EQ(b.pos.owner->undoCount, 3);
  ASSERT_EQ(b.set("4k3/8/8/8/8/8/8/4K3 w - -"), kFenOk);
  EXPECT_EQ(countersOf(b.pos), (Counters{0, 1, kNoMove}));
  for (int i = 0; i < 2; ++i) {
    const UndoEntry& e = b.pos.owner->undoStack[i];
    EXPECT_EQ(e.key, 0u);
    EXPECT_EQ(e.pawnKey, 0u);
    EXPECT_EQ(e.move, kNoMove);
    EXPECT_EQ(e.epSquare, 0);
    EXPECT_EQ(e.rule50, 0);
    EXPECT_EQ(e.castleRights, 0);
    EXPECT_EQ(e.capturedType, 0);
  }
}

// Malformed or impossible FEN text is refused with a message and the
// previous position, history included, stays exactly as it was.
TEST(PositionSetup, RejectedFenLeavesThePositionUntouched) {
  testutil::initTables();
  const char* bad[] = {
      "rnbqkbnr/ppppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",    // nine files
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR/8 w KQkq -",   // nine ranks
      "rnbqkbnr/pppppppp/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",       // seven ranks
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR/ w KQkq -",    // trailing slash
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBN w KQkq -",      // short last rank
      "rnbqkbnr/ppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",      // short inner rank
      "4k3/8/8/7/8/8/8/4K3 w - -",                                // seven squares in a rank
      "rnbqkbnr/pppppppp/44/8/8/8/PPPPPPPP/RNBQKB1NR w KQkq -",   // nine in the last rank
      "",
      "   ",
      "hello world",
      "8/8/8/8/8/8/8/8 w - -",                       // no kings
      "4k3/8/8/8/8/8/8/8 w - -",                     // no white king
      "8/8/8/8/8/8/8/4K3 b - -",                     // no black king
      "4k3/8/8/8/8/8/8/3KK3 w - -",                  // two white kings
      "3kk3/8/8/8/8/8/8/4K3 b - -",                  // two black kings
      "4k3/8/8/8/8/8/8/P3K3 w - -",                  // white pawn on rank 1
      "P3k3/8/8/8/8/8/8/4K3 w - -",                  // white pawn on rank 8
      "4k2p/8/8/8/8/8/8/4K3 w - -",                  // black pawn on rank 8
      "4k3/8/8/8/8/8/8/p3K3 b - -",                  // black pawn on rank 1
      "4k3/8/8/8/8/8/8/4R1K1 w - -",                 // black in check, white to move
      "4k3/8/8/8/8/8/3p4/4K3 b - -",                 // white in check, black to move
      "4k3/8/8/8/8/NNNNNNNN/NNNNNNNN/4K3 w - -",     // 17 white men
      "4k3/pppppppp/nnnnnnnn/n7/8/8/8/4K3 w - -",    // 18 black men
  };
  for (const char* fen : bad) {
    testutil::Board b("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
    makeMove(b.pos, mv("e1g1"));
    makeMove(b.pos, mv("a8b8"));
    const Position before = b.pos;
    const Counters counters = countersOf(b.pos);
    const UndoEntry first = b.pos.owner->undoStack[0];
    auto [code, reason] = setWithReason(b, fen);
    EXPECT_EQ(code, kFenRejected) << "'" << fen << "'";
    EXPECT_FALSE(reason.empty() || reason == "untouched") << "'" << fen << "' gives no reason";
    EXPECT_TRUE(samePosition(b.pos, before)) << "'" << fen << "'";
    EXPECT_EQ(countersOf(b.pos), counters) << "'" << fen << "'";
    EXPECT_EQ(b.pos.owner->undoStack[0].key, first.key) << "'" << fen << "'";
    EXPECT_EQ(b.pos.owner->undoStack[0].move, first.move) << "'" << fen << "'";
    // The history still unwinds to the original position.
    unmakeMove(b.pos);
    unmakeMove(b.pos);
    EXPECT_EQ(fenOf(b.pos), "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -") << "'" << fen << "'";
  }
}

TEST(PositionSetup, LimitsThatAreStillLegalAreAccepted) {
  testutil::initTables();
  testutil::Board b;
  EXPECT_EQ(b.set("4k3/8/8/8/8/NNNNNNNN/NNNNNNN1/4K3 w - -"), kFenOk) << "16 men is the most";
  EXPECT_EQ(b.set("4k3/8/8/8/8/8/8/4R1K1 b - -"), kFenOk) << "the side to move may be in check";
  EXPECT_EQ(b.set("4k3/8/8/8/8/8/8/4K3 w - -"), kFenOk);
}

// ---------------------------------------------------------------- keys

TEST(PositionKeys, ZobristTableIsFilledWithDenseDistinctKeys) {
  testutil::initTables();
  std::set<uint64_t> seen;
  for (uint64_t k : ZobristKeys) {
    EXPECT_GE(std::popcount(k), 24);
    seen.insert(k);
  }
  EXPECT_EQ(seen.size(), ZobristKeys.size());
  // Filling again keeps the same table.
  auto copy = ZobristKeys;
  initZobristKeys();
  EXPECT_EQ(copy, ZobristKeys);
}

TEST(PositionKeys, EmptyBoardKeyIsTheNoRightsEntry) {
  testutil::initTables();
  Position p{};
  clearBoard(p);
  p.castleRights = 0;
  p.sideToMove = kWhite;
  computeKeys(p);
  EXPECT_EQ(p.key, ZobristKeys[0] & ~uint64_t{1});
  EXPECT_EQ(p.pawnKey, 0u);
  p.sideToMove = kBlack;
  computeKeys(p);
  EXPECT_EQ(p.key, (ZobristKeys[0] & ~uint64_t{1}) + 1);
}

TEST(PositionKeys, KeyIsBuiltFromPieceSquareRightsAndEnPassantEntries) {
  testutil::initTables();
  testutil::Board b("4k3/8/8/8/4P3/8/8/4K3 b - e3");
  const int wp = pieceCode(kWhite, kPawn), wk = pieceCode(kWhite, kKing), bk = pieceCode(kBlack, kKing);
  uint64_t expected = ZobristKeys[wp * 64 + sq("e4")] ^ ZobristKeys[wk * 64 + kE1] ^ ZobristKeys[bk * 64 + kE8] ^
                      ZobristKeys[sq("e3")] ^ ZobristKeys[0];
  EXPECT_EQ(b.pos.key, withSide(expected, kBlack));
  EXPECT_EQ(b.pos.pawnKey, ZobristKeys[wp * 64 + sq("e4")]);

  testutil::Board noEp("4k3/8/8/8/4P3/8/8/4K3 b - -");
  EXPECT_EQ(b.pos.key ^ noEp.pos.key, ZobristKeys[sq("e3")] & ~uint64_t{1});
  EXPECT_EQ(b.pos.pawnKey, noEp.pos.pawnKey);

  // The rights entry is swapped, never added to.
  testutil::Board rights("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -"), none("r3k2r/8/8/8/8/8/8/R3K2R w - -");
  EXPECT_EQ(rights.pos.key ^ none.pos.key, (ZobristKeys[15] ^ ZobristKeys[0]) & ~uint64_t{1});
}

TEST(PositionKeys, SideToMoveOnlyChangesBitZero) {
  testutil::initTables();
  int compared = 0;
  for (const auto& fen : variedFens()) {
    std::string placement = fen.substr(0, fen.find(' '));
    testutil::Board w, bl;
    // Placements with a king in check only exist with one side to move.
    const int cw = w.set(placement + " w - -");
    const int cb = bl.set(placement + " b - -");
    if (cw != kFenOk || cb != kFenOk) continue;
    EXPECT_EQ(w.pos.key ^ bl.pos.key, 1u) << placement;
    EXPECT_EQ(w.pos.key & 1, 0u);
    EXPECT_EQ(bl.pos.key & 1, 1u);
    EXPECT_EQ(w.pos.pawnKey, bl.pos.pawnKey);
    ++compared;
  }
  EXPECT_GE(compared, 10);
}

TEST(PositionSetup, ClearBoardAndPutPiece) {
  testutil::initTables();
  testutil::Board b("4k3/8/8/8/4P3/8/8/4K3 b - e3");
  makeMove(b.pos, mv("e8d8"));
  const uint64_t key = b.pos.key, pawnKey = b.pos.pawnKey;
  const int side = b.pos.sideToMove;
  clearBoard(b.pos);
  for (int s = 0; s < 65; ++s) EXPECT_EQ(b.pos.board[s], 0);
  for (int c = 0; c < 2; ++c)
    for (int t = 0; t < 8; ++t) EXPECT_EQ(b.pos.pieces[c][t], 0u);
  EXPECT_EQ(b.pos.castleRights, 15);
  EXPECT_EQ(b.pos.epSquare, kNoSquare);
  EXPECT_EQ(b.pos.rule50, 0);
  EXPECT_EQ(b.pos.kingSquare[0], kNoSquare);
  EXPECT_EQ(b.pos.kingSquare[1], kNoSquare);
  EXPECT_EQ(b.pos.materialSignature[0] | b.pos.materialSignature[1], 0);
  EXPECT_EQ(b.pos.pieceMaterial[0] | b.pos.pieceMaterial[1], 0);
  EXPECT_EQ(countersOf(b.pos), (Counters{0, 1, kNoMove}));
  // Side and keys are left for the caller.
  EXPECT_EQ(b.pos.sideToMove, side);
  EXPECT_EQ(b.pos.key, key);
  EXPECT_EQ(b.pos.pawnKey, pawnKey);

  putPiece(b.pos, kBlack, kQueen, sq("d5"));
  putPiece(b.pos, kBlack, kKnight, sq("a1"));
  putPiece(b.pos, kWhite, kKing, sq("h3"));
  putPiece(b.pos, kWhite, kPawn, sq("b2"));
  putPiece(b.pos, kWhite, kRook, sq("c7"));
  EXPECT_EQ(b.pos.board[sq("d5")], pieceCode(kBlack, kQueen));
  EXPECT_EQ(b.pos.kingSquare[kWhite], sq("h3"));
  EXPECT_EQ(b.pos.kingSquare[kBlack], kNoSquare);
  EXPECT_EQ(b.pos.materialSignature[kBlack], 65536 + 16);
  EXPECT_EQ(b.pos.materialSignature[kWhite], 4096 + 1);
  EXPECT_EQ(b.pos.pieceMaterial[kBlack], 13);
  EXPECT_EQ(b.pos.pieceMaterial[kWhite], 5);
  EXPECT_EQ(b.pos.pieces[kBlack][0], bit(sq("d5")) | bit(sq("a1")));
  EXPECT_EQ(b.pos.pieces[kWhite][kRook], bit(sq("c7")));
  EXPECT_EQ(b.pos.key, key) << "putPiece leaves the keys alone";
}

// ---------------------------------------------------------------- FEN out and back in

TEST(PositionFen, WrittenFenReadsBackToTheSamePositionAlongPlayouts) {
  testutil::initTables();
  int checked = forPlayoutPositions(variedFens(), 120, 7, [](testutil::Board& b) {
    const std::string fen = fenOf(b.pos);
    testutil::Board copy;
    ASSERT_EQ(copy.set(fen), kFenOk) << fen;
    Position expected = b.pos;
    expected.owner = copy.pos.owner;
    expected.rule50 = 0;  // the counters are not read back
    ASSERT_TRUE(samePosition(copy.pos, expected)) << fen;
    EXPECT_EQ(fenOf(copy.pos), fen);
    EXPECT_EQ(positionToFen(b.pos, true),
              fen + " " + std::to_string(b.pos.rule50) + " " + std::to_string(b.pos.owner->undoCount));
  });
  EXPECT_GT(checked, 1500);
}
