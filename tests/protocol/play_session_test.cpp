// A GUI's session with the real binary, with one and with two search
// threads: replies while searching, pondering, new games, long games, quit,
// the log, and many short searches in a row. The two-thread cases are also
// what the ThreadSanitizer build runs (their names end in "TwoThreads").
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "protocol/play_helpers.h"

using namespace playtest;
using searchtest::GoReply;
using searchtest::readGoReply;
using std::chrono::milliseconds;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string tail(const EngineProcess& engine) {
  const std::string t = engine.transcript();
  return t.size() > 3000 ? "..." + t.substr(t.size() - 3000) : t;
}

// Ends the session the normal way; a sanitizer report on stderr fails it too.
void quitCleanly(EngineProcess& engine) {
  ASSERT_TRUE(engine.send("quit\n"));
  EXPECT_EQ(engine.wait(), 0) << tail(engine);
  EXPECT_EQ(engine.errors(), "");
}

class PlaySession : public testing::TestWithParam<int> {
 protected:
  int threads() const { return GetParam(); }
};

}  // namespace

TEST_P(PlaySession, IsreadyAndStopAreAnsweredPromptlyDuringASearch) {
  EngineProcess engine(kHce);
  ASSERT_NO_FATAL_FAILURE(startWithThreads(engine, threads()));
  const std::string root = "startpos moves e2e4 c7c5 g1f3";
  std::vector<double> ready, stop;
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const size_t from = engine.output().size();
    ASSERT_TRUE(engine.send("position " + root + (i % 2 ? "\ngo movetime 60000\n" : "\ngo infinite\n")));
    ASSERT_TRUE(engine.waitFor("info depth", 10.0, from)) << tail(engine);
    for (int k = 0; k < 3; ++k) {
      // Past the first 15 ms, in which the loop follows the search instead of reading.
      std::this_thread::sleep_for(milliseconds(20));
      const double d = replyDelay(engine, "isready\n", "readyok\n");
      ASSERT_GE(d, 0.0) << tail(engine);
      ready.push_back(d);
    }
    EXPECT_EQ(engine.output().find("bestmove", from), std::string::npos) << "answered before stop";
    const size_t stopFrom = engine.output().size();
    const double d = replyDelay(engine, "stop\n", "bestmove");
    ASSERT_GE(d, 0.0) << tail(engine);
    stop.push_back(d);
    EXPECT_TRUE(legalAnswer(root, readGoReply(engine, stopFrom, 5.0)));
  }
  EXPECT_LE(median(ready), 0.050) << "isready delays: " << join(ready);
  EXPECT_LE(median(stop), 0.100) << "stop delays: " << join(stop);
  quitCleanly(engine);
}

TEST_P(PlaySession, PonderAnswersOnlyAfterPonderhitOrStop) {
  EngineProcess engine(kHce);
  ASSERT_NO_FATAL_FAILURE(startWithThreads(engine, threads()));
  const std::string opening = "startpos moves e2e4 e7e5 g1f3";
  // The mate in one ends the search at once; its answer must still wait.
  const std::string mateInOne = "fen r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq -";
  const std::pair<std::string, std::string> cases[] = {
      {opening, "ponderhit"}, {opening, "stop"}, {mateInOne, "ponderhit"}, {mateInOne, "stop"}};
  for (const auto& [root, release] : cases) {
    SCOPED_TRACE(root + " / " + release);
    const size_t from = engine.output().size();
    // The clock allows under 0.1 s for this move; pondering must ignore it.
    ASSERT_TRUE(engine.send("position " + root + "\ngo ponder wtime 2000 btime 2000\n"));
    EXPECT_FALSE(engine.waitFor("bestmove", 0.5, from)) << tail(engine);
    ASSERT_GE(replyDelay(engine, "isready\n", "readyok\n"), 0.0);
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(engine.output().find("bestmove", from), std::string::npos) << tail(engine);
    // After "ponderhit" the clock is in charge again and its time is long spent.
    const auto start = Clock::now();
    ASSERT_TRUE(engine.send(release + "\n"));
    const GoReply reply = readGoReply(engine, from, 10.0);
    EXPECT_LT(secondsSince(start), 5.0);
    EXPECT_TRUE(legalAnswer(root, reply)) << tail(engine);
    if (root == mateInOne) {
      EXPECT_EQ(reply.best, "h5f7");
    }
  }
  quitCleanly(engine);
}

