// The benchmark and the EPD test runner, run as the binary runs them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "search/search_helpers.h"

using testutil::EngineProcess;

namespace {

// Numbers of the "pos" lines, and the node total of the summary (-1 if absent).
struct BenchRun {
  std::vector<int> positions;
  long long nodes = -1;
};

BenchRun runBench(const std::vector<std::string>& args) {
  EngineProcess engine(args);
  BenchRun run;
  EXPECT_EQ(engine.wait(60.0), 0) << engine.transcript();
  for (const std::string& line : engine.lines()) {
    int index, used = 0;
    long long nodes;
    double seconds, nps;
    if (sscanf(line.c_str(), "pos %d: %lf seconds%n", &index, &seconds, &used) == 2 && used == int(line.size()))
      run.positions.push_back(index);
    if (sscanf(line.c_str(), "total time= %lf seconds, nodes= %lld, nps= %lf%n", &seconds, &nodes, &nps, &used) == 3 &&
        used == int(line.size()))
      run.nodes = nodes;
  }
  return run;
}

std::vector<int> upTo(int n) {
  std::vector<int> v;
  for (int i = 0; i < n; ++i) v.push_back(i);
  return v;
}

}  // namespace

TEST(SearchTools, BenchNodeCountIsReproducible) {
  const BenchRun a = runBench({"-use_hce", "-bench", "-d", "8"});
  const BenchRun b = runBench({"-use_hce", "-bench", "-d", "8"});
  EXPECT_EQ(a.positions, upTo(20));
  EXPECT_GT(a.nodes, 20 * 1000);
  EXPECT_EQ(a.nodes, b.nodes) << "the node total is the benchmark's signature";

  // The main-thread variant: ten positions (its depth is fixed, so a node
  // limit keeps it short).
  const BenchRun p = runBench({"-use_hce", "-pbench", "-n", "3000"});
  EXPECT_EQ(p.positions, upTo(10));
  EXPECT_GT(p.nodes, 10 * 3000);
}

TEST(SearchTools, EpdRunnerJudgesMovesAndWritesResults) {
  testutil::TempDir dir;
  {
    std::ofstream suite(dir.file("suite.epd"));
    suite << "# comment lines and short lines are skipped\n"
             "short\n"
             "r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - bm Qxf7#; id \"scholar\";\n"
             "rnbqkbnr/ppp1pppp/8/3p4/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - am Ke2; id \"no king walk\";\n"
             "r1b2k1r/ppp1bppp/8/1B1Q4/5q2/2P5/PPP2PPP/R3R1K1 w - - gr 1; c0 \"Qd8+=10, Qxf7+=3, Bd3=1\";\n"
             "8/8/8/8/8/8/8/8 w - - bm e4;\n"
             "3r2k1/5ppp/8/8/8/8/5PPP/6K1 b - - 0 1 bm Rd2 Rd1; id \"two choices\";\n";
  }
  EngineProcess engine({"-use_hce", "-anepd", "suite.epd", "-d", "4", "-o", "out.epd"}, dir.path());
  ASSERT_EQ(engine.wait(60.0), 0) << engine.transcript();
  const auto lines = engine.lines();
  auto has = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
  EXPECT_TRUE(has("Analyzing suite.epd...")) << engine.transcript();
  // Right: the mate (bm), any move but Ke2 (am), the second of two bm moves;
  // the graded line counts points only; the kingless line is not a position.
  EXPECT_TRUE(has("3 / 4 correct best moves")) << engine.transcript();
  EXPECT_TRUE(has("score= 10 / 10")) << engine.transcript();

  std::ifstream in(dir.file("out.epd"));
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) out.push_back(line);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0], "r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - bm h5f7; ce 9998;");
  const std::string avoidedFen = "rnbqkbnr/ppp1pppp/8/3p4/4P3/8/PPPP1PPP/RNBQKBNR w KQkq -";
  char move[8] = "";
  int score = 0, used = 0;
  ASSERT_EQ(out[1].rfind(avoidedFen + " bm ", 0), 0u) << out[1];
  ASSERT_EQ(sscanf(out[1].c_str() + avoidedFen.size(), " bm %7[a-h1-8]; ce %d;%n", move, &score, &used), 2) << out[1];
  EXPECT_EQ(used, int(out[1].size() - avoidedFen.size())) << out[1];
  testutil::initTables();
  platform::uci_mode = 1;
  testutil::Board root(avoidedFen);
  EXPECT_EQ(searchtest::legalMoveTexts(root.pos).count(move), 1u) << move;
  EXPECT_STRNE(move, "e1e2");
  EXPECT_EQ(out[2], "r1b2k1r/ppp1bppp/8/1B1Q4/5q2/2P5/PPP2PPP/R3R1K1 w - - gr 1; c0 \"Qd8+=10, Qxf7+=3, Bd3=1\"; sc 9996;");
  EXPECT_EQ(out[3], "3r2k1/5ppp/8/8/8/8/5PPP/6K1 b - - bm d8d1; ce 9998;");
}
