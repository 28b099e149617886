// Playing from the books through the real binary: "go" answered from the
// first or the second book by depth, a book hit while pondering held for
// "ponderhit" or "stop", damaged books searched past, the console "book"
// listing, and "-mkbook".
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "protocol/engine_process.h"
#include "search/search_helpers.h"

using searchtest::goAndWait;
using searchtest::GoReply;
using testutil::EngineProcess;

namespace {

const std::string kSample = std::string(VESK_TEST_DATA) + "/performance-sample.bin";
const std::string kLasker = std::string(VESK_TEST_DATA) + "/lasker-trap.bin";
const std::string kLaskerFen = "fen rnbqk1nr/ppp2ppp/8/4P3/1BP5/8/PP2KpPP/RN1Q1BNR b kq - 1 7";

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool searched(const GoReply& r) {
  return std::any_of(r.lines.begin(), r.lines.end(), [](const std::string& l) { return l.rfind("info depth", 0) == 0; });
}

void setBooks(EngineProcess& engine, const std::string& first, int depth, const std::string& second, int depth2) {
  ASSERT_TRUE(engine.send("setoption name OwnBook value true\nsetoption name OwnBook_File value " + first +
                          "\nsetoption name OwnBook_Depth value " + std::to_string(depth) +
                          "\nsetoption name OwnBook2_File value " + second + "\nsetoption name OwnBook2_Depth value " +
                          std::to_string(depth2) + "\n"));
}

}  // namespace

