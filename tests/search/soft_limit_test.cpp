// The soft node budget: a search past it starts no new iteration but
// finishes the one under way; without it the search is unchanged.
#include <gtest/gtest.h>

#include "search/search_helpers.h"

namespace {

constexpr const char* kMiddlegame = "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -";

class SoftNodeLimit : public searchtest::InProcessSearch {};

TEST_F(SoftNodeLimit, EndsTheSearchBetweenIterations) {
  setFen(kMiddlegame);
  limits.soft_node_limit = 1;
  searchTo(60);
  EXPECT_EQ(search::control.completed_depth, 1) << "the first iteration already passes one node";
  EXPECT_NE(bestMove(), 0);

  // A larger budget: the last iteration is complete, and it was the one
  // that crossed the budget.
  search::ttClear();
  limits.soft_node_limit = 30000;
  searchTo(60);
  const int depth = search::control.completed_depth;
  EXPECT_GT(depth, 2);
  EXPECT_GE(search::control.total_nodes, 30000u);
  EXPECT_EQ(search::control.last_iteration_depth, depth);
  search::ttClear();
  limits.soft_node_limit = 0;
  searchTo(depth - 1);
  EXPECT_LT(search::control.total_nodes, 30000u) << "one iteration fewer stays under the budget";
}

TEST_F(SoftNodeLimit, HardLimitStillStopsInsideAnIteration) {
  setFen(kMiddlegame);
  limits.soft_node_limit = 1000000;
  limits.node_limit = 20000;
  searchTo(60);
  EXPECT_EQ(search::control.total_nodes, 20001u);
}

}  // namespace
