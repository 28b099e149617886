// Console mode ("-c") end to end: a person typing moves and commands.
#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/engine_process.h"

using testutil::EngineProcess;
using testutil::runToEnd;

using testutil::replies;

namespace {

const std::vector<std::string> kConsole = {"-c", "-use_hce"};
const char* kStartFenWithCounters = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 0";

// First lines of the board diagrams, in order: each diagram starts with the FEN.
std::vector<std::string> diagramFens(const std::vector<std::string>& lines) {
  std::vector<std::string> fens;
  for (size_t i = 0; i + 1 < lines.size(); ++i)
    if (!lines[i].empty() && lines[i][0] != ' ' && lines[i + 1].size() == 17 && lines[i + 1][0] == ' ')
      fens.push_back(lines[i]);
  return fens;
}

bool allDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The node count of "visited N nodes in S.SSS seconds, nps= R", or "" for another line.
std::string perftCount(const std::string& line) {
  const std::string head = "visited ", middle = " nodes in ", tail = " seconds, nps= ";
  size_t m = line.find(middle), t = line.find(tail);
  if (line.rfind(head, 0) != 0 || m == std::string::npos || t == std::string::npos || t < m) return "";
  std::string nodes = line.substr(head.size(), m - head.size());
  std::string seconds = line.substr(m + middle.size(), t - m - middle.size());
  size_t dot = seconds.find('.');
  if (!allDigits(nodes) || !allDigits(line.substr(t + tail.size())) || dot == std::string::npos ||
      seconds.size() - dot != 4 || !allDigits(seconds.substr(0, dot)) || !allDigits(seconds.substr(dot + 1)))
    return "";
  return nodes;
}

}  // namespace

TEST(ConsoleProcess, StartShowsTheBoardAndTypedMovesAreMade) {
  EngineProcess engine(kConsole);
  ASSERT_EQ(runToEnd(engine, "e4\ne7e5\nNf3\nmove Nc6\nbd\nquit\n"), 0) << engine.transcript();
  auto r = replies(engine);
  ASSERT_FALSE(r.empty()) << engine.transcript();
  EXPECT_EQ(r[0], kStartFenWithCounters) << "the board is shown after start-up";
  ASSERT_GE(r.size(), 10u);
  // The start diagram: ranks 8 to 1, black pawns as "o", squares "+" / "-", side to move.
  EXPECT_EQ(r[1], "  r n b q k b n r");
  EXPECT_EQ(r[2], "  o o o o o o o o");
  EXPECT_EQ(r[3], "  - + - + - + - +");
  EXPECT_EQ(r[6], "  + - + - + - + -");
  EXPECT_EQ(r[8], "  R N B Q K B N R");
  EXPECT_EQ(r[9], "white");

  EXPECT_EQ(std::count(r.begin(), r.end(), "1. move e4"), 1) << engine.transcript();
  EXPECT_EQ(std::count(r.begin(), r.end(), "1. move e7e5"), 1);
  EXPECT_EQ(std::count(r.begin(), r.end(), "2. move Nf3"), 1);
  EXPECT_EQ(std::count(r.begin(), r.end(), "2. move Nc6"), 1);
  std::vector<std::string> expected = {
      kStartFenWithCounters,
      "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1",
      "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2",
      "rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 1 3",
      "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 4",
      "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 4",
  };
  EXPECT_EQ(diagramFens(r), expected) << engine.transcript();
}

TEST(ConsoleProcess, UndoAndRedoWalkTheGameHistory) {
  EngineProcess engine(kConsole);
  ASSERT_EQ(runToEnd(engine, "e4\ne5\nNf3\nundo\n[\n]\n]\n]\nquit\n"), 0) << engine.transcript();
  auto r = replies(engine);
  std::vector<std::string> redo;
  for (const auto& line : r)
    if (line.find(" move ") != std::string::npos) redo.push_back(line);
  std::vector<std::string> expectedMoves = {"1. move e4", "1. move e5", "2. move Nf3", "1... move e7e5",
                                            "2. move g1f3"};
  EXPECT_EQ(redo, expectedMoves) << "the third \"]\" has nothing left to replay\n" << engine.transcript();
  auto fens = diagramFens(r);
  ASSERT_EQ(fens.size(), 8u) << engine.transcript();
  const std::string afterE5 = "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e6 0 2";
  const std::string afterNf3 = "rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 1 3";
  const std::string afterE4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1";
  EXPECT_EQ(fens[3], afterNf3);
  EXPECT_EQ(fens[4], afterE5) << "undo";
  EXPECT_EQ(fens[5], afterE4) << "[";
  EXPECT_EQ(fens[6], afterE5) << "]";
  EXPECT_EQ(fens[7], afterNf3) << "]";
}