TEST(BookPlay, GoAnswersFromTheBooksByDepth) {
  EngineProcess engine({"-use_hce"});
  setBooks(engine, kSample, 24, kLasker, 0);
  GoReply r = goAndWait(engine, "position startpos\ngo wtime 5000 btime 5000\n");
  ASSERT_TRUE(r.answered) << engine.transcript();
  EXPECT_TRUE(contains(r.lines, "info string ( book moves are: e2e4 d2d4 c2c4  )")) << engine.transcript();
  EXPECT_TRUE(r.best == "e2e4" || r.best == "d2d4" || r.best == "c2c4") << r.best;
  EXPECT_TRUE(contains(r.lines, "info string book move is " + r.best));
  EXPECT_FALSE(searched(r));

  // The second book alone past the first's depth; its under-promotion keeps its letter.
  setBooks(engine, kSample, 0, kLasker, 60);
  r = goAndWait(engine, "position " + kLaskerFen + "\ngo wtime 5000 btime 5000\n");
  ASSERT_TRUE(r.answered) << engine.transcript();
  EXPECT_EQ(r.best, "f2g1n");
  EXPECT_TRUE(contains(r.lines, "info string ( book moves are: f2g1n  )")) << engine.transcript();

  // The first book without the position hands over to the second.
  setBooks(engine, kLasker, 24, kSample, 24);
  r = goAndWait(engine, "position startpos moves e2e4\ngo wtime 5000 btime 5000\n");
  EXPECT_TRUE(r.best == "e7e5" || r.best == "c7c5") << engine.transcript();

  // Below neither depth, or with OwnBook off: a search.
  setBooks(engine, kSample, 0, kLasker, 0);
  r = goAndWait(engine, "position startpos\ngo depth 3\n");
  ASSERT_TRUE(r.answered);
  EXPECT_TRUE(searched(r));
  setBooks(engine, kSample, 24, kLasker, 0);
  ASSERT_TRUE(engine.send("setoption name OwnBook value false\n"));
  r = goAndWait(engine, "position startpos\ngo depth 3\n");
  EXPECT_TRUE(searched(r)) << engine.transcript();
  EXPECT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

TEST(BookPlay, PonderingOnABookMoveWaitsForTheRelease) {
  EngineProcess engine({"-use_hce"});
  setBooks(engine, kSample, 24, "", 0);
  for (const char* release : {"ponderhit", "stop"}) {
    SCOPED_TRACE(release);
    const size_t from = engine.output().size();
    ASSERT_TRUE(engine.send("position startpos moves e2e4\ngo ponder wtime 5000 btime 5000\n"));
    ASSERT_TRUE(engine.waitFor("book move is", 5.0, from)) << engine.transcript();
    ASSERT_TRUE(engine.send("isready\n"));
    ASSERT_TRUE(engine.waitFor("readyok", 5.0, from));
    EXPECT_EQ(engine.output().find("bestmove", from), std::string::npos) << "held until " << release;
    GoReply r = goAndWait(engine, std::string(release) + "\n");
    ASSERT_TRUE(r.answered) << engine.transcript();
    EXPECT_TRUE(r.best == "e7e5" || r.best == "c7c5") << r.best;
  }
  EXPECT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

TEST(BookPlay, DamagedBooksAreSearchedPast) {
  testutil::TempDir dir;
  const std::string torn = dir.file("torn.bin"), zero = dir.file("zero.bin");
  std::filesystem::copy_file(kSample, torn);
  std::filesystem::resize_file(torn, 15);
  // The start position's three entries with every weight 0.
  std::ifstream in(kSample, std::ios::binary);
  std::string bytes(48, 0);
  in.read(bytes.data(), 48);
  for (int i = 0; i < 3; ++i) bytes[16 * i + 10] = bytes[16 * i + 11] = 0;
  std::ofstream(zero, std::ios::binary) << bytes;
  EngineProcess engine({"-use_hce"});
  for (const std::string& path : {torn, zero, dir.file("missing.bin"), dir.path()}) {
    setBooks(engine, path, 24, path, 24);
    GoReply r = goAndWait(engine, "position startpos\ngo depth 2\n");
    ASSERT_TRUE(r.answered) << path << engine.transcript();
    EXPECT_TRUE(searched(r)) << path;
  }
  EXPECT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

TEST(BookPlay, ConsoleBookListsBothBooks) {
  EngineProcess engine({"-use_hce", "-c", "-book", kSample});
  ASSERT_EQ(testutil::runToEnd(engine, "book\nquit\n"), 0);
  const auto lines = engine.lines();
  const auto at = std::find(lines.begin(), lines.end(), "  e2e4  cnt=     1, weight= 33.33% -> 33.33%");
  ASSERT_NE(at, lines.end()) << engine.transcript();
  ASSERT_GE(lines.end() - at, 6);
  EXPECT_EQ(at[1], "  d2d4  cnt=     1, weight= 33.33% -> 33.33%");
  EXPECT_EQ(at[2], "  c2c4  cnt=     1, weight= 33.33% -> 33.33%");
  EXPECT_EQ(at[3].rfind("selecting ", 0), 0u);
  EXPECT_EQ(at[4], "");
  EXPECT_EQ(at[5], "") << "the second book, which is not set, prints only its empty line";
}

TEST(BookPlay, MakeBookSwitch) {
  testutil::TempDir dir;
  std::string games;
  for (int i = 0; i < 3; ++i) games += "[Event \"e\"]\n[Result \"1-0\"]\n\n1. e4 e5 2. Nf3 1-0\n\n";
  std::ofstream(dir.file("in.pgn")) << games;
  EngineProcess make({"-use_hce", "-mkbook", "in.pgn"}, dir.path());
  EXPECT_EQ(make.wait(), 0);
  EXPECT_NE(make.output().find(" Creating file tmp_book.bin from games in in.pgn\n"), std::string::npos);
  EXPECT_NE(make.output().find("\nwriting book file ...\nngames= 3, nmoves= 3\ndone\n"), std::string::npos)
      << make.output();
  EXPECT_EQ(std::filesystem::file_size(dir.file("tmp_book.bin")), 32u) << "e4 and Nf3";
  EngineProcess missing({"-use_hce", "-mkbook", "none.pgn"}, dir.path());
  EXPECT_EQ(missing.wait(), 1);
}
