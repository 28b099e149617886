// Console commands in process: the history walk with "undo", "[" and "]",
// and the commands that set up positions.
#include <gtest/gtest.h>

#include "protocol/game_fixture.h"

using namespace board;

namespace {

class Console : public testutil::GameFixture {
 protected:
  using Lines = std::vector<std::string>;
  void SetUp() override {
    GameFixture::SetUp();
    platform::uci_mode = 0;
  }
  // The FEN line that starts the board diagram of a reply.
  static std::string diagramFen(const Lines& reply) {
    for (size_t i = 0; i + 1 < reply.size(); ++i)
      if (!reply[i].empty() && reply[i][0] != ' ' && reply[i + 1].size() == 17 && reply[i + 1][0] == ' ')
        return reply[i];
    return "(no diagram)";
  }
  const std::string kStart = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 0";
  const std::string kAfterE4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1";
};

}  // namespace

TEST_F(Console, MoveSpellingsAreAccepted) {
  for (const char* text : {"e4", "e2e4", "e4+"}) {
    search::setStartPosition();
    Lines reply = console(text);
    ASSERT_FALSE(reply.empty()) << text;
    EXPECT_EQ(reply[0], std::string("1. move ") + text);
    EXPECT_EQ(diagramFen(reply), kAfterE4) << text;
  }
  search::setGameFen("r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R w KQkq -");
  // Castling in each accepted spelling, and promotions with the letter.
  EXPECT_EQ(console("O-O")[0], "1. move O-O");
  EXPECT_EQ(console("0-0-0")[0], "1. move 0-0-0");
  EXPECT_EQ(fen(), "2kr3r/pppppppp/8/8/8/8/PPPPPPPP/R4RK1 w - - 0 2");
  search::setGameFen("k7/4P3/8/8/8/8/8/4K3 w - -");
  Lines reply = console("e8");
  ASSERT_EQ(reply.size(), 1u) << "a promotion must name its piece";
  EXPECT_EQ(fen(), "k7/4P3/8/8/8/8/8/4K3 w - - 0 0");
  EXPECT_EQ(console("move e8=N")[0], "1. move e8=N");
  EXPECT_EQ(fen(), "k3N3/8/8/8/8/8/8/4K3 b - - 0 1");
}

TEST_F(Console, UndoAndRedoRestoreTheGame) {
  console("e4");
  console("e5");
  console("Nf3");
  const std::string afterNf3 = fen();
  EXPECT_EQ(diagramFen(console("undo")), "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2");
  EXPECT_EQ(diagramFen(console("[")), kAfterE4);
  EXPECT_EQ(historyLength(), 1);
  Lines redo = console("]");
  ASSERT_FALSE(redo.empty());
  EXPECT_EQ(redo[0], "1... move e7e5");
  redo = console("]");
  ASSERT_FALSE(redo.empty());
  EXPECT_EQ(redo[0], "2. move g1f3");
  EXPECT_EQ(fen(), afterNf3);
  EXPECT_EQ(console("]"), Lines{}) << "nothing left to replay";
  EXPECT_EQ(fen(), afterNf3);
}

TEST_F(Console, RedoNeverReplaysAStaleMove) {
  console("e4");
  console("e5");
  console("undo");
  console("undo");
  // A different move ends the old line.
  console("d4");
  EXPECT_EQ(console("]"), Lines{});
  EXPECT_EQ(fen(), "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq d3 0 1");
  // So does a new game or a new position.
  console("undo");
  console("new");
  EXPECT_EQ(console("]"), Lines{});
  EXPECT_EQ(fen(), kStart);
  console("e4");
  console("undo");
  console("fen 4k3/8/8/8/8/8/4P3/4K3 w - -");
  EXPECT_EQ(console("]"), Lines{});
  EXPECT_EQ(fen(), "4k3/8/8/8/8/8/4P3/4K3 w - - 0 0");
}

TEST_F(Console, UndoAtTheStartOnlyShowsTheBoard) {
  Lines reply = console("undo");
  EXPECT_EQ(diagramFen(reply), kStart);
  EXPECT_EQ(historyLength(), 0);
  EXPECT_EQ(console("]"), Lines{});
  EXPECT_EQ(fen(), kStart);
}

TEST_F(Console, FenRejectionKeepsThePosition) {
  console("e4");
  Lines reply = console("fen 4k3/8/8/8/8/8/8/8 w - -");
  ASSERT_GE(reply.size(), 3u);
  EXPECT_EQ(reply[0], "Illegal EPD - 4k3/8/8/8/8/8/8/8 w - -");
  EXPECT_EQ(reply[1].rfind("info string", 0), std::string::npos) << "no UCI prefix in console mode";
  EXPECT_EQ(diagramFen(reply), kAfterE4);
  reply = console("fen");
  EXPECT_EQ(reply[0], "Illegal EPD - ");
  EXPECT_EQ(fen(), kAfterE4);
  // The history survives a refused FEN.
  console("undo");
  EXPECT_EQ(fen(), kStart);
}

TEST_F(Console, PerftLeavesTheGameUntouched) {
  console("e4");
  Lines reply = console("perft 2");
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(reply[0].rfind("visited 600 nodes in ", 0), 0u) << reply[0];
  EXPECT_EQ(fen(), kAfterE4);
  EXPECT_EQ(historyLength(), 1);
  reply = console("perft -2147483648");
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(reply[0].rfind("visited 1 nodes in ", 0), 0u) << reply[0];
  reply = console("perft 1");
  ASSERT_EQ(reply.size(), 1u);
  EXPECT_EQ(reply[0].rfind("visited 20 nodes in ", 0), 0u) << reply[0];
  console("undo");
  EXPECT_EQ(fen(), kStart);
}

TEST_F(Console, QuitAndStopAreAcceptedAnyTime) {
  EXPECT_EQ(console("."), Lines{});
  search::stop_requested = 0;
  EXPECT_EQ(console("quit"), Lines{});
  EXPECT_EQ(search::quit_requested.load(), 1);
}
