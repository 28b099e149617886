// The book maker: the scoring rule and weight scaling, what the PGN reader
// counts and skips, the written order, and failures that leave no book.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "book/book_helpers.h"
#include "protocol/engine_process.h"
#include "test_util.h"

using namespace board;
using booktest::rawMove;

namespace {

class BookMaker : public testing::Test {
 protected:
  void SetUp() override { testutil::initTables(); }
  std::string pgn(const std::string& text) {
    const std::string path = dir.file("games" + std::to_string(++files) + ".pgn");
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // Runs the maker quietly; returns its status.
  int make(const std::string& pgnPath, size_t maxNodes = 0) {
    testutil::StdoutCapture capture;
    const int status = book::makeBook(pgnPath, out, maxNodes);
    printed = capture.finish();
    return status;
  }
  std::vector<book::BookEntry> entriesAt(const std::string& fen) {
    testutil::Board b(fen);
    book::BookEntry e[book::kMaxBookEntries];
    const int n = book::readBookEntries(out, book::bookKey(b.pos), e);
    return {e, e + n};
  }
  testutil::TempDir dir;
  std::string out = dir.file("book.bin");
  std::string printed;
  int files = 0;
};

std::string games(int count, const char* result, const std::string& moves) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += std::string("[Event \"t\"]\n[Result \"") + result + "\"]\n\n" + moves + " " + result + "\n\n";
  return text;
}

}  // namespace

TEST_F(BookMaker, ScoringRuleAndScaling) {
  // From the start: e4 wins 3 (score 12), d4 wins 2 (dropped), c4 wins 5 and loses 6 (score 8, dropped).
  ASSERT_EQ(make(pgn(games(3, "1-0", "1. e4 e5") + games(2, "1-0", "1. d4") + games(5, "1-0", "1. c4") +
                     games(6, "0-1", "1. c4"))),
            0);
  auto start = entriesAt(kStartFen);
  ASSERT_EQ(start.size(), 1u);
  EXPECT_EQ(start[0].move, rawMove(12, 28));
  EXPECT_EQ(start[0].weight, 12);
  EXPECT_EQ(start[0].learn, 0u);
  EXPECT_TRUE(entriesAt("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -").empty()) << "e5 only lost";
  EXPECT_NE(printed.find("ngames= 16, nmoves= 4"), std::string::npos) << printed;

  // A best score of 120,000 halves every weight of the position.
  ASSERT_EQ(make(pgn(games(30000, "1-0", "1. Nf3") + games(3, "1-0", "1. e4") + games(3, "1-0", "1. d4") +
                     games(1, "1/2-1/2", "1. d4") + games(11, "1/2-1/2", "1. c4"))),
            0);
  start = entriesAt(kStartFen);
  ASSERT_EQ(start.size(), 3u) << "c4 never won";
  EXPECT_EQ(start[0].move, rawMove(6, 21));
  EXPECT_EQ(start[0].weight, 60000);
  EXPECT_EQ(start[1].weight, 6) << "e4: 12 halved";
  EXPECT_EQ(start[2].weight, 6) << "d4: 13 halved, truncated";
  EXPECT_EQ(start[1].move | start[2].move, rawMove(12, 28) | rawMove(11, 27));
}

TEST_F(BookMaker, TokensCommentsVariationsAndCastling) {
  // Nothing in braces, parentheses or after ';' counts; move numbers may be glued to moves.
  const std::string line =
      "1.e4 {1. d4 d5 (2. c4)} ( 1. d4 ) e5 2.Nf3 ; 2... d6\n"
      "{ a comment\n[Event over two lines] :) 2... d6 }\n"
      "2...Nc6 3. Bc4!? Bc5 4. 0-0 $1 Nf6 *";
  std::string text;
  for (int i = 0; i < 3; ++i) text += "[Result \"1-0\"]\n" + line + "\n";
  ASSERT_EQ(make(pgn(text)), 0);
  EXPECT_EQ(entriesAt(kStartFen).size(), 1u) << "only e4";
  // e4 e5 Nf3 Nc6 Bc4 Bc5 O-O Nf6: nothing else was counted.
  EXPECT_NE(printed.find("ngames= 3, nmoves= 8"), std::string::npos) << printed;
  const std::string beforeCastling = "r1bqk1nr/pppp1ppp/2n5/2b1p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq -";
  const auto castling = entriesAt(beforeCastling);
  ASSERT_EQ(castling.size(), 1u);
  EXPECT_EQ(castling[0].move, rawMove(kE1, kH1)) << "written as the king taking its rook";
  EXPECT_EQ(castling[0].weight, 12);
  testutil::Board b(beforeCastling);
  platform::uci_mode = 0;
  EXPECT_EQ(book::probeBook(b.pos, out, {book::kNeutralVariety, false}), makeMoveCode(kE1, kG1));
  platform::uci_mode = 1;
}

TEST_F(BookMaker, WritesSortedByKeyThenWeight) {
  std::string text;
  const char* openings[] = {"1. e4 e5 2. Nf3", "1. e4 c5 2. Nf3", "1. d4 d5 2. c4", "1. d4 Nf6 2. c4", "1. c4 e5"};
  for (int i = 0; i < 5; ++i) text += games(3 + i, "1-0", openings[i]);
  ASSERT_EQ(make(pgn(text)), 0);
  const auto all = booktest::readAll(out);
  ASSERT_EQ(all.size(), 7u) << "three first moves, four second white moves";
  for (size_t i = 1; i < all.size(); ++i)
    EXPECT_TRUE(all[i - 1].key < all[i].key || (all[i - 1].key == all[i].key && all[i - 1].weight >= all[i].weight))
        << i;
  EXPECT_EQ(std::filesystem::file_size(out) % book::kEntryBytes, 0u);
}

TEST_F(BookMaker, FailuresLeaveNoBook) {
  const std::string input = pgn(games(3, "1-0", "1. e4 e5 2. Nf3 Nc6"));
  EXPECT_EQ(make(input, 2), 1) << "out of nodes";
  EXPECT_NE(printed.find("out of memory"), std::string::npos) << printed;
  EXPECT_FALSE(std::filesystem::exists(out));
  out = dir.file("no-such-dir/book.bin");
  EXPECT_EQ(make(input), 1);
  EXPECT_NE(printed.find("cannot create the book file"), std::string::npos) << printed;
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(make(dir.file("missing.pgn")), 1);
  // A good run over an old book replaces it whole.
  out = dir.file("book.bin");
  std::ofstream(out) << "old";
  ASSERT_EQ(make(input), 0);
  EXPECT_EQ(std::filesystem::file_size(out), 2u * book::kEntryBytes) << "e4 and Nf3";
  EXPECT_FALSE(std::filesystem::exists(out + ".partial"));
}

TEST_F(BookMaker, HostileInputEnds) {
  // A 100 KB line of moves (more than the history holds), an unterminated
  // comment, binary garbage.
  std::string longLine = "[Result \"1-0\"]\n";
  for (int i = 0; i < 6250; ++i) longLine += "Nf3 Nf6 Ng1 Ng8 ";
  longLine += "\n";
  std::string garbage;
  srand(11);
  for (int i = 0; i < 200000; ++i) garbage += static_cast<char>(rand() % 256);
  for (const std::string& text : {longLine, std::string("[Result \"1-0\"]\n1. e4 { never closed\n1. d4\n"),
                                  "[Result \"1-0\"]\n" + garbage, garbage}) {
    EXPECT_EQ(make(pgn(text)), 0);
    EXPECT_EQ(std::filesystem::file_size(out) % book::kEntryBytes, 0u);
  }
}
