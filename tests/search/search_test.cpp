// Searches run in-process on the game record: roots without moves, draws by
// repetition and by the fifty-move rule, the node limit, and quiescence.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "board/board_helpers.h"
#include "search/search_helpers.h"

using namespace board;
using boardtest::mv;
using boardtest::name;
using searchtest::repeat;

namespace {

class SearchInProcess : public searchtest::InProcessSearch {
 protected:
  bool samePositionAsGame(const search::SearchThread& t) { return t.position.key == gamePosition().key; }
  // Sets the game position the way the "position" command does.
  void position(const std::string& args) {
    testutil::StdoutCapture quiet;
    protocol::handleUciCommand("position " + args);
  }
};

}  // namespace

TEST_F(SearchInProcess, RootWithoutLegalMoves) {
  setFen("7k/6Q1/6K1/8/8/8/8/8 b - -");  // checkmated
  searchTo(6);
  EXPECT_EQ(bestMove(), 0);
  EXPECT_EQ(bestScore(), -9999);
  EXPECT_EQ(search::control.completed_depth, 1);

  setFen("7k/8/8/8/8/8/5q2/7K w - -");  // stalemated
  searchTo(6);
  EXPECT_EQ(bestMove(), 0);
  EXPECT_EQ(bestScore(), 0);
  EXPECT_EQ(search::control.completed_depth, 1);
}

// Black is a queen and a rook down; only moving the knight back repeats the
// position a third time. Without the earlier visits the same move loses.
TEST_F(SearchInProcess, ThirdOccurrenceFromTheGameHistoryIsADraw) {
  const std::string start = "fen 1n5k/6pp/8/8/8/8/5PPP/R2Q2K1 w - - moves ";
  position(start + "a1b1 b8c6 b1a1 c6b8 a1b1 b8c6 b1a1");
  searchTo(6);
  EXPECT_EQ(name(bestMove()), "c6b8");
  EXPECT_EQ(bestScore(), 0);

  position(start + "a1b1 b8c6 b1a1");  // the knight's return would be only the second occurrence
  searchTo(6);
  EXPECT_LT(bestScore(), -1000);
}

// White is a queen and a rook down but checks forever from h5 and e8: a
// repetition inside the search line is scored as a draw.
TEST_F(SearchInProcess, PerpetualCheckHoldsALostPosition) {
  setFen("8/r5pk/8/8/8/8/1q3PPP/3Q2K1 w - -");
  searchTo(8);
  EXPECT_EQ(bestScore(), 0);
  EXPECT_TRUE(givesCheck(gamePosition(), bestMove())) << name(bestMove());
}

// Ra8 mates, but only while the mate itself is at most the 100th reversible
// half-move; after that the game is drawn and the pawn move (which resets the
// count) is the way to win.
TEST_F(SearchInProcess, FiftyMoveRuleInTheSearchLine) {
  position("fen 7k/8/6K1/8/8/8/1P6/R7 b - - moves " + repeat("h8g8 a1a2 g8h8 a2a1", 24) + " h8g8 a1a2 g8h8");
  ASSERT_EQ(gamePosition().rule50, 99);
  searchTo(6);
  EXPECT_EQ(name(bestMove()), "a2a8");
  EXPECT_EQ(bestScore(), 9998);

  position("fen 7k/8/6K1/8/8/8/1P6/R7 w - - moves " + repeat("a1a2 h8g8 a2a1 g8h8", 25));
  ASSERT_EQ(gamePosition().rule50, 100);
  searchTo(6);
  EXPECT_EQ(name(bestMove()), "a1a8") << "a mate stands even past the count";
  EXPECT_EQ(bestScore(), 9998);
  // Without the mate, every quiet rook move ends in the fifty-move draw: the
  // pawn move that resets the count comes first.
  position("fen 7k/8/8/6K1/8/8/1P6/R7 w - - moves " + repeat("a1a2 h8g8 a2a1 g8h8", 25));
  ASSERT_EQ(gamePosition().rule50, 100);
  searchTo(4);
  EXPECT_EQ(typeOf(gamePosition().board[moveFrom(bestMove())]), kPawn) << name(bestMove());
  EXPECT_GT(bestScore(), 0);
}

TEST_F(SearchInProcess, NodeLimitStopsOnceDepthTwoIsComplete) {
  setFen("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -");
  limits.node_limit = 20000;
  searchTo(60);
  EXPECT_EQ(search::control.total_nodes, 20001u);
  EXPECT_GE(search::control.completed_depth, 2);
  EXPECT_NE(bestMove(), 0);

  // A limit passed early still lets depth 2 finish, and then stops at once.
  limits.node_limit = 5;
  searchTo(4);
  EXPECT_EQ(search::control.completed_depth, 2);
  EXPECT_GT(search::control.total_nodes, 5u);
  EXPECT_NE(bestMove(), 0);
}