TEST(ConsoleProcess, NewAndFenSetThePosition) {
  EngineProcess engine(kConsole);
  ASSERT_EQ(runToEnd(engine, "e4\nnew\nfen 4k3/8/8/8/8/8/4P3/4K3 b - -\n"
                             "fen 4k3/8/8/8/8/8/8/8 w - -\nbd\nquit\n"),
            0)
      << engine.transcript();
  auto r = replies(engine);
  auto fens = diagramFens(r);
  std::vector<std::string> expected = {kStartFenWithCounters,
                                       "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1",
                                       kStartFenWithCounters,
                                       "4k3/8/8/8/8/8/4P3/4K3 b - - 0 0",
                                       "4k3/8/8/8/8/8/4P3/4K3 b - - 0 0",
                                       "4k3/8/8/8/8/8/4P3/4K3 b - - 0 0"};
  EXPECT_EQ(fens, expected) << "a FEN without a white king leaves the position as it was\n" << engine.transcript();
  EXPECT_EQ(std::count(r.begin(), r.end(), "Illegal EPD - 4k3/8/8/8/8/8/8/8 w - -"), 1) << engine.transcript();
  for (const auto& line : r) EXPECT_EQ(line.rfind("info string", 0), std::string::npos) << "console mode: " << line;
}

TEST(ConsoleProcess, PerftCountsAndClampsNegativeDepth) {
  EngineProcess engine(kConsole);
  ASSERT_EQ(runToEnd(engine, "perft 3\nperft -5\nperft\ne4\nperft 2\nquit\n"), 0) << engine.transcript();
  std::vector<std::string> counts;
  for (const auto& line : replies(engine))
    if (std::string n = perftCount(line); !n.empty()) counts.push_back(n);
  std::vector<std::string> expected = {"8902", "1", "1", "600"};
  EXPECT_EQ(counts, expected) << engine.transcript();
}

TEST(ConsoleProcess, GarbageIsReportedAndTheConsoleGoesOn) {
  EngineProcess engine(kConsole);
  ASSERT_EQ(runToEnd(engine, "xyzzy\ne5\nisready\nmove\nmove zz\n" + std::string(300, 'q') + "\n" +
                                 std::string((1 << 20) + 10, 'e') + "\n" +
                                 "fen 4k3/8/8/8/8/8/8/1N2KN2 w - -\nNd2\nN1d2\nNbd2\nbd\nquit\n"),
            0)
      << engine.transcript();
  auto r = replies(engine);
  EXPECT_EQ(std::count(r.begin(), r.end(), "unknown command or illegal move: xyzzy"), 1) << engine.transcript();
  EXPECT_EQ(std::count(r.begin(), r.end(), "unknown command or illegal move: e5"), 1) << "e5 is not legal for white";
  EXPECT_EQ(std::count(r.begin(), r.end(), "unknown command or illegal move: isready"), 1)
      << "console mode does not answer UCI commands";
  // Two knights reach d2: the bare form names neither; the rank form names both.
  EXPECT_EQ(std::count(r.begin(), r.end(), "unknown command or illegal move: Nd2"), 1) << engine.transcript();
  EXPECT_EQ(std::count(r.begin(), r.end(), "ambiguous move"), 1) << engine.transcript();
  EXPECT_EQ(std::count(r.begin(), r.end(), "unknown command or illegal move: N1d2"), 1) << engine.transcript();
  EXPECT_EQ(std::count(r.begin(), r.end(), "1. move Nbd2"), 1) << engine.transcript();
  auto fens = diagramFens(r);
  ASSERT_FALSE(fens.empty());
  EXPECT_EQ(fens.back(), "4k3/8/8/8/8/8/3N4/4KN2 b - - 1 1");
  // The dropped line gets a plain note: no UCI prefix in console mode.
  auto note = std::find_if(r.begin(), r.end(), [](const std::string& l) { return l.find("ignored") != l.npos; });
  ASSERT_NE(note, r.end()) << engine.transcript().substr(0, 4000);
  EXPECT_EQ(note->rfind("info string", 0), std::string::npos) << *note;
  // Over-long words are cut in the reply, not echoed whole.
  for (const auto& line : r) EXPECT_LT(line.size(), 256u);
}

TEST(ConsoleProcess, UciCommandSwitchesToUciMode) {
  EngineProcess engine(kConsole);
  ASSERT_EQ(runToEnd(engine, "uci\nisready\nbd\n"), 0) << engine.transcript();
  auto r = replies(engine);
  EXPECT_EQ(std::count(r.begin(), r.end(), "id name Vesk 5.00"), 1) << engine.transcript();
  EXPECT_EQ(std::count(r.begin(), r.end(), "uciok"), 1);
  EXPECT_EQ(std::count(r.begin(), r.end(), "readyok"), 1);
  // "bd" is no UCI command: ignored silently after the switch.
  EXPECT_EQ(r.back(), "readyok") << engine.transcript();
}
