// What analysis interfaces and build farms use beyond the basic dialogue:
// "go searchmoves", "go mate", the "wdl" token of UCI_ShowWDL,
// SyzygyProbeLimit, EvalFile and the bare "bench".
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <regex>
#include <unordered_map>

#include "protocol/play_helpers.h"
#include "search/search_helpers.h"

namespace {

using searchtest::goAndWait;
using searchtest::GoReply;
using searchtest::infoField;
using testutil::EngineProcess;

const std::vector<std::string> kHce = {"-use_hce"};
const std::string kTables = std::string(VESK_TEST_DATA) + "/syzygy";

// A "position" command some random plies from the start, and that position
// in b (the last ply is taken back if it left no move).
std::string randomPosition(std::mt19937& rng, testutil::Board& b) {
  b.set(board::kStartFen);
  std::string text = "position startpos moves";
  board::MoveEntry list[board::kMaxMoves];
  for (int plies = static_cast<int>(rng() % 30); plies > 0; --plies) {
    const board::Move m = list[rng() % board::generateLegal(b.pos, list)].move;
    board::makeMove(b.pos, m);
    if (board::generateLegal(b.pos, list) == 0) {
      board::unmakeMove(b.pos);
      break;
    }
    text += " " + board::moveToText(m);
  }
  return text;
}

// Brute force with a memory of settled positions (the mate sets transpose a
// lot): whether the side to move mates within n moves. Only a checking move
// can mate at once, so the last move tries checks alone.
class MateProver {
 public:
  bool forcesMate(board::Position& pos, int n) {
    if (n <= 0) return false;
    const uint64_t key = pos.key * 16 + static_cast<uint64_t>(n) * 2;
    if (auto it = known_.find(key); it != known_.end()) return it->second;
    board::MoveEntry list[board::kMaxMoves];
    const int count = board::generateLegal(pos, list);
    bool mates = false;
    for (int i = 0; i < count && !mates; ++i) {
      if (n == 1 && !board::givesCheck(pos, list[i].move)) continue;
      board::makeMove(pos, list[i].move);
      mates = cannotEscape(pos, n - 1);
      board::unmakeMove(pos);
    }
    return known_[key] = mates;
  }
  bool cannotEscape(board::Position& pos, int n) {
    const uint64_t key = pos.key * 16 + static_cast<uint64_t>(n) * 2 + 1;
    if (auto it = known_.find(key); it != known_.end()) return it->second;
    board::MoveEntry list[board::kMaxMoves];
    const int count = board::generateLegal(pos, list);
    bool lost = count == 0 ? board::inCheck(pos, pos.sideToMove) : n > 0;
    for (int i = 0; i < count && lost; ++i) {
      board::makeMove(pos, list[i].move);
      lost = forcesMate(pos, n);
      board::unmakeMove(pos);
    }
    return known_[key] = lost;
  }

 private:
  std::unordered_map<uint64_t, bool> known_;
};

bool wdlSumsToThousand(const std::string& line) {
  const auto words = searchtest::splitWords(line);
  for (size_t i = 0; i + 3 < words.size(); ++i)
    if (words[i] == "wdl") return atoi(words[i + 1].c_str()) + atoi(words[i + 2].c_str()) + atoi(words[i + 3].c_str()) == 1000;
  return false;
}

}  // namespace

