// The transposition table: what a probe returns after a store, which entry a
// store replaces, the playability test on probing, sizes, generations and the
// fill level.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "board/board_helpers.h"
#include "search/search_helpers.h"

using namespace board;
using boardtest::mv;

namespace {

class SearchTable : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::initTables();
    search::threadCount = 1;
    search::ttSetEnabled(true);
    allocate(1);
    search::ttResetAge();
    search::ttNewSearch();  // as after the first search start
  }
  void TearDown() override {
    search::ttRelease();
    search::ttSetEnabled(true);
  }
  static void allocate(int mb) {
    testutil::StdoutCapture quiet;
    ASSERT_EQ(search::ttAllocate(mb), 1);
  }

  // A stand-in position: only the key (and the rule-50 count) reach the table
  // when the stored move is 0.
  static Position keyed(uint64_t key) {
    Position p{};
    p.key = key;
    return p;
  }
  static void store(uint64_t key, int depth, int score = 0, int alpha = -10001, int beta = 10001) {
    search::ttStore(keyed(key), 1, depth, 0, score, alpha, beta);
  }
  static bool hit(uint64_t key, search::HashProbe* out = nullptr) {
    search::HashProbe h{};
    const bool found = search::ttProbe(keyed(key), h);
    if (out) *out = h;
    return found;
  }
  // White-to-move keys (bit 0 clear) sharing one bucket, told apart by the high word.
  static uint64_t sameBucket(int i, uint64_t low = 0x1230) { return (uint64_t(i + 1) << 32) | low; }
};

}  // namespace

TEST_F(SearchTable, StoreAndProbeRoundTripWithBoundsAndMateDistances) {
  testutil::Board b("r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq -");
  const Position& pos = b.pos;
  const Move m = mv("f1b5");
  struct Case {
    int ply, score, alpha, beta;
    int stored, bound;
  } cases[] = {
      {3, 37, 10, 50, 37, search::kBoundExact},
      {3, 10, 10, 50, 10, search::kBoundUpper},  // score = alpha
      {3, -400, 10, 50, -400, search::kBoundUpper},
      {3, 50, 10, 50, 50, search::kBoundLower},  // score = beta
      {5, 9992, -10001, 10001, 9997, search::kBoundExact},    // mate in 3 plies seen at ply 5
      {5, -9992, -10001, 10001, -9997, search::kBoundExact},  // mated likewise
      {4, 9798, -10001, 10001, 9798, search::kBoundExact},    // last score not treated as mate
      {4, 9799, -10001, 10001, 9803, search::kBoundExact},
      {4, -9799, -10001, 10001, -9799, search::kBoundExact},
      {4, -9800, -10001, 10001, -9804, search::kBoundExact},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.score);
    search::ttStore(pos, c.ply, 6, m, c.score, c.alpha, c.beta);
    search::HashProbe h{};
    ASSERT_TRUE(search::ttProbe(pos, h));
    EXPECT_EQ(h.move, m);
    EXPECT_EQ(h.score, c.stored);
    EXPECT_EQ(h.depth, 6);
    EXPECT_EQ(h.bound, c.bound);
  }
  // The caller turns the stored mate back into a distance from its own ply:
  // 9997 read at ply 7 is 9990.
  search::ttStore(pos, 5, 6, m, 9992, -10001, 10001);
  search::HashProbe h{};
  ASSERT_TRUE(search::ttProbe(pos, h));
  EXPECT_EQ(h.score - 7, 9990);

  // Quiescence depths (0 and below) and a move-less entry round-trip too.
  search::ttClear();
  search::ttStore(pos, 2, -3, 0, -15, -20, 30);
  ASSERT_TRUE(search::ttProbe(pos, h));
  EXPECT_EQ(h.depth, -3);
  EXPECT_EQ(h.move, 0);
  EXPECT_EQ(h.score, -15);

  // A position the table never saw: a miss.
  testutil::Board other("r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq -");
  EXPECT_FALSE(search::ttProbe(other.pos, h));
}