// Quiescence on its own: stand pat at or above beta returns beta itself, and
// from depth -4 on only recaptures on the last move's square are searched.
TEST_F(SearchInProcess, QuiescenceStandsPatAndKeepsToRecapturesDeepDown) {
  setFen("4k3/8/8/3q4/8/8/3R4/4K3 w - -");  // Rd2 takes the loose queen
  search::prepareSearch(limits, settings);
  ASSERT_EQ(search::prepareThread(0), 0);
  search::SearchThread& t = *search::threads[0];
  search::resetThreadTables(t);
  search::applySelectivity(settings);
  t.stack[1].checker = kNoSquare;
  t.stack[1].inCheck = 0;
  const int e = search::staticEvaluation(t, 1, false);
  t.stack[1].staticEval = static_cast<int16_t>(e);
  ASSERT_LT(e, -300);

  auto q = [&](int depth, int alpha, int beta, const char* last) {
    t.history.lastMove = mv(last);
    return search::quiesce(t, 1, depth, alpha, beta, 0);
  };
  EXPECT_EQ(q(0, -10001, e - 40, "a7a6"), e - 40);
  EXPECT_GT(q(-3, -10001, 10001, "a7a6"), 300) << "the capture is searched";
  EXPECT_EQ(q(-4, -10001, 10001, "a7a6"), e) << "not a recapture: stand pat";
  EXPECT_GT(q(-4, -10001, 10001, "c6d5"), 300) << "a recapture on d5";
}

// Iteration 1 always counts as a best-move change, even when it keeps the
// stand-in move a stopped search would answer with.
TEST_F(SearchInProcess, FirstIterationCountsAsABestMoveChange) {
  setFen("4k3/8/8/3q4/4P3/8/8/4K3 w - -");  // the first move in order is also the best
  searchTo(1);
  ASSERT_EQ(name(bestMove()), "e4d5");
  EXPECT_EQ(search::control.best_change_depth, 1);
}

// The clock-game deadline: never past the clock less the overhead, and on a
// nearly empty clock no more than the increment gives back.
TEST_F(SearchInProcess, ClockGameDeadline) {
  setFen("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -");
  settings.move_overhead_ms = 50;
  auto deadlineFor = [this](int levelMoves, float clock, float increment) {
    limits.level_moves = levelMoves;
    limits.time_left[0] = limits.time_left[1] = clock;
    limits.increment = increment;
    search::prepareSearch(limits, settings);
    return search::control.hard_deadline.load();
  };
  EXPECT_FLOAT_EQ(deadlineFor(0, 10.0f, 0.1f), 9.95f);
  EXPECT_FLOAT_EQ(deadlineFor(40, 1.0f, 0.0f), 0.95f);
  EXPECT_FLOAT_EQ(deadlineFor(0, 0.2f, 0.1f), 0.05f);   // low clock: increment less overhead
  EXPECT_FLOAT_EQ(deadlineFor(0, 0.1f, 0.01f), 0.0f);   // the increment does not cover the overhead
  EXPECT_FLOAT_EQ(deadlineFor(0, 0.02f, 0.0f), 0.0f);
  EXPECT_EQ(deadlineFor(1, 0.1f, 0.0f), search::kNoDeadline) << "fixed-time searches have none";

  // Past the deadline the search ends by itself within about a thousand
  // nodes, even when nobody runs the time check, and still answers a legal move.
  limits.depth_limit = search::kMaxDepth;
  deadlineFor(0, 0.1f, 0.01f);
  ASSERT_EQ(search::startSearchThread(search::kSearching), 0);
  for (int i = 0; i < 10000 && !(search::search_state.load() & search::kFinishedFlag); ++i) platform::sleepMs(1);
  ASSERT_TRUE(search::search_state.load() & search::kFinishedFlag) << "the search ran past its deadline";
  search::search_state = search::kIdle;
  EXPECT_LT(search::control.total_nodes, 4096u);
  const auto legal = searchtest::legalMoveTexts(gamePosition());
  EXPECT_EQ(legal.count(moveToText(bestMove())), 1u);

  // The time check stops it too, without waiting for the second iteration.
  search::stop_requested = 0;
  search::search_state = search::kSearching;
  search::control.iteration_depth = 1;
  search::control.completed_depth = 0;
  search::checkTime();
  EXPECT_EQ(search::stop_requested.load(), 0) << "not before a first root move has a score";
  search::control.completed_depth = 1;
  search::checkTime();
  EXPECT_EQ(search::stop_requested.load(), 1);
  search::search_state = search::kIdle;
}

