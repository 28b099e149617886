// "go" and its answer: the limits a "go" sets, and through the real binary
// the "bestmove" for every kind of root, stop, ponder, infinite, and mate
// scores.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "board/board_helpers.h"
#include "protocol/game_fixture.h"
#include "search/search_helpers.h"

using searchtest::goAndWait;
using searchtest::GoReply;
using searchtest::infoField;
using searchtest::repeat;
using testutil::EngineProcess;

namespace {

const std::vector<std::string> kHce = {"-use_hce"};

// The root that the arguments of a "position" command describe.
std::unique_ptr<testutil::Board> rootOf(const std::string& args) {
  testutil::initTables();
  const size_t movesAt = args.find(" moves ");
  const std::string head = args.substr(0, movesAt);
  auto b = std::make_unique<testutil::Board>(head == "startpos" ? std::string(board::kStartFen) : head.substr(4));
  if (movesAt != std::string::npos) {
    EXPECT_TRUE(searchtest::playMoves(*b, searchtest::splitWords(args.substr(movesAt + 7))));
  }
  return b;
}

testing::AssertionResult legalIn(const std::string& positionArgs, const std::string& move) {
  platform::uci_mode = 1;
  auto root = rootOf(positionArgs);
  const auto legal = searchtest::legalMoveTexts(root->pos);
  if (legal.count(move)) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "\"" << move << "\" is not legal after position " << positionArgs;
}

bool silentFor(EngineProcess& engine, const std::string& text, double seconds) {
  return !engine.waitFor(text, seconds, engine.output().size());
}

}  // namespace

// ---------------------------------------------------------------- parsing

class SearchGoParsing : public testutil::GameFixture {
 protected:
  void TearDown() override {
    search::search_state = search::kIdle;
    search::stop_requested = 0;
    protocol::go_limits = search::SearchLimits{};
    protocol::command_line_limits = search::SearchLimits{};
    testutil::GameFixture::TearDown();
  }
};

TEST_F(SearchGoParsing, EachGoStartsFromTheCommandLineLimits) {
  protocol::command_line_limits = search::SearchLimits{};
  auto& l = protocol::go_limits;
  uci("go depth 5");
  EXPECT_EQ(search::search_state, search::kGoReceived);
  EXPECT_EQ(l.depth_limit, 5);
  EXPECT_EQ(l.level_moves, 1);
  EXPECT_FLOAT_EQ(l.level_time, 1e7f);

  // A clock-only "go" keeps no depth or node cap of the previous one.
  uci("go nodes 5000");
  uci("go depth 5 nodes 7000");
  uci("go wtime 61000 btime -500 winc 1000 binc 2000");
  EXPECT_EQ(l.depth_limit, 66);
  EXPECT_EQ(l.node_limit, 0u);
  EXPECT_EQ(l.level_moves, 0);
  EXPECT_FLOAT_EQ(l.time_left[0], 61.0f);
  EXPECT_FLOAT_EQ(l.time_left[1], 0.0f);
  EXPECT_FLOAT_EQ(l.increment, 1.0f);  // white to move: white's increment

  uci("position startpos moves e2e4");
  uci("go wtime 1000 btime 2000 winc 1000 binc 3000 movestogo 12");
  EXPECT_FLOAT_EQ(l.increment, 3.0f);
  EXPECT_EQ(l.level_moves, 40);
  EXPECT_EQ(l.moves_to_go, 12);

  uci("go depth 99");
  EXPECT_EQ(l.depth_limit, 66);
  uci("go movetime 1500");
  EXPECT_EQ(l.level_moves, 1);
  EXPECT_FLOAT_EQ(l.level_time, 1.5f);
  EXPECT_FLOAT_EQ(l.increment, 0.0f);

  uci("go depth 3 nodes 900 infinite");
  EXPECT_EQ(l.depth_limit, 66);
  EXPECT_EQ(l.node_limit, 0u);
  EXPECT_EQ(l.level_moves, 1);
  EXPECT_FLOAT_EQ(l.level_time, 1e7f);
  uci("go ponder wtime 100 btime 100");
  EXPECT_EQ(search::search_state, search::kGoPonderReceived);

  // Command-line limits are where every "go" starts.
  protocol::command_line_limits.depth_limit = 9;
  uci("go wtime 1000 btime 1000");
  EXPECT_EQ(l.depth_limit, 9);

  // "nodes" spreads the limit from 3.9% below to 4.0% above the value.
  std::set<uint64_t> seen;
  for (int i = 0; i < 400; ++i) {
    uci("go nodes 100000");
    ASSERT_GE(l.node_limit, 96100u);
    ASSERT_LE(l.node_limit, 104000u);
    ASSERT_EQ(l.node_limit % 100, 0u);
    seen.insert(l.node_limit);
  }
  EXPECT_GT(seen.size(), 40u);
}

