// The Polyglot key, book move conversion, and probing: published keys, the
// sample of a real book, weighting by variety, and damaged books.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "book/book_helpers.h"
#include "protocol/engine_process.h"
#include "test_util.h"

using namespace board;
using booktest::rawMove;
using testutil::Board;

namespace {

const std::string kSample = std::string(VESK_TEST_DATA) + "/performance-sample.bin";
const std::string kLasker = std::string(VESK_TEST_DATA) + "/lasker-trap.bin";

class BookProbe : public testing::Test {
 protected:
  void SetUp() override {
    testutil::initTables();
    platform::uci_mode = 1;
  }
  void TearDown() override { platform::uci_mode = 1; }
  // Probes quietly (console mode, no lines).
  Move quietProbe(Board& b, const std::string& path, int variety = book::kNeutralVariety) {
    platform::uci_mode = 0;
    const Move m = book::probeBook(b.pos, path, {variety, false});
    platform::uci_mode = 1;
    return m;
  }
  std::set<std::string> bookMoves(Board& b, const std::string& path) {
    book::BookEntry entries[book::kMaxBookEntries];
    const int n = book::readBookEntries(path, book::bookKey(b.pos), entries);
    std::set<std::string> moves;
    for (int i = 0; i < n; ++i) moves.insert(moveToText(book::bookMoveToMove(b.pos, entries[i].move)));
    return moves;
  }
  testutil::TempDir dir;
};

}  // namespace

TEST_F(BookProbe, PublishedKeys) {
  const std::pair<const char*, uint64_t> cases[] = {
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 0x463b96181691fc9cULL},
      {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1", 0x823c9b50fd114196ULL},
      {"rnbqkbnr/ppp1pppp/8/3p4/4P3/8/PPPP1PPP/RNBQKBNR w KQkq d6 0 2", 0x0756b94461c50fb0ULL},
      {"rnbqkbnr/ppp1pppp/8/3pP3/8/8/PPPP1PPP/RNBQKBNR b KQkq - 0 2", 0x662fafb965db29d4ULL},
      {"rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3", 0x22a48b5a8e47ff78ULL},
      {"rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPPKPPP/RNBQ1BNR b kq - 0 3", 0x652a607ca3f242c1ULL},
      {"rnbq1bnr/ppp1pkpp/8/3pPp2/8/8/PPPPKPPP/RNBQ1BNR w - - 0 4", 0x00fdd303c946bdd9ULL},
      {"rnbqkbnr/p1pppppp/8/8/PpP4P/8/1P1PPPP1/RNBQKBNR b KQkq c3 0 3", 0x3c8123ea7b067637ULL},
      {"rnbqkbnr/p1pppppp/8/8/P6P/R1p5/1P1PPPP1/1NBQKBNR b Kkq - 0 4", 0x5c3f9b829b279560ULL},
  };
  for (const auto& [fen, key] : cases) {
    Board b(fen);
    EXPECT_EQ(book::bookKey(b.pos), key) << fen;
  }
  // The same positions reached by moves carry the same keys (en passant as the move left it).
  Board played;
  for (const char* m : {"e2e4", "d7d5", "e4e5", "f7f5"}) {
    Move move;
    ASSERT_EQ(parseMove(played.pos, m, move), kMoveRead);
    makeMove(played.pos, move);
  }
  EXPECT_EQ(book::bookKey(played.pos), 0x22a48b5a8e47ff78ULL);
}

