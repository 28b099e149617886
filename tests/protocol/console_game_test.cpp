// Console commands in process: settings, history walks, the exchange list,
// the board editor, and PGN save and load.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "protocol/engine_process.h"
#include "protocol/game_fixture.h"

using namespace board;

namespace {

class ConsoleGame : public testutil::GameFixture {
 protected:
  using Lines = std::vector<std::string>;
  void SetUp() override {
    GameFixture::SetUp();
    platform::uci_mode = 0;
    home_ = open(".", O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override {
    if (home_ >= 0 && fchdir(home_) == 0) close(home_);
    // The settings the commands change are process-wide.
    protocol::input = platform::LineReader{};
    protocol::go_limits = limits_;
    protocol::live_options = protocol::saved_options = options_;
    protocol::noise = noise_;
    protocol::console_state = protocol::ConsoleState{};
    search::ttSetEnabledSetting(1);
    protocol::setTraceLimit(0);
    GameFixture::TearDown();
  }
  static bool has(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // Runs "edit" with its lines waiting in the command reader.
  Lines edit(const Lines& input) {
    protocol::input = platform::LineReader{};
    protocol::input.endOfInput = true;
    for (const auto& l : input) protocol::input.lines.push_back(l);
    return console("edit");
  }
  void write(const std::string& name, const std::string& text) { std::ofstream(name, std::ios::binary) << text; }
  std::string read(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  testutil::TempDir dir_;
  int home_ = -1;
  const search::SearchLimits limits_ = protocol::go_limits;
  const protocol::EngineOptions options_ = protocol::saved_options;
  const double noise_ = protocol::noise;
};

}  // namespace

TEST_F(ConsoleGame, SettingsTakeTheirValuesAndRefuseBadOnes) {
  EXPECT_EQ(console("set level 40 5:00 2"), Lines{"set level to 40 moves in 300.00 seconds, inc 2.00"});
  EXPECT_EQ(protocol::go_limits.level_moves, 40);
  EXPECT_FLOAT_EQ(protocol::go_limits.time_left[1], 300);
  EXPECT_EQ(console("set level 500 1:30")[0], "set level to 100 moves in 90.00 seconds, inc 0.00");
  EXPECT_EQ(console("set level 40 abc 2"), Lines{"bad value 'abc' for level"});
  EXPECT_EQ(protocol::go_limits.level_moves, 100) << "a refused level changes nothing";

  EXPECT_EQ(console("set ss 0"), Lines{"selectivity set to OFF"});
  EXPECT_EQ(protocol::live_options.personality[search::kNMP_depth], 99);
  EXPECT_EQ(protocol::live_options.personality[search::kLMP_depth], 0);
  EXPECT_EQ(console("set ss 1"), Lines{"set default personality"});
  EXPECT_EQ(protocol::live_options.personality, protocol::saved_options.personality);

  EXPECT_EQ(console("set LMP_depth 40"), Lines{"LMP_depth set to 11"}) << "margin tables end at 11";
  EXPECT_EQ(console("set Selectivity -3"), Lines{"Selectivity set to 0"});
  EXPECT_EQ(console("set depth 9999999999999"), Lines{});
  EXPECT_EQ(protocol::go_limits.depth_limit, 66);
  EXPECT_EQ(console("set hash 2"), Lines{});
  EXPECT_EQ(search::ttEnabledSetting(), 2);
  EXPECT_EQ(console("set hash"), Lines{"bad value '' for hash"});
  console("set my_multipv_count 3");
  EXPECT_EQ(protocol::live_options.MultiPV, 3);
  EXPECT_EQ(console("set target_nps 0"), Lines{"bad value '0' for target_nps"});
  EXPECT_EQ(console("set target_nps 50000"), Lines{"target_nps set to 50000"});
  EXPECT_EQ(protocol::live_options.UCI_LimitStrength, 1);
  EXPECT_EQ(console("set nonsense 1"), Lines{});
}

TEST_F(ConsoleGame, JumpWalksTheHistoryAndPvKeepsIt) {
  for (const char* m : {"e4", "e5", "Nf3", "Nc6", "Bb5"}) console(m);
  console("jump 1");
  EXPECT_EQ(historyLength(), 0) << "jump 1 is the position before the first move";
  console("jump 3");
  EXPECT_EQ(historyLength(), 4);
  // A table line that leaves the game: the walk must not overwrite the moves to come.
  if (!search::ttEntryCount()) search::ttAllocate(1);
  search::ttStore(pos(), 1, 5, search::findCoordinateMove("d2d4"), 0, -1, 1);
  EXPECT_EQ(console("pv")[0], "PV: d4");
  EXPECT_EQ(console("]")[0], "3. move f1b5");
  console("jump 99");
  EXPECT_EQ(historyLength(), 5);
  EXPECT_EQ(console("jump"), Lines{"bad value '' for jump"});
}

TEST_F(ConsoleGame, SwapListsEveryAttackedPiece) {
  search::setGameFen("4k3/8/8/3p4/4P3/8/8/R3K3 w - -");
  Lines r = console("swap");
  Lines expected = {"sq= e4, swap1=  100", "", "sq= d5, swap1=  100", ""};
  EXPECT_EQ(r, expected);
}

TEST_F(ConsoleGame, OnlyQuitAndStopActDuringASearch) {
  search::search_state = search::kSearching;
  EXPECT_EQ(console("bd"), Lines{});
  EXPECT_EQ(console("e4"), Lines{});
  console(".");
  EXPECT_EQ(search::stop_requested.load(), 1);
  search::search_state = search::kIdle;
  search::stop_requested = 0;
  EXPECT_EQ(historyLength(), 0);
}

TEST_F(ConsoleGame, EditPlacesPiecesAndRefusesUnsoundPositions) {
  console("e4");
  Lines r = edit({"#", "w Kg1 Rh1 Pz9 Qd1", "", "b Kd8 Ra8 rh8 xd8 Ke8", "."});
  EXPECT_EQ(r[0], "");
  EXPECT_EQ(r[2], ".                    end edit");
  EXPECT_EQ(fen(), "r3k2r/8/8/8/8/8/8/6KR b kq - 0 0") << "Pz9 ends its line; black's rights stay";
  // End of input also ends the editor.
  r = edit({"w Pa8"});
  EXPECT_TRUE(has(r, "Illegal EPD - P3k2r/8/8/8/8/8/8/6KR w k -")) << testing::PrintToString(r);
  EXPECT_EQ(fen(), "r3k2r/8/8/8/8/8/8/6KR b kq - 0 0");
  r = edit({"#", "w Ke1", "b Ke8 Qe2", "."});
  EXPECT_TRUE(has(r, "Illegal EPD - 4k3/8/8/8/8/8/4q3/4K3 b - -")) << "white, not to move, is in check";
  r = edit({"#", "w Ke1", "."});
  EXPECT_TRUE(has(r, "Illegal EPD - 8/8/8/8/8/8/8/4K3 w - -"));
  EXPECT_EQ(fen(), "r3k2r/8/8/8/8/8/8/6KR b kq - 0 0");
}

TEST_F(ConsoleGame, SavedGamesLoadBackToTheSamePosition) {
  for (const char* m : {"e4", "e5", "Nf3", "Nc6", "Bc4", "Bc5", "O-O", "Nf6"}) console(m);
  const std::string first = fen();
  console("save");
  search::setGameFen("r3k2r/6P1/8/8/8/8/1p6/R3K2R b KQkq - 7 30");
  for (const char* m : {"bxa1=Q+", "Ke2", "O-O-O", "gxh8=N", "Qxh1"}) console(m);
  const std::string second = fen();
  console("save");
  const std::string pgn = read("tmp.pgn");
  EXPECT_NE(pgn.find("Bc5 O-O Nf6 *\n\n"), std::string::npos) << pgn;
  EXPECT_NE(pgn.find("[SetUp \"1\"]\n[FEN \"r3k2r/6P1/8/8/8/8/1p6/R3K2R b KQkq - 0 1\"]\n"), std::string::npos) << pgn;
  EXPECT_NE(pgn.find("bxa1=Q+ Ke2 O-O-O gxh8=N Qxh1 *"), std::string::npos) << pgn;

  console("load tmp.pgn 1");
  EXPECT_EQ(fen(), first);
  console("load tmp.pgn 2");
  EXPECT_EQ(fen(), second);
  EXPECT_EQ(console("]"), Lines{}) << "a loaded game ends where it ends";
  console("load tmp.pgn 0");
  EXPECT_EQ(fen(), first) << "game 0 is game 1";

  // A black-box PGN reader takes both games.
  if (access("/usr/games/pgn-extract", X_OK) == 0) {
    testutil::EngineProcess reader({"-s", "tmp.pgn"}, dir_.path(), true, "/usr/games/pgn-extract");
    ASSERT_EQ(reader.wait(), 0) << reader.transcript();
    EXPECT_EQ(reader.errors(), "") << reader.transcript();
    EXPECT_EQ(testutil::splitLines(reader.output())[0], "[Event \"Unknown\"]") << reader.transcript();
    EXPECT_NE(reader.output().find("[FEN \"r3k2r/6P1/8/8/8/8/1p6/R3K2R b KQkq - 0 1\"]"), std::string::npos);
  }
}

TEST_F(ConsoleGame, LoadSkipsAnnotationsAndChoosesTheGame) {
  write("games.pgn",
        "[Event \"First\"]\n[White \"A\"]\n\n1. d4 d5 *\n\n"
        "[Event \"Second\"]\n[White \"Needle\"]\n\n1.e4 {a comment\nover (two) lines} e5 $1 2. Nf3!? (2. f4 exf4\n"
        "(2... d5)) Nc6 ; rest of line\n3... 0-0 1-0\n\n"
        "[Event \"Third\"]\n\n1. c4 e5 2. g3 1/2-1/2\n");
  Lines r = console("load games.pgn Needle");
  EXPECT_EQ(r[0], "loading games.pgn, tag Needle");
  EXPECT_TRUE(has(r, "can't parse move '0-0'")) << "castling is no move for white here";
  EXPECT_EQ(fen(), "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 4");
  console("load games.pgn 3");
  EXPECT_EQ(fen(), "rnbqkbnr/pppp1ppp/8/4p3/2P5/6P1/PP1PPP1P/RNBQKBNR b KQkq - 0 3");
  EXPECT_TRUE(has(console("load games.pgn 7"), "no game 7 in games.pgn"));
  EXPECT_TRUE(has(console("load games.pgn Nobody"), "no game in games.pgn has 'Nobody'"));
  EXPECT_EQ(historyLength(), 0);
}

TEST_F(ConsoleGame, BadGameFilesGiveAMessage) {
  console("e4");
  EXPECT_TRUE(has(console("load missing.pgn"), "cannot open missing.pgn"));
  EXPECT_EQ(historyLength(), 1) << "a missing file keeps the game";
  write("empty.pgn", "");
  EXPECT_TRUE(has(console("load empty.pgn"), "no game 1 in empty.pgn"));
  std::string garbage = "[Event \"x\"]\n";
  for (int i = 0; i < 5000; ++i) garbage += static_cast<char>((i * 7919) % 256);
  write("garbage.pgn", garbage);
  Lines r = console("load garbage.pgn");
  ASSERT_FALSE(r.empty());
  for (const auto& l : r) EXPECT_LT(l.size(), 256u);
  // 2,000 plies: the loader stops before the history would lose its start.
  std::string longGame = "[Event \"long\"]\n";
  for (int i = 0; i < 500; ++i) longGame += "Nf3 Nf6 Ng1 Ng8 ";
  write("long.pgn", longGame + "*\n");
  r = console("load long.pgn 1");
  EXPECT_TRUE(has(r, "game too long: loading stopped after 511 plies"));
  EXPECT_EQ(historyLength(), 511);
  console("jump 1");
  EXPECT_EQ(fen(), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 0");
}

TEST_F(ConsoleGame, EveryCommandTakesBadArguments) {
  protocol::input = platform::LineReader{};
  protocol::input.endOfInput = true;
  const std::string huge = std::string(1 << 20, '9');
  const Lines args = {"", "x", "-5", "-99999999999999999999", "99999999999999999999", "1e308", "nan", "0x7fffffff",
                      "1 2 3 4 5 6 7 8 9 10 11 12", "Pz9 \x01\xff", huge};
  const Lines commands = {"new", "fen", "bd", "get", "pv", "trace", "ev", "sp", "lmr", "undo", "[", "]", "load",
                          "save", "jump", "edit", "book", "swap", "move", "set hash", "set noise", "set multipv",
                          "set debug", "set level", "set level 40", "set depth", "set target_nps", "set ss",
                          "set NMP_depth", "set Selectivity", "set ponder", "set", "go", "an", "mv", "self"};
  for (const auto& c : commands)
    for (const auto& a : args) {
      console("e4");
      const Lines reply = console(c + " " + a);
      for (const auto& l : reply) ASSERT_LT(l.size(), 600u) << c << " " << a.substr(0, 40);
      ASSERT_EQ(validatePosition(pos()), "") << c << " " << a.substr(0, 40);
      // The searches only ask for a start here: nothing runs in process.
      search::search_state = search::kIdle;
      protocol::console_state = protocol::ConsoleState{};
    }
  for (const char* a : {"-5", "x", ""}) EXPECT_EQ(console(std::string("perft ") + a).size(), 1u);
}