// ---------------------------------------------------------------- the binary

TEST(SearchUci, BestMoveIsLegalForEveryKindOfRoot) {
  struct Case {
    std::string position, go;
    std::string expect;  // a move, "0000", or empty for any legal move
    int infoDepth;       // depth of the final info line, 0 when none is expected
  };
  const std::string shuffle = "fen 7k/8/6K1/8/8/8/1P6/R7 w - - moves " + repeat("a1a2 h8g8 a2a1 g8h8", 25);
  const Case cases[] = {
      {"startpos", "depth 1", "", 1},
      {"fen 7k/8/8/8/8/8/8/R6K w - -", "depth 0", "", 0},           // nothing to capture
      {"fen 4k3/8/8/3q4/4P3/8/8/4K3 w - -", "depth 0", "e4d5", 0},  // the quiescence line
      {"fen 4k3/8/8/8/8/8/8/r3K3 w - -", "depth 0", "", 0},         // in check
      {"fen 4k3/8/8/8/8/8/8/r3K3 w - -", "depth 4", "", 4},
      {"fen 7k/8/8/8/6p1/8/2q3P1/K7 w - -", "depth 5", "g2g3", 5},  // the only move
      {"fen 4k3/8/8/8/8/8/1q6/K7 w - -", "depth 5", "a1b2", 5},     // the only evasion
      {"fen 7k/6Q1/6K1/8/8/8/8/8 b - -", "depth 5", "0000", 0},     // checkmated
      {"fen 7k/8/8/8/8/8/5q2/7K w - -", "depth 5", "0000", 0},      // stalemated
      {shuffle + " a1a2", "depth 5", "0000", 0},                    // 101 reversible half-moves
      {shuffle, "depth 5", "", -1},                                 // 100: still a game
      {"startpos moves e2e4 e7e5", "infinite\nstop", "", -1},
      {"fen r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -", "\nstop", "", -1},
      {"fen r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -", "depth 40\nstop", "", -1},
  };
  EngineProcess engine(kHce);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position + " / go " + c.go);
    const GoReply r = goAndWait(engine, "position " + c.position + "\ngo " + c.go + "\n");
    ASSERT_TRUE(r.answered) << engine.transcript();
    if (c.expect.empty()) EXPECT_TRUE(legalIn(c.position, r.best));
    else EXPECT_EQ(r.best, c.expect);
    if (!r.ponder.empty()) {
      auto root = rootOf(c.position);
      ASSERT_TRUE(searchtest::playMoves(*root, {r.best}));
      EXPECT_EQ(searchtest::legalMoveTexts(root->pos).count(r.ponder), 1u) << "ponder " << r.ponder;
    }
    if (c.infoDepth > 0) {
      EXPECT_EQ(infoField(r.finalInfo, "depth"), std::to_string(c.infoDepth)) << r.finalInfo;
    } else if (c.infoDepth == 0) {
      EXPECT_EQ(r.finalInfo, "") << "no search, no final info";
    }
  }
  // Stopped after a while: the final info line carries the same move.
  const std::string root = "fen r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -";
  ASSERT_TRUE(engine.send("position " + root + "\ngo infinite\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  const GoReply r = goAndWait(engine, "stop\n");
  ASSERT_TRUE(r.answered) << engine.transcript();
  EXPECT_TRUE(legalIn(root, r.best));
  EXPECT_EQ(infoField(r.finalInfo, "pv"), r.best) << r.finalInfo;
  EXPECT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

// "go depth 0" answers for its own root, never with an earlier search's line.
TEST(SearchUci, DepthZeroAnswersForItsOwnRoot) {
  EngineProcess engine(kHce);
  GoReply r = goAndWait(engine, "position fen 4k3/8/8/3q4/4P3/8/8/4K3 w - -\ngo depth 0\n");
  ASSERT_TRUE(r.answered) << engine.transcript();
  EXPECT_EQ(r.best, "e4d5");
  r = goAndWait(engine, "position fen 7k/8/8/8/8/8/8/R6K w - -\ngo depth 0\n");
  ASSERT_TRUE(r.answered) << engine.transcript();
  EXPECT_TRUE(legalIn("fen 7k/8/8/8/8/8/8/R6K w - -", r.best));
  EXPECT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

// "ucinewgame" empties the table: the next search starts from nothing.
TEST(SearchUci, NewGameStartsFromAnEmptyTable) {
  EngineProcess engine(kHce);
  const std::string go = "position startpos\ngo depth 7\n";
  const GoReply first = goAndWait(engine, go);
  const GoReply again = goAndWait(engine, "ucinewgame\n" + go);
  ASSERT_TRUE(first.answered && again.answered) << engine.transcript();
  EXPECT_EQ(infoField(again.finalInfo, "nodes"), infoField(first.finalInfo, "nodes"))
      << first.finalInfo << "\n" << again.finalInfo;
  EXPECT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

TEST(SearchUci, PonderAndInfiniteAnswerOnlyWhenReleased) {
  EngineProcess engine(kHce);
  const std::string scholar = "fen r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq -";

  // Pondering ignores the clock; "ponderhit" puts it back in charge.
  size_t from = engine.output().size();
  ASSERT_TRUE(engine.send("position startpos\ngo ponder wtime 3000 btime 3000\n"));
  EXPECT_TRUE(silentFor(engine, "bestmove", 0.6)) << "a 0.1 s target must not end a ponder search";
  ASSERT_TRUE(engine.send("ponderhit\n"));
  GoReply r = searchtest::readGoReply(engine, from, 10.0);
  ASSERT_TRUE(r.answered) << engine.transcript();
  EXPECT_TRUE(legalIn("startpos", r.best));

  // "stop" answers for the pondered position.
  from = engine.output().size();
  ASSERT_TRUE(engine.send("position startpos moves e2e4\ngo ponder wtime 3000 btime 3000\n"));
  EXPECT_TRUE(silentFor(engine, "bestmove", 0.3));
  r = goAndWait(engine, "stop\n");
  ASSERT_TRUE(r.answered) << engine.transcript();
  EXPECT_TRUE(legalIn("startpos moves e2e4", r.best));

  // A ponder or infinite search that finds the mate at once still waits.
  for (const char* release : {"ponderhit", "stop"}) {
    SCOPED_TRACE(release);
    from = engine.output().size();
    ASSERT_TRUE(engine.send("position " + scholar + "\ngo " + (release[0] == 'p' ? "ponder" : "infinite") + "\n"));
    EXPECT_TRUE(silentFor(engine, "bestmove", 0.4));
    ASSERT_TRUE(engine.send("isready\n"));
    EXPECT_TRUE(engine.waitFor("readyok", 5.0, from)) << "the loop stays responsive";
    EXPECT_EQ(engine.output().find("bestmove", from), std::string::npos);
    r = goAndWait(engine, std::string(release) + "\n");
    ASSERT_TRUE(r.answered) << engine.transcript();
    EXPECT_EQ(r.best, "h5f7");
  }

  // A new "go" ends the running search without an answer for it.
  from = engine.output().size();
  ASSERT_TRUE(engine.send("position startpos\ngo infinite\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  r = goAndWait(engine, "go depth 1\n");
  ASSERT_TRUE(r.answered) << engine.transcript();
  ASSERT_TRUE(engine.send("isready\n"));
  ASSERT_TRUE(engine.waitFor("readyok", 5.0, engine.output().find("bestmove", from)));
  size_t answers = 0;
  for (size_t at = from; (at = engine.output().find("bestmove", at)) != std::string::npos; ++at) ++answers;
  EXPECT_EQ(answers, 1u) << engine.transcript();
  EXPECT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

TEST(SearchUci, NodeAndDepthLimitsApplyToTheirOwnGo) {
  EngineProcess engine(kHce);
  GoReply r = goAndWait(engine, "position startpos\ngo nodes 100000\n");
  ASSERT_TRUE(r.answered) << engine.transcript();
  const long long nodes = atoll(infoField(r.finalInfo, "nodes").c_str());
  EXPECT_GE(nodes, 96101) << r.finalInfo;
  EXPECT_LE(nodes, 104001) << r.finalInfo;

  r = goAndWait(engine, "go depth 5\n");
  ASSERT_TRUE(r.answered);
  EXPECT_EQ(infoField(r.finalInfo, "depth"), "5") << r.finalInfo;

  // About 0.4 s of thinking reaches well past depth 5.
  r = goAndWait(engine, "go wtime 10000 btime 10000\n");
  ASSERT_TRUE(r.answered);
  EXPECT_GT(atoi(infoField(r.finalInfo, "depth").c_str()), 5) << r.finalInfo;
  EXPECT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

// Mate distances, first proved by brute force here, then searched.
TEST(SearchUci, MateScoresCountMovesToMate) {
  struct Case {
    const char* fen;
    int mate;  // moves to mate; negative when the side to move is mated
  } cases[] = {
      {"r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq -", 1},
      {"3r2k1/5ppp/8/8/8/8/5PPP/6K1 b - -", 1},
      {"r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq -", 2},
      {"r1b2k1r/ppp1bppp/8/1B1Q4/5q2/2P5/PPP2PPP/R3R1K1 w - -", 2},
      {"7r/8/8/8/8/5k2/8/6K1 b - -", 2},
      {"6k1/8/8/5K2/8/8/8/R7 w - -", 3},
      {"7k/8/8/4K3/8/8/8/6R1 w - -", 4},
      {"7k/8/6K1/8/8/8/8/R7 b - -", -1},
      {"7k/8/5K2/8/8/8/8/R7 b - -", -2},
  };
  testutil::initTables();
  EngineProcess engine(kHce);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fen);
    testutil::Board b(c.fen);
    if (c.mate > 0) {
      ASSERT_TRUE(searchtest::forcesMate(b.pos, c.mate));
      ASSERT_FALSE(searchtest::forcesMate(b.pos, c.mate - 1));
    } else {
      ASSERT_TRUE(searchtest::cannotEscape(b.pos, -c.mate));
      ASSERT_FALSE(searchtest::cannotEscape(b.pos, -c.mate - 1));
    }
    const GoReply r = goAndWait(engine, std::string("position fen ") + c.fen + "\ngo depth 10\n");
    ASSERT_TRUE(r.answered) << engine.transcript();
    EXPECT_EQ(infoField(r.finalInfo, "score"), "mate " + std::to_string(c.mate)) << r.finalInfo;
    ASSERT_TRUE(searchtest::playMoves(b, {r.best})) << r.best;
    // The move played keeps the distance: the opponent is now mated in one
    // move less, or the defender delays as long as it can.
    if (c.mate > 0) EXPECT_TRUE(searchtest::cannotEscape(b.pos, c.mate - 1)) << r.best;
    else EXPECT_FALSE(searchtest::forcesMate(b.pos, -c.mate - 1)) << r.best;
  }
  EXPECT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

// The pruning report ("_show") after "setoption name Selectivity".
TEST(SearchUci, SelectivityReportFollowsTheOption) {
  EngineProcess engine(kHce);
  ASSERT_TRUE(engine.send("isready\n"));
  ASSERT_TRUE(engine.waitFor("readyok\n")) << engine.transcript();
  struct Report {
    std::vector<std::string> head;
    std::vector<std::vector<int>> pv, nonPv;  // rows 1..31, 32 columns
  };
  auto show = [&](int selectivity) {
    const size_t from = engine.output().size();
    EXPECT_TRUE(engine.send("setoption name Selectivity value " + std::to_string(selectivity) + "\n_show\nisready\n"));
    EXPECT_TRUE(engine.waitFor("readyok\n", 10.0, from));
    std::istringstream in(engine.output().substr(from));
    Report report;
    for (std::string line; std::getline(in, line) && line != "readyok";) {
      const auto words = searchtest::splitWords(line);
      if (words.empty() || line == "LMR table:" || words[0] == "info") continue;
      if (line.find('=') != std::string::npos) {
        report.head.push_back(line);
        continue;
      }
      std::vector<int> row;
      for (size_t i = 1; i < words.size(); ++i) row.push_back(std::stoi(words[i]));
      auto& table = report.pv.size() < 31 ? report.pv : report.nonPv;
      EXPECT_EQ(std::stoi(words[0]), static_cast<int>(table.size()) + 1) << line;
      EXPECT_EQ(row.size(), 32u) << line;
      table.push_back(row);
    }
    EXPECT_EQ(report.pv.size(), 31u);
    EXPECT_EQ(report.nonPv.size(), 31u);
    return report;
  };

  Report r = show(100);
  const std::vector<std::string> head100 = {"BP_margin= 15",
                                            "FP_depth= 3, margins= 125 250 375",
                                            "SEP_depth= 3, margins= 75 150 225",
                                            "NMP_depth= 3",
                                            "LMP_depth= 6, count= 3 6 9 12 15 18",
                                            "LMR_depth= 3"};
  EXPECT_EQ(r.head, head100);
  ASSERT_EQ(r.pv.size(), 31u);
  ASSERT_EQ(r.nonPv.size(), 31u);
  EXPECT_EQ(r.pv[9][10], 2);   // 1.833
  EXPECT_EQ(r.pv[30][31], 3);  // limited to 3
  EXPECT_EQ(r.pv[2][1], 0);    // ln 1 = 0: -0.5, limited to 0
  EXPECT_EQ(r.nonPv[9][10], 3);  // 1.833 + 1.2
  EXPECT_EQ(r.nonPv[30][31], 4);
  for (int d = 0; d < 31; ++d) {
    EXPECT_EQ(r.pv[d][0], 0);
    EXPECT_EQ(r.nonPv[d][0], 0);
    for (int m = 0; d < 2 && m < 32; ++m) EXPECT_EQ(r.pv[d][m] + r.nonPv[d][m], 0) << "depth " << d + 1;
  }

  r = show(50);
  EXPECT_EQ(r.head.at(0), "BP_margin= 40");
  EXPECT_EQ(r.pv.at(9).at(10), 1);   // 0.917
  EXPECT_EQ(r.pv.at(30).at(31), 2);  // 2.35

  r = show(0);
  const std::vector<std::string> head0 = {"BP_margin= 5000", "FP_depth= 0, margins=", "SEP_depth= 0, margins=",
                                          "NMP_depth= 100", "LMP_depth= 0, count=", "LMR_depth= 100"};
  EXPECT_EQ(r.head, head0);
  for (const auto& row : r.pv)
    for (int v : row) EXPECT_EQ(v, 0);
  EXPECT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}
