// "position", "ucinewgame" and the line dispatcher, run in process so the
// resulting game position can be inspected directly.
#include <gtest/gtest.h>

#include "protocol/game_fixture.h"

using namespace board;

namespace {

class UciPosition : public testutil::GameFixture {
 protected:
  using Lines = std::vector<std::string>;
  const std::string kAfterE4E5 = "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2";
};

std::string shuffleMoves(int rounds) {
  std::string moves;
  for (int i = 0; i < rounds; ++i) moves += " g1f3 g8f6 f3g1 f6g8";
  return moves;
}

}  // namespace

TEST_F(UciPosition, StartposAndFenWithMoves) {
  EXPECT_EQ(uci("position startpos moves e2e4 e7e5"), Lines{});
  EXPECT_EQ(fen(), kAfterE4E5);
  EXPECT_EQ(historyLength(), 2);

  // Castling both ways resets the halfmove counter and clears the rights.
  EXPECT_EQ(uci("position fen r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1 moves e1g1 e8c8"), Lines{});
  EXPECT_EQ(fen(), "2kr3r/8/8/8/8/8/8/R4RK1 w - - 0 2");

  // A fresh "position" replaces the game and its history.
  EXPECT_EQ(uci("position startpos"), Lines{});
  EXPECT_EQ(fen(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 0");

  // En passant by its coordinate token.
  EXPECT_EQ(uci("position fen 4k3/8/8/3pP3/8/8/8/4K3 w - d6 moves e5d6"), Lines{});
  EXPECT_EQ(fen(), "4k3/8/3P4/8/8/8/8/4K3 b - - 0 1");
}

TEST_F(UciPosition, PromotionTokensNameThePiece) {
  const std::string start = "position fen k7/4P3/8/8/8/8/8/4K3 w - - moves ";
  EXPECT_EQ(uci(start + "e7e8q"), Lines{});
  EXPECT_EQ(fen(), "k3Q3/8/8/8/8/8/8/4K3 b - - 0 1");
  EXPECT_EQ(uci(start + "e7e8n"), Lines{});
  EXPECT_EQ(fen(), "k3N3/8/8/8/8/8/8/4K3 b - - 0 1");
  EXPECT_EQ(uci(start + "e7e8r a8b7"), Lines{});
  EXPECT_EQ(fen(), "4R3/1k6/8/8/8/8/8/4K3 w - - 1 2");
  EXPECT_EQ(uci(start + "e7e8b"), Lines{});
  EXPECT_EQ(fen(), "k3B3/8/8/8/8/8/8/4K3 b - - 0 1");

  // A promotion must name its piece, and only a promotion may.
  EXPECT_EQ(uci(start + "e7e8"), Lines{"info string illegal move e7e8"});
  EXPECT_EQ(fen(), "k7/4P3/8/8/8/8/8/4K3 w - - 0 0");
  EXPECT_EQ(uci(start + "e7e8k"), Lines{"info string illegal move e7e8k"});
  EXPECT_EQ(uci(start + "e7e8p"), Lines{"info string illegal move e7e8p"});
  EXPECT_EQ(uci("position startpos moves e2e4q"), Lines{"info string illegal move e2e4q"});
  EXPECT_EQ(historyLength(), 0);
}

TEST_F(UciPosition, IllegalTokenStopsAndKeepsEarlierMoves) {
  const std::vector<std::string> bad = {"e1e3", "e7e5", "e2",   "e2e4e5", "i2i4", "e2e9",
                                        "0000", "null", "e1g1", "a1a1",   "\x01\x02\x03\x04"};
  for (const auto& token : bad) {
    EXPECT_EQ(uci("position startpos moves e2e4 e7e5 " + token + " g1f3"), Lines{"info string illegal move " + token})
        << token;
    EXPECT_EQ(fen(), kAfterE4E5) << token;
  }
  // The reply stays bounded whatever the token's length.
  std::string longToken(5000, 'x');
  Lines reply = uci("position startpos moves " + longToken);
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(reply[0], "info string illegal move " + std::string(100, 'x'));
}

TEST_F(UciPosition, LongGameKeepsABoundedConsistentHistory) {
  // 1,200 reversible plies: more than the undo stack holds.
  EXPECT_EQ(uci("position startpos moves" + shuffleMoves(300)), Lines{});
  EXPECT_EQ(positionToFen(pos(), false), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
  EXPECT_EQ(pos().rule50, 255) << "the halfmove counter saturates";
  EXPECT_LE(historyLength(), kUndoCapacity);
  // Repetition looks back as far as the halfmove counter: that much must remain.
  EXPECT_GE(historyLength(), pos().rule50);
  EXPECT_EQ(isDraw(pos(), 0), 1) << "the start position has occurred many times";

  // Every kept entry unwinds to a sound position with matching keys.
  UndoHistory history = search::game->history;
  Position p = pos();
  p.owner = &history;
  while (history.undoCount > 0) {
    unmakeMove(p);
    Position fresh = p;
    computeKeys(fresh);
    ASSERT_EQ(fresh.key, p.key) << "after unwinding to entry " << history.undoCount;
    ASSERT_EQ(fresh.pawnKey, p.pawnKey);
    ASSERT_EQ(validatePosition(p), "");
  }

  // Moves after the long reversible stretch are still played correctly.
  EXPECT_EQ(uci("position startpos moves" + shuffleMoves(400) + " e2e4 e7e5 g1f3"), Lines{});
  EXPECT_EQ(positionToFen(pos(), false), "rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq -");
  EXPECT_EQ(pos().rule50, 1);
  EXPECT_LE(historyLength(), kUndoCapacity);
  EXPECT_GE(historyLength(), 3);
}

TEST_F(UciPosition, RepetitionIsSeenThroughTheGameHistory) {
  uci("position startpos moves" + shuffleMoves(1));
  EXPECT_EQ(isDraw(pos(), 0), 0) << "second occurrence only";
  uci("position startpos moves" + shuffleMoves(2));
  EXPECT_EQ(isDraw(pos(), 0), 1) << "third occurrence";
}

TEST_F(UciPosition, SpacingAroundWordsIsTolerated) {
  EXPECT_EQ(uci("position    fen    4k3/8/8/8/8/8/4P3/4K3   w   -   -    moves    e2e4   "), Lines{});
  EXPECT_EQ(fen(), "4k3/8/8/8/4P3/8/8/4K3 b - e3 0 1");
  EXPECT_EQ(uci("position\tstartpos\tmoves\te2e4\t e7e5"), Lines{});
  EXPECT_EQ(fen(), kAfterE4E5);
  EXPECT_EQ(uci("position startpos moves"), Lines{});
  EXPECT_EQ(historyLength(), 0);
}

TEST_F(UciPosition, MissingOrMalformedFenLeavesTheGameUnchanged) {
  const std::vector<std::string> bad = {
      "",
      "   ",
      "rnbqkbnrr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",  // nine files
      "rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",   // a nine
      "4k3/8/8/8/8/8/8/8/4K3 w - -",                            // nine ranks
      "4k3/8/8/4K3 w - -",                                      // four ranks
      "4k2/8/8/8/8/8/8/4K3 w - -",                              // a short rank
      "hello world",
      "////////",
      "8/8/8/8/8/8/8/8 w - -",                                  // no kings
      "4k3/8/8/8/8/8/8/8 w - -",                                // no white king
      "4k3/8/8/8/8/8/8/3KK3 w - -",                             // two white kings
      "4k3/8/8/8/8/8/8/P3K3 w - -",                             // pawn on the first rank
      "p3k3/8/8/8/8/8/8/4K3 b - -",                             // pawn on the last rank
      "4k3/8/8/8/8/8/8/4R1K1 w - -",                            // side not to move in check
      "4k3/8/8/8/PPPPPPPP/PPPPPPPP/8/4K3 w - -",                // seventeen white men
  };
  for (const auto& text : bad) {
    uci("position startpos moves e2e4 e7e5");
    Lines reply = uci("position fen " + text + " moves g1f3");
    ASSERT_EQ(reply.size(), 2u) << "'" << text << "'";
    std::string trimmed = text.find_first_not_of(' ') == std::string::npos ? "" : text;
    EXPECT_EQ(reply[0], "info string Illegal EPD - " + trimmed) << "'" << text << "'";
    EXPECT_EQ(reply[1].rfind("info string ", 0), 0u) << reply[1];
    EXPECT_GT(reply[1].size(), 12u) << "a reason is given";
    EXPECT_EQ(fen(), kAfterE4E5) << "'" << text << "'";
  }
  // The word "fen" with nothing after it, with or without moves.
  for (const char* command : {"position fen", "position fen ", "position fen moves g1f3", "position fen  moves"}) {
    uci("position startpos moves e2e4 e7e5");
    Lines reply = uci(command);
    ASSERT_EQ(reply.size(), 2u) << command;
    EXPECT_EQ(reply[0].rfind("info string Illegal EPD -", 0), 0u) << command;
    EXPECT_EQ(fen(), kAfterE4E5) << command;
  }
}

TEST_F(UciPosition, QuestionableFenFieldsAreRepairedNotRejected) {
  // An en-passant field that cannot be right is dropped, not misread.
  for (const char* ep : {"e88", "e6", "e3", "z9", "e", "-", "e6e6"}) {
    EXPECT_EQ(uci(std::string("position fen 4k3/8/8/8/8/8/8/4K3 w - ") + ep), Lines{}) << ep;
    EXPECT_EQ(fen(), "4k3/8/8/8/8/8/8/4K3 w - - 0 0") << ep;
  }
  // Doubled castling letters set each right once.
  EXPECT_EQ(uci("position fen r3k2r/8/8/8/8/8/8/R3K2R w KKkk -"), Lines{});
  EXPECT_EQ(fen(), "r3k2r/8/8/8/8/8/8/R3K2R w Kk - 0 0");
  // Rights without their rook are cleared with a note; the moves are still played.
  Lines reply = uci("position fen 4k3/8/8/8/8/8/8/4K3 w KQkq - moves e1e2");
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(reply[0], "info string Illegal EPD - 4k3/8/8/8/8/8/8/4K3 w KQkq -");
  EXPECT_EQ(fen(), "4k3/8/8/8/8/8/4K3/8 b - - 1 1");
  // Missing fields: the side to move stays as it was, no rights, no en passant.
  EXPECT_EQ(uci("position fen 4k3/8/8/8/8/8/8/4K3"), Lines{});
  EXPECT_EQ(fen(), "4k3/8/8/8/8/8/8/4K3 b - - 0 0");
  uci("position startpos");
  EXPECT_EQ(uci("position fen r3k2r/8/8/8/8/8/8/R3K2R"), Lines{});
  EXPECT_EQ(fen(), "r3k2r/8/8/8/8/8/8/R3K2R w - - 0 0");
}

TEST_F(UciPosition, PositionWithoutStartposOrFenIsIgnored) {
  uci("position startpos moves e2e4 e7e5");
  for (const char* command : {"position", "position moves g1f3", "position nothing", "position STARTPOS"}) {
    EXPECT_EQ(uci(command), Lines{}) << command;
    EXPECT_EQ(fen(), kAfterE4E5) << command;
  }
}

TEST_F(UciPosition, UciNewGameEmptiesTheHistoryOnly) {
  uci("position startpos moves e2e4 e7e5");
  EXPECT_EQ(uci("ucinewgame"), Lines{});
  EXPECT_EQ(historyLength(), 0);
  EXPECT_EQ(positionToFen(pos(), false), "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6");
}

TEST_F(UciPosition, DispatcherStripsLineEndsAndFollowsTheMode) {
  EXPECT_EQ(line("position startpos moves e2e4 e7e5\r"), Lines{});
  EXPECT_EQ(fen(), kAfterE4E5);
  EXPECT_EQ(line("isready\r\n"), Lines{"readyok"});
  EXPECT_EQ(line("isready\rgarbage"), Lines{"readyok"});
  EXPECT_EQ(line(""), Lines{});

  // Console mode: UCI words are read as moves, "uci" switches back.
  platform::uci_mode = 0;
  Lines reply = line("isready");
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_NE(reply[0].find("isready"), std::string::npos);
  EXPECT_EQ(line(""), Lines{});
  EXPECT_EQ(line("\r"), Lines{});
  reply = line("uci");
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(reply.back(), "uciok");
  EXPECT_EQ(platform::uci_mode, 1);
  EXPECT_EQ(line("isready"), Lines{"readyok"});
}

TEST_F(UciPosition, QuitSetsTheFlag) {
  EXPECT_EQ(uci("quit"), Lines{});
  EXPECT_EQ(search::quit_requested.load(), 1);
}