TEST_P(PlaySession, NewGamesAndALongGameLeaveTheEngineSearching) {
  EngineProcess engine(kHce);
  ASSERT_NO_FATAL_FAILURE(startWithThreads(engine, threads()));
  GoReply reply = searchtest::goAndWait(engine, "ucinewgame\nposition startpos\ngo depth 5\n");
  EXPECT_TRUE(legalAnswer("startpos", reply)) << tail(engine);

  // "ucinewgame" during a search ends it without an answer.
  size_t from = engine.output().size();
  ASSERT_TRUE(engine.send("position startpos moves d2d4\ngo infinite\n"));
  ASSERT_TRUE(engine.waitFor("info depth", 10.0, from)) << tail(engine);
  std::this_thread::sleep_for(milliseconds(30));
  ASSERT_TRUE(engine.send("ucinewgame\n"));
  ASSERT_GE(replyDelay(engine, "isready\n", "readyok\n"), 0.0) << tail(engine);
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(engine.output().find("bestmove", from), std::string::npos) << tail(engine);

  // 600 plies: knights shuffling, with a pawn move from each side before
  // the fifty-move count runs out, so the game is still on at the end.
  const std::string shuffle = searchtest::repeat("g1f3 g8f6 f3g1 f6g8", 23);
  std::string moves;
  for (const char* pawns : {"a2a3 a7a6", "a3a4 a6a5", "h2h3 h7h6", "h3h4 h6h5", "b2b3 b7b6", "g2g3 g7g6"})
    moves += shuffle + " " + pawns + " ";
  moves += searchtest::repeat("g1f3 g8f6 f3g1 f6g8", 9);
  ASSERT_EQ(searchtest::splitWords(moves).size(), 600u);
  const std::string root = "startpos moves " + moves;
  from = engine.output().size();
  reply = searchtest::goAndWait(engine, "ucinewgame\nposition " + root + "\ngo depth 6\n");
  EXPECT_EQ(engine.output().find("info string", from), std::string::npos) << "every move is legal";
  EXPECT_TRUE(legalAnswer(root, reply)) << tail(engine);

  reply = searchtest::goAndWait(engine, "ucinewgame\nposition startpos moves e2e4\ngo depth 5\n");
  EXPECT_TRUE(legalAnswer("startpos moves e2e4", reply)) << tail(engine);
  quitCleanly(engine);
}

TEST_P(PlaySession, QuitDuringASearchEndsTheProcessWithinASecond) {
  std::vector<double> tries;
  // One retry: a single slow exit may be the machine's doing.
  for (int attempt = 0; attempt < 2; ++attempt) {
    EngineProcess engine(kHce);
    ASSERT_NO_FATAL_FAILURE(startWithThreads(engine, threads()));
    const size_t from = engine.output().size();
    ASSERT_TRUE(engine.send("position startpos\ngo infinite\n"));
    ASSERT_TRUE(engine.waitFor("info depth", 10.0, from)) << tail(engine);
    std::this_thread::sleep_for(milliseconds(50));
    const auto start = Clock::now();
    ASSERT_TRUE(engine.send("quit\n"));
    ASSERT_EQ(engine.wait(10.0), 0) << tail(engine);
    tries.push_back(secondsSince(start));
    EXPECT_EQ(engine.output().find("bestmove", from), std::string::npos) << "quit prints no answer";
    EXPECT_EQ(engine.errors(), "");
    if (tries.back() <= 1.0) break;
  }
  EXPECT_LE(tries.back(), 1.0) << join(tries);
}