TEST_F(SearchTable, ReplacementKeepsDeepResultsAndDropsMuchShallowerOnes) {
  search::HashProbe h{};
  // Same position: a deeper bound survives a store more than 3 plies shallower.
  const uint64_t k = sameBucket(0);
  store(k, 10, 500, -10001, 400);  // lower bound
  store(k, 6, 20);
  ASSERT_TRUE(hit(k, &h));
  EXPECT_EQ(h.depth, 10);
  store(k, 7, 20);  // only 3 plies shallower: replaces
  ASSERT_TRUE(hit(k, &h));
  EXPECT_EQ(h.depth, 7);
  EXPECT_EQ(h.score, 20);
  store(k, 12, -500, -400, 10001);  // upper bound
  store(k, 1, 33);                  // replaces an upper bound of any depth
  ASSERT_TRUE(hit(k, &h));
  EXPECT_EQ(h.depth, 1);

  // A bucket of four current entries: a store 8 plies below the shallowest is
  // dropped, 7 below replaces the shallowest.
  search::ttClear();
  const int depths[4] = {12, 10, 14, 16};
  for (int i = 0; i < 4; ++i) store(sameBucket(i), depths[i]);
  store(sameBucket(4), 2);
  EXPECT_FALSE(hit(sameBucket(4)));
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(hit(sameBucket(i))) << i;
  store(sameBucket(4), 3);
  EXPECT_TRUE(hit(sameBucket(4)));
  EXPECT_FALSE(hit(sameBucket(1))) << "the depth-10 entry is the one replaced";
  for (int i : {0, 2, 3}) EXPECT_TRUE(hit(sameBucket(i))) << i;

  // Equal depths: the lowest entry goes first.
  search::ttClear();
  for (int i = 0; i < 4; ++i) store(sameBucket(i), 5);
  store(sameBucket(4), 0);
  EXPECT_FALSE(hit(sameBucket(0)));
  for (int i = 1; i < 5; ++i) EXPECT_TRUE(hit(sameBucket(i))) << i;

  // Entries of an older generation are replaced first, whatever their depth.
  search::ttClear();
  for (int i = 0; i < 4; ++i) store(sameBucket(i), 40 - i);
  search::ttNewSearch();
  store(sameBucket(5), 0);
  store(sameBucket(6), 0);
  EXPECT_FALSE(hit(sameBucket(0)));
  EXPECT_FALSE(hit(sameBucket(1)));
  for (int i : {2, 3, 5, 6}) EXPECT_TRUE(hit(sameBucket(i))) << i;
  store(sameBucket(7), -9);  // now entries 0 and 1 are current and shallow
  EXPECT_FALSE(hit(sameBucket(2))) << "the next older entry goes before any current one";
}

TEST_F(SearchTable, EntryWithUnplayableMoveIsAMiss) {
  struct Case {
    const char* fen;
    const char* move;
    Move flags;
    bool playable;
  } cases[] = {
      {"4k3/4r3/8/8/8/8/4B3/4K3 w - -", "e1d1", 0, true},
      {"4k3/4r3/8/8/8/8/4B3/4K3 w - -", "e2d3", 0, false},  // pinned bishop
      {"4k3/4r3/8/8/8/8/4B3/4K3 w - -", "e1e2", 0, false},  // own piece on the target
      {"4k3/4r3/8/8/8/8/4B3/4K3 w - -", "e7e2", 0, false},  // not the side to move
      {"r3k2r/8/8/8/8/8/8/R3K2R w Kq -", "e1g1", 0, true},
      {"r3k2r/8/8/8/8/8/8/R3K2R w Kq -", "e1c1", 0, false},  // no queen-side right
      {"r3k2r/8/8/8/8/8/8/RN2K2R w KQ -", "e1c1", 0, false},  // knight in the way
      {"r3k2r/8/8/8/8/8/8/R3K2R b Kq -", "e8c8", 0, true},
      {"4k3/8/8/8/8/8/4P3/4K3 w - -", "e2e4", 0, true},
      {"4k3/8/8/8/8/4n3/4P3/4K3 w - -", "e2e4", 0, false},   // double step through a piece
      {"4k3/8/8/8/8/8/4P3/4K3 w - -", "e2e3", kPromoQueen, false},  // promotion flag off the last rank
      {"4k3/P7/8/8/8/8/8/4K3 w - -", "a7a8", 0, false},           // last rank without a flag
      {"4k3/P7/8/8/8/8/8/4K3 w - -", "a7a8", kPromoKnight, true},
      {"8/8/8/8/8/2k5/1R6/K7 w - -", "b2b5", 0, true},
      {"8/8/8/8/8/2k5/1R6/K7 w - -", "b2c3", 0, false},  // not a rook move
      {"8/8/8/8/1p6/2k5/1R6/K7 w - -", "b2b5", 0, false},  // slider line blocked
      {"4k3/8/8/3pP3/8/8/8/4K3 w - d6", "e5d6", 0, true},  // en passant
      {"4k3/8/8/3pP3/8/8/8/4K3 w - -", "e5d6", 0, false},
  };
  for (const Case& c : cases) {
    testutil::Board b(c.fen);
    const Move m = static_cast<Move>(mv(c.move) | c.flags);
    SCOPED_TRACE(std::string(c.fen) + " " + c.move);
    search::ttClear();
    search::ttStore(b.pos, 1, 4, m, 77, -10001, 10001);
    search::HashProbe h{};
    EXPECT_EQ(search::ttProbe(b.pos, h), c.playable);
  }
  // A stale move from another position sharing the key: the whole entry is refused.
  testutil::Board a(kStartFen), other("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq -");
  search::ttStore(a.pos, 1, 9, mv("e2e4"), 50, -10001, 10001);
  other.pos.key = a.pos.key;
  search::HashProbe h{};
  EXPECT_FALSE(search::ttProbe(other.pos, h));
  EXPECT_TRUE(search::ttProbe(a.pos, h));
}

