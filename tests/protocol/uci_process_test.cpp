// The UCI dialogue end to end: the binary is driven over pipes as an
// interface would drive it, including hostile input.
#include <gtest/gtest.h>

#include <fstream>

#include "protocol/engine_process.h"

using testutil::EngineProcess;
using testutil::runToEnd;

using testutil::replies;

namespace {

const std::vector<std::string> kHce = {"-use_hce"};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(UciProcess, HandshakeListsIdentityOptionsAndUciok) {
  EngineProcess engine(kHce);
  ASSERT_TRUE(engine.send("uci\n"));
  ASSERT_TRUE(engine.waitFor("uciok\n")) << engine.transcript();
  ASSERT_TRUE(engine.send("isready\n"));
  ASSERT_TRUE(engine.waitFor("readyok\n")) << engine.transcript();
  ASSERT_EQ(runToEnd(engine, "quit\n"), 0) << engine.transcript();

  auto r = replies(engine);
  ASSERT_GE(r.size(), 4u) << engine.transcript();
  EXPECT_EQ(r[0], "id name Vesk 5.00");
  EXPECT_EQ(r[1], "id author Tarvell");
  size_t ok = 2;
  while (ok < r.size() && r[ok] != "uciok") {
    EXPECT_EQ(r[ok].rfind("option name ", 0), 0u) << "only option lines between id and uciok: " << r[ok];
    ++ok;
  }
  ASSERT_LT(ok, r.size());
  EXPECT_GT(ok, 2u) << "at least one option is declared";
  EXPECT_NE(std::find(r.begin(), r.end(), "option name Log type check default false"), r.end());
  ASSERT_EQ(r.size(), ok + 2) << engine.transcript();
  EXPECT_EQ(r[ok + 1], "readyok");
}

TEST(UciProcess, CommandsInOneWriteRunInOrder) {
  EngineProcess engine(kHce);
  ASSERT_EQ(runToEnd(engine, "isready\nuci\nisready\nposition startpos moves e2e5\nisready\nquit\nisready\n"), 0)
      << engine.transcript();
  auto r = replies(engine);
  ASSERT_GE(r.size(), 6u) << engine.transcript();
  EXPECT_EQ(r[0], "readyok");
  EXPECT_EQ(r[1], "id name Vesk 5.00");
  auto uciok = std::find(r.begin(), r.end(), "uciok");
  ASSERT_NE(uciok, r.end());
  std::vector<std::string> tail(uciok, r.end());
  // Nothing after "quit" is executed.
  std::vector<std::string> expected = {"uciok", "readyok", "info string illegal move e2e5", "readyok"};
  EXPECT_EQ(tail, expected) << engine.transcript();
}

TEST(UciProcess, UnknownAndIdleCommandsAreSilent) {
  EngineProcess engine(kHce);
  // Command words are case-sensitive; "stop" and "ponderhit" without a search do nothing;
  // "position" without startpos or fen is ignored.
  ASSERT_EQ(runToEnd(engine, "ISREADY\nhello world\nstop\nponderhit\nposition\nposition nothing moves e2e4\n"
                             "debug on\nucinewgame\nsetoption\nsetoption name Nonexistent value 3\n"
                             "  isready\nisready\t\n"),
            0)
      << engine.transcript();
  std::vector<std::string> expected = {"readyok", "readyok"};
  EXPECT_EQ(replies(engine), expected) << engine.transcript();
}

TEST(UciProcess, IllegalMoveTokenIsReported) {
  EngineProcess engine(kHce);
  ASSERT_EQ(runToEnd(engine, "position startpos moves e2e4 e7e5 e1e3 g1f3\n"
                             "position fen k7/4P3/8/8/8/8/8/4K3 w - - moves e7e8\n"
                             "position startpos moves e2e4 zz\n"),
            0)
      << engine.transcript();
  std::vector<std::string> expected = {"info string illegal move e1e3", "info string illegal move e7e8",
                                       "info string illegal move zz"};
  EXPECT_EQ(replies(engine), expected) << engine.transcript();
}

TEST(UciProcess, MalformedFenIsRejectedWithAMessage) {
  EngineProcess engine(kHce);
  ASSERT_EQ(runToEnd(engine, "position fen rnbqkbnr/ppppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - moves e2e4\n"
                             "isready\n"),
            0)
      << engine.transcript();
  auto r = replies(engine);
  ASSERT_EQ(r.size(), 3u) << engine.transcript();
  // In UCI mode every diagnostic line is an info string.
  EXPECT_EQ(r[0], "info string Illegal EPD - rnbqkbnr/ppppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
  EXPECT_EQ(r[1].rfind("info string ", 0), 0u) << "the reason comes as an info string in UCI mode: " << r[1];
  EXPECT_EQ(r[2], "readyok");
}

TEST(UciProcess, EndOfInputWithoutQuitEndsWithStatusZero) {
  EngineProcess engine(kHce);
  ASSERT_TRUE(engine.send("isready\n"));
  ASSERT_TRUE(engine.waitFor("readyok\n")) << engine.transcript();
  // The engine keeps waiting while input stays open...
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_TRUE(engine.running()) << engine.transcript();
  engine.closeInput();
  // ...and ends once it closes.
  EXPECT_EQ(engine.wait(), 0) << engine.transcript();
}

TEST(UciProcess, MissingStandardInputCountsAsEndOfInput) {
  EngineProcess engine(kHce, {}, /*closedStdin=*/true);
  EXPECT_EQ(engine.wait(5.0), 0) << engine.transcript();
  EXPECT_NE(engine.output().find("calibration"), std::string::npos) << engine.transcript();
}

TEST(UciProcess, QuitEndsWhileInputStaysOpen) {
  EngineProcess engine(kHce);
  ASSERT_TRUE(engine.send("isready\nquit\n"));
  EXPECT_EQ(engine.wait(), 0) << engine.transcript();
  EXPECT_EQ(engine.countLines("readyok"), 1u);
}

TEST(UciProcess, UnterminatedLastLineStillRuns) {
  EngineProcess engine(kHce);
  ASSERT_EQ(runToEnd(engine, "isready\nisready"), 0) << engine.transcript();
  std::vector<std::string> expected = {"readyok", "readyok"};
  EXPECT_EQ(replies(engine), expected) << engine.transcript();
}

TEST(UciProcess, LineEndingsAndNulBytes) {
  EngineProcess engine(kHce);
  // CRLF endings, a NUL ending a command, empty lines and lone carriage returns.
  std::string input = "isready\r\nuci\r\n\r\n\n";
  input += std::string("isready\0isready\n", 16);
  input += std::string("\0\0\0", 3);
  input += "position startpos moves e2e4 e7e5\r\nisready\r\n";
  ASSERT_EQ(runToEnd(engine, input), 0) << engine.transcript();
  auto r = replies(engine);
  EXPECT_EQ(std::count(r.begin(), r.end(), "readyok"), 4) << engine.transcript();
  EXPECT_EQ(std::count(r.begin(), r.end(), "uciok"), 1) << engine.transcript();
  for (const auto& line : r) {
    EXPECT_EQ(line.find("illegal move"), std::string::npos) << "a carriage return must not stick to a move token";
    EXPECT_EQ(line.find('\r'), std::string::npos);
  }
}

TEST(UciProcess, LongPositionLineIsReadWhole) {
  // About 100 KB: 5,000 rounds of knights leaving and coming home.
  std::string line = "position startpos moves";
  for (int i = 0; i < 5000; ++i) line += " g1f3 g8f6 f3g1 f6g8";
  line += " e2e4 e7e5 e1e2 e8e7 e2e3 e7e6 e9e9\n";
  ASSERT_GT(line.size(), 100000u);
  EngineProcess engine(kHce);
  ASSERT_EQ(runToEnd(engine, line + "isready\n"), 0) << engine.transcript().substr(0, 4000);
  // Every move up to the final bad token was legal, so only that token is reported.
  std::vector<std::string> expected = {"info string illegal move e9e9", "readyok"};
  EXPECT_EQ(replies(engine), expected);
}

TEST(UciProcess, OverlongLineIsDroppedAndTheEngineGoesOn) {
  EngineProcess engine(kHce);
  std::string huge = "position startpos moves";
  while (huge.size() < (1u << 20) + 1000) huge += " e2e4";
  ASSERT_TRUE(engine.send("isready\n" + huge + "\nisready\n"));
  ASSERT_TRUE(engine.waitForLines("readyok", 2)) << engine.transcript().substr(0, 4000);
  ASSERT_EQ(runToEnd(engine, "isready\n"), 0);
  auto r = replies(engine);
  ASSERT_EQ(r.size(), 4u) << engine.transcript().substr(0, 4000);
  EXPECT_EQ(r[0], "readyok");
  EXPECT_EQ(r[1].rfind("info string ", 0), 0u) << "one note about the dropped line: " << r[1];
  EXPECT_NE(r[1].find("ignored"), std::string::npos) << r[1];
  EXPECT_EQ(r[2], "readyok");
  EXPECT_EQ(r[3], "readyok");
}

TEST(UciProcess, LogOptionWritesTheLogInTheWorkingDirectory) {
  testutil::TempDir dir;
  EngineProcess engine(kHce, dir.path());
  ASSERT_EQ(runToEnd(engine, "setoption name Log value true\nisready\nsetoption name Log value false\nisready\n"),
            0)
      << engine.transcript();
  std::vector<std::string> expected = {"info string Log set to 1", "readyok", "info string Log set to 0", "readyok"};
  EXPECT_EQ(replies(engine), expected) << engine.transcript();
  std::string log = readFile(dir.file("vesk.log"));
  size_t first = log.find("CMD: isready\nreadyok\n");
  EXPECT_NE(first, std::string::npos) << log;
  // Once logging is off, neither the second command nor its reply is copied.
  EXPECT_EQ(log.find("CMD: isready", first + 1), std::string::npos) << log;
  EXPECT_EQ(log.find("readyok", first + 20), std::string::npos) << log;
}

TEST(UciProcess, VanishedReaderDoesNotKillTheEngine) {
  EngineProcess engine(kHce);
  ASSERT_TRUE(engine.waitFor("calibration")) << engine.transcript();
  engine.closeOutput();
  // Replies now go to a closed pipe; the engine must still run to "quit".
  ASSERT_TRUE(engine.send("uci\nisready\nquit\n"));
  EXPECT_EQ(engine.wait(), 0) << engine.transcript();
}

TEST(UciProcess, UndeletableLogFileLeavesLoggingOff) {
  testutil::TempDir dir;
  // A directory cannot be unlinked like a file, not even by root.
  std::filesystem::create_directories(dir.file("vesk.log") + "/inside");
  EngineProcess engine(kHce, dir.path());
  ASSERT_EQ(runToEnd(engine, "setoption name Log value true\nisready\n"), 0) << engine.transcript();
  std::vector<std::string> expected = {"info string Log set to 1", "log file in use.", "readyok"};
  EXPECT_EQ(replies(engine), expected) << engine.transcript();
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("vesk.log") + "/inside"));

  // The same at start-up through "-log": reported, and start-up goes on.
  EngineProcess withSwitch({"-log", "-use_hce"}, dir.path());
  ASSERT_EQ(runToEnd(withSwitch, "isready\n"), 0) << withSwitch.transcript();
  EXPECT_EQ(withSwitch.countLines("log file in use."), 1u) << withSwitch.transcript();
  EXPECT_EQ(withSwitch.countLines("readyok"), 1u);
}

TEST(UciProcess, LongRepliesAreCut) {
  EngineProcess engine(kHce);
  ASSERT_EQ(runToEnd(engine, "position fen " + std::string(2000, 'x') + "\nisready\n"), 0) << engine.transcript();
  auto r = replies(engine);
  ASSERT_EQ(r.size(), 3u) << engine.transcript();
  EXPECT_EQ(r[0], ("info string Illegal EPD - " + std::string(2000, 'x')).substr(0, 255));
  EXPECT_EQ(r[2], "readyok");
}