TEST_P(PlaySession, LogRecordsEveryCommandAndEveryOutputLine) {
  testutil::TempDir dir;
  EngineProcess engine({"-log", "-use_hce"}, dir.path());
  const std::vector<std::string> commands = {"setoption name Threads value " + std::to_string(threads()),
                                             "position startpos moves e2e4", "go movetime 300", "isready", "quit"};
  const GoReply reply = searchtest::goAndWait(engine, commands[0] + "\n" + commands[1] + "\n" + commands[2] + "\n");
  ASSERT_TRUE(legalAnswer("startpos moves e2e4", reply)) << tail(engine);
  ASSERT_GE(replyDelay(engine, commands[3] + "\n", "readyok\n"), 0.0);
  ASSERT_TRUE(engine.send(commands[4] + "\n"));
  ASSERT_EQ(engine.wait(), 0) << tail(engine);
  EXPECT_EQ(engine.errors(), "");

  std::vector<std::string> echoed, copied, logOnly;
  for (const std::string& line : testutil::splitLines(readFile(dir.file("vesk.log")))) {
    if (line.rfind("CMD: ", 0) == 0) echoed.push_back(line.substr(5));
    else if (line.rfind("info string fen ", 0) == 0 || line.rfind("info string ply= ", 0) == 0) logOnly.push_back(line);
    else copied.push_back(line);
  }
  EXPECT_EQ(echoed, commands);
  // The log opens during start-up; from then on it holds each output line,
  // in the order the GUI saw them, search threads included.
  const auto shown = engine.lines();
  ASSERT_GE(shown.size(), copied.size());
  ASSERT_GT(copied.size(), 5u);
  EXPECT_EQ(copied.front(), "Hello from Vesk 5.00");
  EXPECT_EQ(std::vector<std::string>(shown.end() - static_cast<long>(copied.size()), shown.end()), copied);
  EXPECT_EQ(copied.back(), "readyok");
  EXPECT_EQ(engine.output().find("CMD:"), std::string::npos);
  // The search start notes its root and time target in the log only.
  ASSERT_EQ(logOnly.size(), 2u);
  EXPECT_EQ(logOnly[0].rfind("info string fen rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq", 0), 0u)
      << logOnly[0];
  EXPECT_EQ(logOnly[1], "info string ply= 1, trg_time= 0.300 sec");
}

INSTANTIATE_TEST_SUITE_P(Play, PlaySession, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int>& info) {
                           return std::string(info.param == 1 ? "OneThread" : "TwoThreads");
                         });

// Many short searches in a row with two threads, started and ended in every
// way a GUI does. Release runs 500 cycles (about 10 s); sanitizer builds,
// several times slower, run the same mix 200 times.
TEST(PlayStress, GoStopCyclesTwoThreads) {
  const int cycles = kSanitized ? 200 : 500;
  const std::vector<std::string> roots = {
      "startpos",
      "startpos moves e2e4 e7e5 g1f3 b8c6 f1b5 a7a6",
      "fen r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
      "fen 8/P6k/8/8/8/8/6K1/8 w - -",                                        // promotion
      "fen 4k3/8/8/8/8/8/8/r3K3 w - -",                                       // in check
      "fen r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq -",  // mate in one
      "fen 8/8/8/8/8/5k2/p7/5K2 b - -",
  };
  EngineProcess engine(kHce);
  ASSERT_NO_FATAL_FAILURE(startWithThreads(engine, 2));
  std::string root = roots[0];
  for (int i = 0; i < cycles; ++i) {
    SCOPED_TRACE("cycle " + std::to_string(i));
    std::string setup;
    if (i % 4 == 0) {
      root = roots[(i / 4) % roots.size()];
      setup = std::string(i % 20 == 0 ? "ucinewgame\n" : "") + "position " + root + "\n";
    }
    const size_t from = engine.output().size();
    bool sent = true;
    switch (i % 6) {
      case 0:  // "stop" queued right behind "go"
        sent = engine.send(setup + "go infinite\nstop\n");
        break;
      case 1:  // "stop" after a while
        sent = engine.send(setup + "go infinite\n");
        std::this_thread::sleep_for(milliseconds(20));
        sent = sent && engine.send("stop\n");
        break;
      case 2:
        sent = engine.send(setup + "go ponder wtime 1000 btime 1000\n" + (i % 12 == 2 ? "ponderhit\n" : "stop\n"));
        break;
      case 3:  // ends by itself
        sent = engine.send(setup + "go movetime 10\n");
        break;
      case 4:
        sent = engine.send(setup + "go infinite\nisready\n") && engine.waitFor("readyok\n", 10.0, from) &&
               engine.send("stop\n");
        break;
      case 5:  // a new "go" replaces the running search, which gets no answer
        sent = engine.send(setup + "go infinite\ngo depth 2\n");
        break;
    }
    ASSERT_TRUE(sent) << tail(engine);
    const GoReply reply = readGoReply(engine, from, 10.0);
    ASSERT_TRUE(legalAnswer(root, reply)) << tail(engine);
  }
  ASSERT_GE(replyDelay(engine, "isready\n", "readyok\n"), 0.0) << tail(engine);
  // One answer per cycle: a stray one would have been counted here.
  EXPECT_EQ(countOf(engine.output(), "bestmove "), static_cast<size_t>(cycles));
  quitCleanly(engine);
}
