// Commands written in one burst, as scripts and fast GUIs send them: every
// search that ends or is stopped gets its answer before the next command
// runs. Also the option list a GUI parses and the lines it checks.
#include <gtest/gtest.h>

#include "protocol/play_helpers.h"

using namespace playtest;
using searchtest::infoField;
using searchtest::splitWords;

namespace {

std::string tail(const EngineProcess& engine) {
  const std::string t = engine.transcript();
  return t.size() > 3000 ? "..." + t.substr(t.size() - 3000) : t;
}

std::vector<std::string> bestMoves(const EngineProcess& engine) {
  std::vector<std::string> moves;
  for (const auto& line : engine.lines())
    if (line.rfind("bestmove ", 0) == 0) moves.push_back(splitWords(line)[1]);
  return moves;
}

std::string times(const std::string& text, int n) {
  std::string all;
  for (int i = 0; i < n; ++i) all += text;
  return all;
}

class Burst : public testing::TestWithParam<int> {
 protected:
  int threads() const { return GetParam(); }
  int cycles(int full) const { return kSanitized ? full / 5 : full; }
};

}  // namespace

TEST_P(Burst, EverySearchInABurstIsAnsweredInOrder) {
  EngineProcess engine(kHce);
  ASSERT_NO_FATAL_FAILURE(startWithThreads(engine, threads()));
  // Short searches that end by themselves, all in one write.
  const int n = cycles(1000);
  const size_t ready = engine.countLines("readyok");
  ASSERT_TRUE(engine.send("position startpos\n" + times("go depth 1\n", n) + "isready\n"));
  ASSERT_TRUE(engine.waitForLines("readyok", ready + 1, 120.0)) << tail(engine);
  // A "go" read while the previous search still runs interrupts it without
  // an answer, and the loop reads again 15 ms into a search: on a loaded
  // machine a depth-1 search can now and then outlast that. Answers read
  // before the next command never go missing (that lost nearly all of them).
  const size_t answered = bestMoves(engine).size();
  EXPECT_LE(answered, static_cast<size_t>(n));
  EXPECT_GE(answered, static_cast<size_t>(n - n / 50)) << tail(engine);

  // Searches stopped by "stop": each stopped search answers for its own root.
  const int m = cycles(200);
  std::string burst;
  for (int i = 0; i < m; ++i)
    burst += i % 2 ? "position startpos moves e2e4\ngo infinite\nstop\n" : "position startpos\ngo infinite\nstop\n";
  const size_t before = bestMoves(engine).size();
  ASSERT_TRUE(engine.send(burst + "isready\n"));
  ASSERT_TRUE(engine.waitForLines("readyok", ready + 2, 120.0)) << tail(engine);
  const auto all = bestMoves(engine);
  ASSERT_EQ(all.size(), before + m) << tail(engine);
  for (int i = 0; i < m; ++i) {
    SCOPED_TRACE(i);
    const bool white = i % 2 == 0;
    // White's moves start on ranks 1-2, black's (after e2e4) on ranks 7-8.
    const char rank = all[before + i][1];
    EXPECT_TRUE(white ? (rank == '1' || rank == '2') : (rank == '7' || rank == '8')) << all[before + i];
  }
  ASSERT_TRUE(engine.send("quit\n"));
  EXPECT_EQ(engine.wait(), 0) << tail(engine);
}

// The reproduction of a lost answer: "stop", "position" and "go" arriving
// together after an infinite search.
TEST_P(Burst, StopPositionGoGivesBothAnswers) {
  EngineProcess engine(kHce);
  ASSERT_NO_FATAL_FAILURE(startWithThreads(engine, threads()));
  for (int i = 0; i < cycles(20); ++i) {
    SCOPED_TRACE(i);
    const size_t from = engine.output().size();
    ASSERT_TRUE(engine.send("position startpos\ngo infinite\n"));
    ASSERT_TRUE(engine.waitFor("info depth", 10.0, from)) << tail(engine);
    ASSERT_TRUE(engine.send("stop\nposition startpos moves e2e4\ngo depth 3\n"));
    ASSERT_TRUE(engine.waitFor("bestmove", 10.0, from));
    const size_t second = engine.output().find("bestmove", from) + 1;
    const auto reply = searchtest::readGoReply(engine, second, 10.0);
    EXPECT_TRUE(legalAnswer("startpos moves e2e4", reply)) << tail(engine);
  }
  ASSERT_TRUE(engine.send("quit\n"));
  EXPECT_EQ(engine.wait(), 0) << tail(engine);
}

INSTANTIATE_TEST_SUITE_P(Threads, Burst, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int>& p) { return p.param == 1 ? "OneThread" : "TwoThreads"; });