// Random subsets of the legal moves: the answer is always one of them, and a
// single listed move is answered after one iteration even on a clock.
TEST(UciAnalysis, SearchmovesKeepsTheAnswerInTheList) {
  testutil::initTables();
  platform::uci_mode = 1;
  std::mt19937 rng(15);
  EngineProcess engine(kHce);
  testutil::Board b;
  // bench/searchmoves.sh asks for longer runs.
  const char* asked = getenv("VESK_SEARCHMOVES_POSITIONS");
  const int positions = asked ? atoi(asked) : testutil::kSanitized ? 40 : 200;
  const int depth = asked ? 5 : 2;
  for (int i = 0; i < positions; ++i) {
    const std::string position = randomPosition(rng, b);
    const std::set<std::string> legalSet = searchtest::legalMoveTexts(b.pos);
    std::vector<std::string> legal(legalSet.begin(), legalSet.end());
    std::shuffle(legal.begin(), legal.end(), rng);
    const size_t count = 1 + rng() % std::min<size_t>(legal.size(), 4);
    std::set<std::string> subset(legal.begin(), legal.begin() + static_cast<long>(count));
    std::string go = count == 1 ? "go wtime 60000 btime 60000 searchmoves"
                                : "go depth " + std::to_string(1 + static_cast<int>(rng() % depth)) + " searchmoves";
    for (const auto& m : subset) go += " " + m;
    const GoReply r = goAndWait(engine, position + "\n" + go + "\n");
    ASSERT_TRUE(r.answered) << position << "\n" << go << "\n" << engine.transcript();
    EXPECT_TRUE(subset.count(r.best)) << position << "\n" << go << " -> " << r.best;
    if (count == 1) {
      EXPECT_EQ(infoField(r.finalInfo, "depth"), "1") << r.finalInfo;
    }
  }
  // Illegal and unreadable words are named and skipped; MultiPV counts among the listed moves.
  const GoReply r = goAndWait(engine, "position startpos\nsetoption name MultiPV value 3\n"
                                      "go depth 3 searchmoves e2e5 xx a2a3 b1c3\n");
  ASSERT_TRUE(r.answered) << engine.transcript();
  EXPECT_EQ(engine.countLines("info string searchmoves: e2e5 is not a legal move here, ignored"), 1u);
  EXPECT_EQ(engine.countLines("info string searchmoves: xx is not a legal move here, ignored"), 1u);
  EXPECT_TRUE(r.best == "a2a3" || r.best == "b1c3") << r.best;
  for (const auto& line : r.lines) {
    EXPECT_EQ(line.find("multipv 3"), std::string::npos) << line;
    const std::string pv = infoField(line, "pv");
    if (!pv.empty()) {
      EXPECT_TRUE(pv == "a2a3" || pv == "b1c3") << line;
    }
  }
  EXPECT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

// The mates our engine proved (tests/data/mates.epd), proved again by brute
// force here, are found with "go mate N" and the right N; without a mate in
// N the other limits end the search.
TEST(UciAnalysis, GoMateFindsTheProvedMates) {
  testutil::initTables();
  std::ifstream in(std::string(VESK_TEST_DATA) + "/mates.epd");
  ASSERT_TRUE(in) << "mates.epd";
  EngineProcess engine(kHce);
  int cases = 0;
  std::set<int> distances;
  for (std::string line; std::getline(in, line);) {
    const size_t dm = line.find(" dm ");
    if (line.empty() || line[0] == '#' || dm == std::string::npos) continue;
    const std::string fen = line.substr(0, dm);
    const int n = atoi(line.c_str() + dm + 4);
    SCOPED_TRACE(fen);
    testutil::Board b(fen);
    MateProver prover;
    ASSERT_TRUE(prover.forcesMate(b.pos, n));
    ASSERT_FALSE(prover.forcesMate(b.pos, n - 1));
    const GoReply r = goAndWait(engine, "position fen " + fen + "\ngo mate " + std::to_string(n) + "\n", 60.0);
    ASSERT_TRUE(r.answered) << engine.transcript();
    EXPECT_EQ(infoField(r.finalInfo, "score"), "mate " + std::to_string(n)) << r.finalInfo;
    ASSERT_TRUE(searchtest::playMoves(b, {r.best})) << r.best;
    EXPECT_TRUE(prover.cannotEscape(b.pos, n - 1)) << r.best;
    ++cases;
    distances.insert(n);
  }
  EXPECT_GE(cases, 8);
  EXPECT_EQ(distances, (std::set<int>{2, 3, 4, 5}));
  // A mate in three is no mate in one: depth 4 ends the search without a mate score.
  const GoReply r = goAndWait(engine, "position fen 6k1/8/8/5K2/8/8/8/R7 w - -\ngo mate 1 depth 4\n");
  ASSERT_TRUE(r.answered) << engine.transcript();
  EXPECT_EQ(infoField(r.finalInfo, "depth"), "4") << r.finalInfo;
  EXPECT_NE(infoField(r.finalInfo, "score"), "mate 1") << r.finalInfo;
  EXPECT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

// "wdl" appears only with UCI_ShowWDL on; the values sum to 1000, a found
// mate is certain, and a tablebase root gives its exact result. EvalFile.
TEST(UciAnalysis, ShowWdlOnlyWhenAsked) {
  EngineProcess engine(kHce);
  GoReply r = goAndWait(engine, "position startpos\ngo depth 4\n");
  ASSERT_TRUE(r.answered);
  for (const auto& line : r.lines) EXPECT_EQ(line.find("wdl"), std::string::npos) << line;
  r = goAndWait(engine, "setoption name UCI_ShowWDL value true\ngo depth 4\n");
  ASSERT_TRUE(r.answered);
  EXPECT_TRUE(wdlSumsToThousand(r.finalInfo)) << r.finalInfo;
  r = goAndWait(engine, "position fen 6k1/8/8/5K2/8/8/8/R7 w - -\ngo depth 8\n");
  EXPECT_NE(r.finalInfo.find("score mate 3 wdl 1000 0 0 "), std::string::npos) << r.finalInfo;
  r = goAndWait(engine, "setoption name SyzygyPath value " + kTables + "\nposition fen 8/8/3k4/8/8/8/8/KR6 w - -\ngo depth 4\n");
  EXPECT_NE(r.finalInfo.find(" wdl 1000 0 0 "), std::string::npos) << r.finalInfo;
  r = goAndWait(engine, "position fen 8/8/3k4/8/8/8/8/KR6 b - -\ngo depth 4\n");
  EXPECT_NE(r.finalInfo.find(" wdl 0 0 1000 "), std::string::npos) << r.finalInfo;
  // EvalFile names the network file as NN_File does.
  ASSERT_TRUE(engine.send("setoption name EvalFile value missing.bin\nisready\n"));
  ASSERT_TRUE(engine.waitForLines("readyok", 1)) << engine.transcript();
  EXPECT_EQ(engine.countLines("info string NN_File set to 'missing.bin'"), 1u) << engine.transcript();
  EXPECT_EQ(engine.countLines("info string error loading NN"), 1u) << engine.transcript();
  EXPECT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

// No table with more men than SyzygyProbeLimit is probed (0: none), and a
// tablebase root keeps to the listed moves.
TEST(UciAnalysis, ProbeLimitAndListedMovesAtATablebaseRoot) {
  EngineProcess engine(kHce);
  ASSERT_TRUE(engine.send("setoption name SyzygyPath value " + kTables + "\n"));
  const std::string rook = "position fen 8/8/3k4/8/8/8/8/KR6 w - -\n";
  for (const char* limit : {"0", "2", "3"}) {
    const GoReply r = goAndWait(engine, std::string("setoption name SyzygyProbeLimit value ") + limit + "\n" + rook +
                                            "go depth 5\n");
    ASSERT_TRUE(r.answered) << engine.transcript();
    // The root (three men) shows the table's win only when three-men tables are probed.
    EXPECT_EQ(infoField(r.finalInfo, "score") == "cp 9800", std::string(limit) == "3") << limit << ": " << r.finalInfo;
    if (std::string(limit) == "0") {
      EXPECT_EQ(infoField(r.finalInfo, "tbhits"), "0") << r.finalInfo;
    }
  }
  // The root is worth its best listed move: only moves that give the rook
  // away are a draw; with a winning one beside them, the win.
  const std::string open = "position fen 8/8/8/2k5/8/8/8/KR6 w - -\n";
  GoReply r = goAndWait(engine, open + "go depth 5 searchmoves b1b5 b1b4\n");
  ASSERT_TRUE(r.answered) << engine.transcript();
  EXPECT_TRUE(r.best == "b1b5" || r.best == "b1b4") << r.best;
  EXPECT_EQ(infoField(r.finalInfo, "score"), "cp 0") << r.finalInfo;
  r = goAndWait(engine, open + "go depth 5 searchmoves b1b5 b1c1\n");
  EXPECT_EQ(r.best, "b1c1");
  EXPECT_EQ(infoField(r.finalInfo, "score"), "cp 9800") << r.finalInfo;
  EXPECT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

// The bare "bench" with no network anywhere: the hand-crafted evaluation
// (said once on standard error), the node count of "-use_hce -bench", and
// the build farms' last line.
TEST(UciAnalysis, BareBenchEndsWithNodesAndSpeed) {
  testutil::TempDir bin;
  const std::string engineCopy = testutil::copyOfEngine(bin);  // no network beside it
  ASSERT_FALSE(engineCopy.empty());
  EngineProcess bare({"bench", "-d", "5"}, {}, true, engineCopy);
  ASSERT_EQ(bare.wait(60), 0) << bare.transcript();
  EngineProcess hce({"-use_hce", "-bench", "-d", "5"}, {}, true, engineCopy);
  ASSERT_EQ(hce.wait(60), 0) << hce.transcript();
  const auto lines = bare.lines();
  ASSERT_FALSE(lines.empty());
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines.back(), m, std::regex("([0-9]+) nodes ([0-9]+) nps"))) << lines.back();
  EXPECT_NE(hce.output().find("nodes= " + m[1].str() + ","), std::string::npos) << hce.output();
  EXPECT_NE(bare.transcript().find("--- stderr ---\nbench: no network loaded (cannot open nn.bin); searching with the "
                                   "hand-crafted evaluation\n"),
            std::string::npos)
      << bare.transcript();
  EXPECT_EQ(bare.output().find("error loading NN"), std::string::npos);
}