TEST_F(BookProbe, RealBookSample) {
  Board start;
  EXPECT_EQ(bookMoves(start, kSample), (std::set<std::string>{"e2e4", "d2d4", "c2c4"}));
  testutil::StdoutCapture capture;
  const Move m = book::probeBook(start.pos, kSample, {});
  const std::string out = capture.finish();
  EXPECT_EQ(out, "info string ( book moves are: e2e4 d2d4 c2c4  )\n");
  EXPECT_TRUE(m == makeMoveCode(12, 28) || m == makeMoveCode(11, 27) || m == makeMoveCode(10, 26));

  // Castling is stored as the king taking its rook; a rook on e1 going to a1 stays a rook move.
  Board castles("r1bqr1k1/pp1nbppp/2p2n2/3p2B1/3P4/2NBP3/PPQ1NPPP/R3K2R w KQ - 5 10");
  EXPECT_EQ(bookMoves(castles, kSample), (std::set<std::string>{"e1g1", "e1c1", "h2h3"}));
  Board black("r3k1nr/1pp1q1pp/p1pb1p2/4p3/3PP1b1/2P1BN2/PP1N1PPP/R2Q1RK1 b kq - 4 9");
  EXPECT_EQ(quietProbe(black, kSample), makeMoveCode(kE8, kC8));
  Board rook("1r1qr1k1/1b2bp1n/p2p2pB/1pnPp2p/P1p1P3/R1P2NNP/1PBQ1PP1/4R1K1 w - - 0 1");
  EXPECT_EQ(quietProbe(rook, kSample), makeMoveCode(kE1, kA1));
  // Under-promotion: f2g1n.
  Board lasker("rnbqk1nr/ppp2ppp/8/4P3/1BP5/8/PP2KpPP/RN1Q1BNR b kq - 1 7");
  EXPECT_EQ(quietProbe(lasker, kLasker), makeMoveCode(13, 6, kPromoKnight));
  EXPECT_EQ(book::moveToBookMove(lasker.pos, makeMoveCode(13, 6, kPromoKnight)), 4934);
}

TEST_F(BookProbe, VarietyWeighting) {
  const uint64_t key = 0x463b96181691fc9cULL;
  const book::BookEntry e[2] = {{key, rawMove(12, 28), 3, 0}, {key, rawMove(11, 27), 1, 0}};
  int32_t w[2];
  EXPECT_EQ(book::adjustWeights(e, 2, 25, w), 10000);
  EXPECT_EQ(w[0], 7500);
  EXPECT_EQ(w[1], 2500);
  EXPECT_EQ(book::adjustWeights(e, 2, 125, w), 25000);
  EXPECT_EQ(w[0], 15000);
  EXPECT_EQ(w[1], 10000);

  // Over 10,000 draws the choice follows the weights 3:1 within 2%.
  const std::string path = dir.file("three-one.bin");
  ASSERT_TRUE(booktest::writeBookFile(path, {e[0], e[1]}));
  Board start;
  srand(20261209);
  int first = 0;
  constexpr int kProbes = 10000;
  for (int i = 0; i < kProbes; ++i) first += quietProbe(start, path) == makeMoveCode(12, 28);
  EXPECT_NEAR(first / double(kProbes), 0.75, 0.02);

  // Console lines: each move with its share, then the choice.
  platform::uci_mode = 0;
  testutil::StdoutCapture capture;
  const Move m = book::probeBook(start.pos, path, {});
  const auto lines = testutil::splitLines(capture.finish());
  platform::uci_mode = 1;
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "  e2e4  cnt=     3, weight= 75.00% -> 75.00%");
  EXPECT_EQ(lines[1], "  d2d4  cnt=     1, weight= 25.00% -> 25.00%");
  EXPECT_EQ(lines[2], std::string("selecting ") + (m == makeMoveCode(12, 28) ? "e2e4" : "d2d4"));
}