// In the console, "fen", "go", "fen", "go" written at once search the two
// positions in turn. The console ignores commands while a search runs, so a
// search the machine stalls past its first 15 ms can still swallow the second
// pair now and then; answers read before the next command never go missing.
TEST(ConsoleBurst, EachSearchRunsOnThePositionSetBeforeIt) {
  EngineProcess engine({"-c", "-use_hce"});
  const int rounds = kSanitized ? 20 : 100;
  int right = 0;
  for (int i = 0; i < rounds; ++i) {
    const size_t from = engine.output().size();
    ASSERT_TRUE(engine.send("fen 4k3/8/8/8/8/8/4P3/4K3 w - -\ngo 2\nfen 4k3/8/8/8/8/8/3P4/4K3 b - -\ngo 2\n"));
    // Both summaries, or what came within a few seconds.
    if (engine.waitFor("\nmove= ", 3.0, from)) engine.waitFor("\nmove= ", 3.0, engine.output().find("\nmove= ", from) + 1);
    std::vector<std::string> moves;
    std::istringstream in(engine.output().substr(from));
    for (std::string line; std::getline(in, line);)
      if (line.rfind("move= ", 0) == 0) moves.push_back(line.substr(6, 4));
    // White moves from rank 1 or 2, black (its king alone) from rank 8.
    if (moves.size() == 2 && (moves[0][1] == '1' || moves[0][1] == '2') && moves[1][1] == '8') ++right;
  }
  EXPECT_GE(right, rounds - rounds / 20) << tail(engine);
  ASSERT_TRUE(engine.send("quit\n"));
  EXPECT_EQ(engine.wait(), 0);
}

// A GUI refuses a spin option whose default lies outside its bounds.
TEST(UciOptionLines, UciEloDefaultStaysWithinItsBounds) {
  for (const auto& args : {std::vector<std::string>{"-use_hce", "-nps", "5"}, std::vector<std::string>{"-use_hce"}}) {
    EngineProcess engine(args);
    ASSERT_EQ(testutil::runToEnd(engine, "uci\nsetoption name UCI_Elo value 4000\nuci\nsetoption name UCI_Elo value 10\nuci\n"),
              0);
    int seen = 0;
    for (const auto& line : engine.lines()) {
      if (line.rfind("option name UCI_Elo ", 0) != 0) continue;
      ++seen;
      const auto w = splitWords(line);
      ASSERT_EQ(w.size(), 11u) << line;
      const int def = std::stoi(w[6]), lo = std::stoi(w[8]), hi = std::stoi(w[10]);
      EXPECT_LE(lo, def) << line;
      EXPECT_LE(def, hi) << line;
    }
    EXPECT_EQ(seen, 3) << engine.transcript();
  }
}

namespace {

// Plays the principal variation of an info line from fen; the position at
// its end and whether every move was legal.
bool playLine(testutil::Board& b, const std::string& info) {
  const auto words = splitWords(info);
  auto at = std::find(words.begin(), words.end(), "pv");
  if (at == words.end()) return false;
  return searchtest::playMoves(b, std::vector<std::string>(at + 1, words.end()));
}

size_t lineLength(const std::string& info) {
  const auto words = splitWords(info);
  auto at = std::find(words.begin(), words.end(), "pv");
  return at == words.end() ? 0 : static_cast<size_t>(words.end() - at - 1);
}

}  // namespace

// Match managers check that a mate score's line runs to the mate.
TEST(PrincipalVariation, MateLinesRunToTheMate) {
  const char* fens[] = {
      "3q1rk1/p4pp1/2pb3p/3p4/6Pr/1PNQ4/P1PB1PP1/4RRK1 b - -",        // mate in 5
      "r2rb1k1/pp1q1p1p/2n1p1p1/2bp4/5P2/PP1BPR1Q/1BPN2PP/R5K1 w - -",  // mate in 4
      "2rr3k/pp3pp1/1nnqbN1p/3pN3/2pP4/2P3Q1/PPB4P/R4RK1 w - -",         // mate in 2
  };
  for (const char* fen : fens) {
    SCOPED_TRACE(fen);
    EngineProcess engine(kHce);
    const auto reply = searchtest::goAndWait(engine, std::string("position fen ") + fen + "\ngo depth 12\n", 60.0);
    ASSERT_TRUE(reply.answered) << tail(engine);
    int mates = 0;
    for (const auto& line : reply.lines) {
      const std::string score = infoField(line, "score");
      if (score.rfind("mate ", 0) != 0) continue;
      ++mates;
      const int n = std::stoi(score.substr(5));
      EXPECT_EQ(lineLength(line), static_cast<size_t>(n > 0 ? 2 * n - 1 : -2 * n)) << line;
      platform::uci_mode = 1;
      testutil::initTables();
      testutil::Board b(fen);
      ASSERT_TRUE(playLine(b, line)) << line;
      board::MoveEntry list[board::kMaxMoves];
      EXPECT_EQ(board::generateLegal(b.pos, list), 0) << "the line ends in mate: " << line;
      EXPECT_TRUE(board::inCheck(b.pos, b.pos.sideToMove)) << line;
    }
    EXPECT_GT(mates, 0) << tail(engine);
  }
}

// Table cuts must not shorten the lines shown for a completed depth.
TEST(PrincipalVariation, LinesAreAsLongAsTheDepthSearched) {
  EngineProcess engine(kHce);
  const auto reply = searchtest::goAndWait(engine, "position startpos\ngo depth 9\n", 60.0);
  ASSERT_TRUE(reply.answered) << tail(engine);
  int checked = 0;
  for (const auto& line : reply.lines) {
    if (line.rfind("info depth ", 0) != 0 || infoField(line, "pv").empty()) continue;
    const int depth = std::stoi(infoField(line, "depth"));
    EXPECT_GE(lineLength(line), static_cast<size_t>(depth)) << line;
    testutil::initTables();
    testutil::Board b;
    EXPECT_TRUE(playLine(b, line)) << line;
    ++checked;
  }
  EXPECT_GT(checked, 3);
  EXPECT_FALSE(reply.ponder.empty()) << "the second move of the line is the ponder move";
}
