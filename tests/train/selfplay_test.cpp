// Self-play: games are reproducible from seed and index whatever was
// played before, start after a random opening, and record a consistent
// game (plies, sides, result, adjudication agreeing with the scores).
#include "search/search.h"
#include "train_test_util.h"

using namespace board;
using namespace train;

namespace {

TEST(SelfPlay, SameSeedAndIndexGiveTheSameGameWhateverCameBefore) {
  ASSERT_TRUE(traintest::setUpEngineOnce());
  PlayedGame first, other, again, next;
  playGame(traintest::tinySettings(11), 5, first);
  playGame(traintest::tinySettings(11), 6, other);
  playGame(traintest::tinySettings(12), 5, next);
  playGame(traintest::tinySettings(11), 5, again);
  ASSERT_FALSE(first.records.empty());
  EXPECT_TRUE(traintest::sameRecords(first.records, again.records));
  EXPECT_EQ(first.result, again.result);
  EXPECT_FALSE(traintest::sameRecords(first.records, other.records)) << "another index, another game";
  EXPECT_FALSE(traintest::sameRecords(first.records, next.records)) << "another seed, another game";
}

// Random moves come after the opening, from the game's own stream: the same
// opening as the searched game, another game after it, and the same again.
TEST(SelfPlay, RandomMovesFollowTheOpeningAndRepeatWithTheSeed) {
  ASSERT_TRUE(traintest::setUpEngineOnce());
  SelfPlaySettings wild = traintest::tinySettings(11);
  wild.randomMovePermille = 500;
  PlayedGame searched, random, again;
  playGame(traintest::tinySettings(11), 5, searched);
  playGame(wild, 5, random);
  playGame(wild, 5, again);
  ASSERT_FALSE(random.records.empty());
  EXPECT_EQ(memcmp(&searched.records[0], &random.records[0], sizeof(PackedRecord)), 0) << "the same opening";
  EXPECT_FALSE(traintest::sameRecords(searched.records, random.records));
  EXPECT_TRUE(traintest::sameRecords(random.records, again.records));
}

TEST(SelfPlay, GamesRecordEveryPlyAfterTheOpeningWithTheirResult) {
  const auto& games = traintest::sampleGames();
  for (const PlayedGame& g : games) {
    ASSERT_FALSE(g.records.empty());
    const PackedRecord& first = g.records.front();
    EXPECT_TRUE(first.ply == 8 || first.ply == 9) << first.ply;
    for (size_t i = 0; i < g.records.size(); ++i) {
      const PackedRecord& r = g.records[i];
      Position pos{};
      ASSERT_TRUE(unpackPosition(r, pos)) << i;
      EXPECT_EQ(r.ply, first.ply + i);
      EXPECT_EQ((r.flags & kFlagBlackToMove) != 0, r.ply % 2 == 1) << "White moves on even plies";
      EXPECT_EQ(r.result, g.result);
      EXPECT_EQ((r.flags & kFlagInCheck) != 0, inCheck(pos, pos.sideToMove) != 0) << i;
      EXPECT_EQ((r.flags & kFlagMateScore) != 0, r.score > search::kWinBand || r.score < search::kLossBand) << i;
    }
    EXPECT_GE(g.plies, static_cast<int>(g.records.back().ply));
    // A decided game's last search saw the winner ahead.
    const PackedRecord& last = g.records.back();
    const int white = (last.flags & kFlagBlackToMove) ? -last.score : last.score;
    if (g.result == kWhiteWins) {
      EXPECT_GT(white, 0);
    }
    if (g.result == kBlackWins) {
      EXPECT_LT(white, 0);
    }
  }
}

TEST(SelfPlay, GameSeriesDiffersFromGameToGame) {
  const auto& games = traintest::sampleGames();
  for (size_t i = 1; i < games.size(); ++i)
    EXPECT_NE(memcmp(&games[0].records[0], &games[i].records[0], sizeof(PackedRecord)), 0)
        << "game " << i << " opens like game 0";
}

}  // namespace