TEST_F(BookProbe, EntryLimitZeroWeightsAndIllegalMoves) {
  Board start;
  const uint64_t key = book::bookKey(start.pos);
  // 130 entries: the two with weight lie beyond the first 128 and are never seen.
  std::vector<book::BookEntry> many(130, book::BookEntry{key, rawMove(12, 28), 0, 0});
  many[128].weight = many[129].weight = 5;
  const std::string path = dir.file("many.bin");
  ASSERT_TRUE(booktest::writeBookFile(path, many));
  book::BookEntry entries[book::kMaxBookEntries];
  EXPECT_EQ(book::readBookEntries(path, key, entries), book::kMaxBookEntries);
  EXPECT_EQ(quietProbe(start, path), kNoMove) << "all weights 0";

  // The chosen move is illegal here (a key collision): no move, though another is legal.
  ASSERT_TRUE(booktest::writeBookFile(path, {{key, rawMove(12, 36), 9, 0}, {key, rawMove(12, 28), 0, 0}}));
  EXPECT_EQ(quietProbe(start, path), kNoMove);
  // Promotion bits beyond the four pieces are no move either.
  ASSERT_TRUE(booktest::writeBookFile(path, {{key, rawMove(12, 28, 6), 9, 0}}));
  EXPECT_EQ(quietProbe(start, path), kNoMove);
  // A king move to its rook's square is castling only with the king there.
  Board noKing("4k3/8/8/8/8/8/8/R3R1K1 w - - 0 1");
  EXPECT_EQ(book::bookMoveToMove(noKing.pos, rawMove(kE1, kA1)), makeMoveCode(kE1, kA1));
}

TEST_F(BookProbe, DamagedFilesGiveNoMove) {
  Board start;
  const uint64_t key = book::bookKey(start.pos);
  uint8_t entry[book::kEntryBytes];
  book::encodeEntry({key, rawMove(12, 28), 1, 0}, entry);
  const std::string path = dir.file("short.bin");
  for (size_t length = 0; length < book::kEntryBytes; ++length) {
    FILE* f = fopen(path.c_str(), "wb");
    fwrite(entry, 1, length, f);
    fclose(f);
    EXPECT_EQ(quietProbe(start, path), kNoMove) << length << " bytes";
  }
  // A whole entry followed by a torn one: the whole one still counts.
  FILE* f = fopen(path.c_str(), "wb");
  fwrite(entry, 1, sizeof entry, f);
  fwrite(entry, 1, 7, f);
  fclose(f);
  EXPECT_EQ(quietProbe(start, path), makeMoveCode(12, 28));
  EXPECT_EQ(quietProbe(start, ""), kNoMove);
  EXPECT_EQ(quietProbe(start, dir.file("missing.bin")), kNoMove);
  EXPECT_EQ(quietProbe(start, dir.path()), kNoMove) << "a directory";
}

// Random bytes as books and random positions: every answer is 0 or legal.
TEST_F(BookProbe, RandomBooksNeverGiveIllegalMoves) {
  srand(7);
  const std::string path = dir.file("random.bin");
  Board b;
  for (int round = 0; round < 200; ++round) {
    std::vector<book::BookEntry> entries;
    const uint64_t key = book::bookKey(b.pos);
    const int n = rand() % 8;
    for (int i = 0; i < n; ++i)
      entries.push_back({i == n / 2 ? key : static_cast<uint64_t>(rand()) << 33, static_cast<uint16_t>(rand()),
                         static_cast<uint16_t>(rand() % 3), 0});
    std::sort(entries.begin(), entries.end(), [](auto& x, auto& y) { return x.key < y.key; });
    ASSERT_TRUE(booktest::writeBookFile(path, entries));
    if (rand() % 2) std::filesystem::resize_file(path, rand() % (16 * n + 1));
    const Move m = quietProbe(b, path);
    if (m) {
      MoveEntry legal[kMaxMoves];
      const int count = generateLegal(b.pos, legal);
      EXPECT_TRUE(std::any_of(legal, legal + count, [&](const MoveEntry& e) { return e.move == m; }));
    }
    // Walk on so the positions vary.
    MoveEntry legal[kMaxMoves];
    const int count = generateLegal(b.pos, legal);
    if (!count || b.history->undoCount > 60) b.set(kStartFen);
    else makeMove(b.pos, legal[rand() % count].move);
  }
}