// A mate line the table does not hold is worked out to the mate: the winner's
// moves, and replies that hold out as long as the score says.
TEST_F(SearchInProcess, MateLinesAreCompletedToTheMate) {
  struct Case {
    const char* fen;
    std::vector<const char*> given;
    int matePly;  // ply of the mated side, the root being ply 1
  } cases[] = {
      {"2rr3k/pp3pp1/1nnqbN1p/3pN3/2pP4/2P3Q1/PPB4P/R4RK1 w - -", {"g3g6"}, 4},
      {"2rr3k/pp3pp1/1nnqbN1p/3pN3/2pP4/2P3Q1/PPB4P/R4RK1 w - -", {"g3g6", "d8e8"}, 4},
      {"3q1rk1/p4pp1/2pb3p/3p4/6Pr/1PNQ4/P1PB1PP1/4RRK1 b - -", {"d6h2", "g1h1", "h2g3"}, 10},
  };
  search::ttSetEnabled(false);  // nothing to walk: the completion alone
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fen);
    setFen(c.fen);
    search::prepareSearch(limits, settings);
    ASSERT_EQ(search::prepareThread(0), 0);
    search::SearchThread& t = *search::threads[0];
    board::Move line[search::kStackSize] = {};
    testutil::Board b(c.fen);
    for (size_t i = 0; i < c.given.size(); ++i) {
      line[i + 1] = mv(c.given[i]);
    }
    EXPECT_TRUE(search::completeLine(t, line, 1, search::kMateValue - c.matePly));
    int length = 0;
    while (line[length + 1]) ++length;
    EXPECT_EQ(length, c.matePly - 1);
    for (int i = 1; i <= length; ++i) {
      ASSERT_TRUE(board::isPseudoLegal(b.pos, line[i]) && board::isLegal(b.pos, b.pos.sideToMove, line[i])) << i;
      board::makeMove(b.pos, line[i]);
    }
    board::MoveEntry list[board::kMaxMoves];
    EXPECT_EQ(board::generateLegal(b.pos, list), 0);
    EXPECT_TRUE(board::inCheck(b.pos, b.pos.sideToMove));
    EXPECT_TRUE(samePositionAsGame(t)) << "the thread's position is left as it was";
  }
  // A mate score no line can show (a stale table score, say) is reported as
  // such, so the line is not printed as a mating line.
  setFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
  search::prepareSearch(limits, settings);
  ASSERT_EQ(search::prepareThread(0), 0);
  board::Move line[search::kStackSize] = {};
  line[1] = mv("e2e4");
  EXPECT_FALSE(search::completeLine(*search::threads[0], line, 1, search::kMateValue - 6));
  EXPECT_TRUE(samePositionAsGame(*search::threads[0]));
  search::ttSetEnabled(true);
}

// MultiPV: each line of an iteration starts with a different legal root
// move, the lines come best first, and the first is the answer.
TEST_F(SearchInProcess, MultiPvLinesAreDistinctAndOrdered) {
  setFen("r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -");
  settings.multi_pv = 3;
  settings.noise = 0;
  limits.depth_limit = 6;
  testutil::StdoutCapture out;
  search::prepareSearch(limits, settings);
  search::runMainThreadSearch();
  const auto lines = testutil::splitLines(out.finish());
  std::map<int, std::vector<std::string>> byDepth;  // depth -> "score move" per line number
  const auto legal = searchtest::legalMoveTexts(gamePosition());
  for (const auto& line : lines) {
    if (line.find(" multipv ") == std::string::npos) continue;
    const auto w = searchtest::splitWords(line);
    const int depth = std::stoi(searchtest::infoField(line, "depth"));
    const int number = std::stoi(searchtest::infoField(line, "multipv"));
    const std::string score = searchtest::infoField(line, "score");
    ASSERT_EQ(score.rfind("cp ", 0), 0u) << line;
    auto& row = byDepth[depth];
    ASSERT_EQ(static_cast<int>(row.size()), number - 1) << "lines come in order: " << line;
    row.push_back(score.substr(3) + " " + searchtest::infoField(line, "pv"));
    EXPECT_EQ(legal.count(searchtest::infoField(line, "pv")), 1u) << line;
  }
  ASSERT_FALSE(byDepth.empty());
  for (const auto& [depth, row] : byDepth) {
    SCOPED_TRACE(depth);
    ASSERT_EQ(row.size(), 3u);
    std::set<std::string> first;
    int previous = search::kInfinity;
    for (const auto& entry : row) {
      const int score = std::stoi(entry.substr(0, entry.find(' ')));
      EXPECT_LE(score, previous) << "best first";
      previous = score;
      first.insert(entry.substr(entry.find(' ') + 1));
    }
    EXPECT_EQ(first.size(), 3u) << "three different moves";
  }
  EXPECT_EQ(moveToText(bestMove()), byDepth.rbegin()->second[0].substr(byDepth.rbegin()->second[0].find(' ') + 1));
}