TEST_F(SearchTable, SizesGenerationsSwitchingOffAndFillLevel) {
  EXPECT_EQ(search::ttEntryCount(), 65536u);
  // Black keys count their bucket back from the end: low bits 1 put it on
  // entries 65535..65538, three of them spare entries behind the table.
  for (int i = 0; i < 4; ++i) store(sameBucket(i, 1), 3);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(hit(sameBucket(i, 1))) << i;
  allocate(3);
  EXPECT_EQ(search::ttEntryCount(), 196608u);
  for (uint64_t low : {uint64_t{0}, uint64_t{131070}, uint64_t{131071}, uint64_t{196607}}) {
    store(sameBucket(9, low), 2);
    EXPECT_TRUE(hit(sameBucket(9, low))) << low;
  }
  allocate(1);

  // Generations run 1..15 and wrap to 1.
  search::ttResetAge();
  for (int i = 0; i < 14; ++i) search::ttNewSearch();
  EXPECT_EQ(search::ttGeneration(), 14);
  search::ttNewSearch();
  EXPECT_EQ(search::ttGeneration(), 15);
  search::ttNewSearch();
  EXPECT_EQ(search::ttGeneration(), 1);

  // Fill level: the current generation's share of the 1000 middle entries.
  search::ttClear();
  EXPECT_EQ(search::ttHashfull(), 0);
  const uint64_t first = 65536 / 2 - 500;
  for (uint64_t i = 0; i < 250; ++i) store(sameBucket(0, first + 4 * i), 1);
  store(sameBucket(0, 100), 1);  // outside the sample
  EXPECT_EQ(search::ttHashfull(), 250);
  EXPECT_FLOAT_EQ(search::control.hashfull, 0.25f);
  search::ttNewSearch();
  EXPECT_EQ(search::ttHashfull(), 0);

  // Switched off, the table neither answers nor learns.
  store(sameBucket(3), 4);
  search::ttSetEnabled(false);
  EXPECT_FALSE(hit(sameBucket(3)));
  store(sameBucket(4), 4);
  search::ttSetEnabled(true);
  EXPECT_TRUE(hit(sameBucket(3)));
  EXPECT_FALSE(hit(sameBucket(4)));

  // No table at all: every probe misses and stores are harmless.
  search::ttRelease();
  EXPECT_EQ(search::ttEntryCount(), 0u);
  store(sameBucket(3), 4);
  EXPECT_FALSE(hit(sameBucket(3)));
  EXPECT_EQ(search::ttHashfull(), 0);
}

// A size the machine cannot give is refused with a line naming the size in
// use, and the table goes on working at that size. The address-space limit
// stands in for a small machine (sanitizers reserve too much for it).
TEST_F(SearchTable, RefusedSizeKeepsTheSizeInUse) {
  if (testutil::kSanitized) GTEST_SKIP() << "sanitizer runtimes need an unlimited address space";
  allocate(4);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
  rlimit tight = saved;
  tight.rlim_cur = rlim_t{1} << 32;  // 4 GB of address space in all
  ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
  testutil::StdoutCapture out;
  const int result = search::ttAllocate(8192);
  const std::string said = out.finish();
  setrlimit(RLIMIT_AS, &saved);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(said, "info string cannot allocate 8192 Mbytes for hash table; using 4 Mbytes\n");
  EXPECT_EQ(search::ttSizeMb(), 4);
  EXPECT_EQ(search::ttEntryCount(), 4u * 65536);
  store(sameBucket(1), 5);
  EXPECT_TRUE(hit(sameBucket(1)));
}

// A table past the size that is written over is cleared by dropping its
// pages: it must read back as zeros all the same.
TEST_F(SearchTable, LargeTableClearsToEmpty) {
  allocate(512);
  for (int i = 0; i < 4; ++i) store(sameBucket(i, 0x1230 + 0x10000 * i), 5);
  ASSERT_TRUE(hit(sameBucket(2, 0x1230 + 0x20000)));
  search::ttClear();
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(hit(sameBucket(i, 0x1230 + 0x10000 * i)));
  EXPECT_EQ(search::ttHashfull(), 0);
  store(sameBucket(1), 5);
  EXPECT_TRUE(hit(sameBucket(1)));
}
