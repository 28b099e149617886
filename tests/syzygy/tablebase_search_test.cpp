// Tablebases in the search: the root answer, the node probe, and the UCI
// session around them (start-up count, SyzygyPath, info lines). The
// two-thread session is what the ThreadSanitizer build runs.
#include <gtest/gtest.h>

#include "protocol/play_helpers.h"
#include "search/search_helpers.h"
#include "syzygy/syzygy.h"

namespace {

using searchtest::goAndWait;
using searchtest::infoField;
using testutil::EngineProcess;

const std::string kTables = std::string(VESK_TEST_DATA) + "/syzygy";
// KQvK with ten reversible plies played: the table's move is answered at once.
const std::string kQueenWinFen = "8/8/8/4k3/8/8/8/KQ6 w - -";
const std::string kTenPlies = "a1a2 e5e6 a2a3 e6e5 a3a4 e5e6 a4a5 e6e5 a5a6 e5e6";

class TablebaseSearch : public searchtest::InProcessSearch {
 protected:
  void SetUp() override {
    InProcessSearch::SetUp();
    testutil::StdoutCapture quiet;
    syzygy::initTablebases(kTables);
  }
  void TearDown() override {
    {
      testutil::StdoutCapture quiet;
      syzygy::initTablebases("");
    }
    InProcessSearch::TearDown();
  }
  void play(const std::string& moves) {
    for (const auto& m : searchtest::splitWords(moves)) {
      const board::Move move = search::findCoordinateMove(m);
      ASSERT_NE(move, 0) << m;
      search::playGameMove(move);
    }
  }
  int wdlAfter(board::Move m) {
    board::Position copy = gamePosition();
    board::makeMove(copy, m);
    int success;
    const int v = syzygy::probeWdl(syzygy::toTbPosition(copy, false), success);
    board::unmakeMove(copy);
    return success ? v : -9;
  }
};

TEST_F(TablebaseSearch, RootAnswersWithTheTableMoveOnceTheClockRuns) {
  ASSERT_EQ(search::setGameFen(kQueenWinFen), board::kFenOk);
  play(kTenPlies);
  int category, distance;
  board::Move tableMove;
  ASSERT_EQ(syzygy::probeRoot(gamePosition(), category, distance, tableMove), syzygy::kTbWin);
  searchTo(5);
  EXPECT_EQ(search::control.completed_depth, 99);
  EXPECT_EQ(bestMove(), tableMove);
  EXPECT_EQ(bestScore(), search::kTbWinAtRoot);
  EXPECT_EQ(search::control.root_tb_result, syzygy::kTbWin);
}

// Before ten reversible plies the search runs, guided by the table's
// result (shown as the score): the move keeps it, and the probes are counted.
TEST_F(TablebaseSearch, SearchKeepsTheResultAndCountsHits) {
  for (const char* fen : {"8/8/8/4k3/8/8/8/KQ6 w - -", "8/8/8/8/4k3/8/1P6/4K3 w - -", "8/8/3k4/8/8/8/r7/3K3R w - -"}) {
    ASSERT_EQ(search::setGameFen(fen), board::kFenOk);
    int success;
    const int root = syzygy::probeWdl(syzygy::toTbPosition(gamePosition(), false), success);
    searchTo(6);
    EXPECT_LT(search::control.completed_depth, 99) << fen;
    EXPECT_EQ(-wdlAfter(bestMove()), root) << fen << " " << board::moveToText(bestMove());
    EXPECT_GT(search::control.total_tbhits, 0u) << fen;
    EXPECT_EQ(search::control.root_tb_result, root + 2) << fen;
  }
}

// Without tables the node probe is never asked, whatever the material.
TEST_F(TablebaseSearch, NoTablesNoHits) {
  {
    testutil::StdoutCapture quiet;
    syzygy::initTablebases("<empty>");
  }
  ASSERT_EQ(search::setGameFen(kQueenWinFen), board::kFenOk);
  play(kTenPlies);
  searchTo(5);
  EXPECT_EQ(search::control.completed_depth, 5);
  EXPECT_EQ(search::control.total_tbhits, 0u);
}

TEST(TablebaseUci, CountAnswerAndPathChanges) {
  EngineProcess engine({"-use_hce", "-tbpath", kTables});
  ASSERT_TRUE(engine.waitFor("info string found 15 tablebases\n"));
  auto reply = goAndWait(engine, "position fen " + kQueenWinFen + " moves " + kTenPlies + "\ngo depth 5\n");
  ASSERT_TRUE(reply.answered);
  EXPECT_EQ(infoField(reply.finalInfo, "depth"), "99");
  EXPECT_EQ(infoField(reply.finalInfo, "score"), "cp 9800");
  EXPECT_EQ(infoField(reply.finalInfo, "tbhits"), "1");
  EXPECT_EQ(infoField(reply.finalInfo, "pv"), reply.best);

  // A drawn root shows 0 through the search; the table hits are counted.
  reply = goAndWait(engine, "position fen 8/8/3k4/8/8/8/r7/3K3R w - -\ngo depth 6\n");
  ASSERT_TRUE(reply.answered);
  EXPECT_EQ(infoField(reply.finalInfo, "score"), "cp 0");
  EXPECT_NE(infoField(reply.finalInfo, "tbhits"), "0");

  // A change while a search runs waits for it; "<empty>" registers nothing.
  const size_t from = engine.output().size();
  ASSERT_TRUE(engine.send("position fen " + kQueenWinFen + "\ngo infinite\nsetoption name SyzygyPath value " +
                          kTables + "\nisready\n"));
  ASSERT_TRUE(engine.waitFor("readyok", 20, from));
  EXPECT_NE(engine.output().find("info string found 15 tablebases", from), std::string::npos);
  const size_t empty = engine.output().size();
  ASSERT_TRUE(engine.send("setoption name SyzygyPath value <empty>\nisready\n"));
  ASSERT_TRUE(engine.waitFor("readyok", 10, empty));
  EXPECT_NE(engine.output().find("info string SyzygyPath set to '<empty>'", empty), std::string::npos);
  EXPECT_EQ(engine.output().find("found", empty), std::string::npos);
  reply = goAndWait(engine, "position fen " + kQueenWinFen + " moves " + kTenPlies + "\ngo depth 5\n");
  EXPECT_EQ(infoField(reply.finalInfo, "depth"), "5");
  ASSERT_TRUE(engine.send("quit\n"));
  EXPECT_EQ(engine.wait(), 0);
}

// Both threads probe (and load tables) at once in 4-man positions.
TEST(TablebaseUci, SearchInTablebasePositionsTwoThreads) {
  EngineProcess engine({"-use_hce", "-threads", "2", "-tbpath", kTables});
  ASSERT_TRUE(engine.waitFor("info string found 15 tablebases\n"));
  for (const char* fen : {"8/8/1r6/4k3/8/8/3Q4/7K w - -", "8/8/8/3k4/8/3K4/2P5/8 w - -", "8/5k2/8/8/2pP4/8/5K2/8 b - d3",
                          "8/8/8/8/3k4/8/2R5/K1b5 w - -"}) {
    const auto reply = goAndWait(engine, std::string("ucinewgame\nposition fen ") + fen + "\ngo depth 9\n", 60);
    ASSERT_TRUE(reply.answered) << fen;
    EXPECT_NE(infoField(reply.finalInfo, "tbhits"), "0") << fen;
  }
  ASSERT_TRUE(engine.send("quit\n"));
  EXPECT_EQ(engine.wait(), 0);
  EXPECT_EQ(engine.errors(), "");
}

}  // namespace
