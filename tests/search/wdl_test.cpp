// The win/draw/loss estimate of the info lines.
#include <gtest/gtest.h>

#include "search/control.h"
#include "search/wdl.h"
#include "test_util.h"

namespace {

using search::Wdl;

TEST(WdlModel, PerMilleSumsSymmetryAndOrder) {
  for (int material : {10, 30, 58, 78}) {
    int lastWin = -1, lastLoss = 1001;
    const int evenDraw = search::wdlFromScore(search::wdl_model, 0, material).draw;
    for (int score = -3000; score <= 3000; score += 25) {
      const Wdl w = search::wdlFromScore(search::wdl_model, score, material);
      const Wdl mirrored = search::wdlFromScore(search::wdl_model, -score, material);
      ASSERT_EQ(w.win + w.draw + w.loss, 1000) << score;
      ASSERT_GE(w.draw, 0) << score;
      EXPECT_EQ(w.win, mirrored.loss) << score << " with " << material;
      EXPECT_LE(w.draw, evenDraw) << "draws are likeliest at an even score: " << score;
      EXPECT_GE(w.win, lastWin) << score;
      EXPECT_LE(w.loss, lastLoss) << score;
      lastWin = w.win;
      lastLoss = w.loss;
    }
    EXPECT_GT(search::wdlFromScore(search::wdl_model, 1000, material).win, 950);
  }
}

TEST(WdlModel, MatesAndTablebaseRootsAreCertain) {
  testutil::initTables();
  testutil::Board b;
  EXPECT_EQ(search::wdlMaterial(b.pos), 78);
  auto same = [](Wdl w, int win, int draw, int loss) { return w.win == win && w.draw == draw && w.loss == loss; };
  EXPECT_TRUE(same(search::reportedWdl(9998, search::kTbRootNone, b.pos), 1000, 0, 0));
  EXPECT_TRUE(same(search::reportedWdl(-9997, search::kTbRootNone, b.pos), 0, 0, 1000));
  EXPECT_TRUE(same(search::reportedWdl(9800, search::kTbRootWin, b.pos), 1000, 0, 0));
  EXPECT_TRUE(same(search::reportedWdl(30, search::kTbRootDraw, b.pos), 0, 1000, 0));
  EXPECT_TRUE(same(search::reportedWdl(-9800, search::kTbRootLoss, b.pos), 0, 0, 1000));
  // The fifty-move rule turns cursed wins and blessed losses into draws.
  EXPECT_TRUE(same(search::reportedWdl(200, 3, b.pos), 0, 1000, 0));
  EXPECT_TRUE(same(search::reportedWdl(-200, 1, b.pos), 0, 1000, 0));
  const Wdl even = search::reportedWdl(0, search::kTbRootNone, b.pos);
  EXPECT_EQ(even.win + even.draw + even.loss, 1000);
}

}  // namespace
