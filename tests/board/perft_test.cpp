#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "test_util.h"

using namespace board;

namespace {

struct PerftCase {
  std::string fen;
  std::vector<std::pair<int, uint64_t>> counts;
};

std::vector<PerftCase> loadSuite() {
  std::ifstream in(std::string(VESK_TEST_DATA) + "/perft-subset.epd");
  std::vector<PerftCase> cases;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    PerftCase c;
    size_t semi = line.find(';');
    c.fen = line.substr(0, semi);
    std::istringstream rest(line.substr(semi));
    std::string tok;
    while (rest >> tok) {
      if (tok[0] != ';' || tok[1] != 'D') continue;
      uint64_t n;
      rest >> n;
      c.counts.emplace_back(std::stoi(tok.substr(2)), n);
    }
    cases.push_back(c);
  }
  return cases;
}

}  // namespace

TEST(Perft, SuiteCountsAreExact) {
  testutil::initTables();
  auto suite = loadSuite();
  ASSERT_EQ(suite.size(), 10u);
  int checked = 0;
  for (const auto& c : suite) {
    testutil::Board b(c.fen);
    for (auto [depth, expected] : c.counts) {
      EXPECT_EQ(perft(b.pos, depth), expected) << c.fen << " depth " << depth;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 45);
}

TEST(Perft, StartPositionToDepthFive) {
  testutil::initTables();
  testutil::Board b;
  const uint64_t expected[] = {1, 20, 400, 8902, 197281, 4865609};
  for (int d = 0; d <= 5; ++d) EXPECT_EQ(perft(b.pos, d), expected[d]) << "depth " << d;
  // perft leaves the position as it found it
  EXPECT_EQ(positionToFen(b.pos, true), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 0");
}
