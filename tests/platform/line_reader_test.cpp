// The input line assembler over a real pipe, plus the clock and SIGPIPE.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/platform.h"

using platform::LineReader;

namespace {

class LineReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pipe(fds_), 0);
    reader_.fd = fds_[0];
  }
  void TearDown() override {
    if (writer_.joinable()) writer_.join();
    closeWriter();
    close(fds_[0]);
  }
  void put(const std::string& bytes) {
    ASSERT_EQ(write(fds_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void closeWriter() {
    if (fds_[1] >= 0) close(fds_[1]);
    fds_[1] = -1;
  }
  // Writes in the background: large inputs exceed the pipe's buffer.
  void putAsync(std::string bytes, bool thenClose) {
    writer_ = std::thread([this, bytes = std::move(bytes), thenClose] {
      size_t done = 0;
      while (done < bytes.size()) {
        ssize_t n = write(fds_[1], bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      if (thenClose) closeWriter();
    });
  }
  // Pumps until `count` lines are queued or input ends; bounded in time.
  void pumpUntil(size_t count) {
    for (int i = 0; i < 2000 && reader_.lines.size() < count && !reader_.endOfInput; ++i)
      platform::pumpInput(reader_, 5);
  }
  std::vector<std::string> take() {
    std::vector<std::string> out;
    std::string line;
    while (platform::nextLine(reader_, line)) out.push_back(line);
    return out;
  }

  int fds_[2] = {-1, -1};
  LineReader reader_;
  std::thread writer_;
};

using Lines = std::vector<std::string>;

}  // namespace

TEST_F(LineReaderTest, LinesSplitAcrossReadsAreJoined) {
  put("isr");
  EXPECT_TRUE(platform::pumpInput(reader_, 100));
  EXPECT_EQ(take(), Lines{}) << "no line before its end";
  put("eady\nuc");
  EXPECT_TRUE(platform::pumpInput(reader_, 100));
  put("i\nposition startpos\n");
  EXPECT_TRUE(platform::pumpInput(reader_, 100));
  EXPECT_EQ(take(), (Lines{"isready", "uci", "position startpos"}));
  EXPECT_FALSE(reader_.endOfInput);
}

TEST_F(LineReaderTest, NulEndsALineAndEmptyLinesAreDropped) {
  put(std::string("\n\nisready\0go\0\0\n\nstop\n\0", 22));
  pumpUntil(3);
  EXPECT_EQ(take(), (Lines{"isready", "go", "stop"}));
}

TEST_F(LineReaderTest, OtherBytesArePassedThrough) {
  // Carriage returns, tabs and high bytes are the dispatcher's business.
  put("a\rb\tc\xff\x01\n");
  pumpUntil(1);
  EXPECT_EQ(take(), Lines{"a\rb\tc\xff\x01"});
}

TEST_F(LineReaderTest, NothingWaitingReturnsAtOnce) {
  double start = platform::nowSeconds();
  EXPECT_FALSE(platform::pumpInput(reader_, 0));
  EXPECT_LT(platform::nowSeconds() - start, 0.5);
  std::string line = "unchanged";
  EXPECT_FALSE(platform::nextLine(reader_, line));
  EXPECT_EQ(line, "unchanged");
  EXPECT_FALSE(reader_.endOfInput);
}

TEST_F(LineReaderTest, LineAtTheLimitIsKeptLongerOnesAreDroppedAndCounted) {
  const size_t max = platform::kMaxLineLength;
  std::string atLimit(max, 'a');
  std::string overLimit(max + 1, 'b');
  std::string farOver(3 * max, 'c');
  putAsync(atLimit + "\n" + overLimit + "\nnext\n" + farOver + std::string(1, '\0') + "after\n", true);
  for (int i = 0; i < 5000 && !reader_.endOfInput; ++i) platform::pumpInput(reader_, 5);
  ASSERT_TRUE(reader_.endOfInput);
  EXPECT_EQ(reader_.droppedLines, 2u);
  Lines lines = take();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), max);
  EXPECT_EQ(lines[0], atLimit);
  EXPECT_EQ(lines[1], "next");
  EXPECT_EQ(lines[2], "after");
  EXPECT_TRUE(reader_.partial.empty());
}

TEST_F(LineReaderTest, EndOfInputKeepsThePartialLastLine) {
  put("isready\nquit");
  closeWriter();
  for (int i = 0; i < 100 && !reader_.endOfInput; ++i) platform::pumpInput(reader_, 10);
  ASSERT_TRUE(reader_.endOfInput);
  EXPECT_EQ(take(), (Lines{"isready", "quit"}));
  // After the end, pumping reports nothing new.
  EXPECT_FALSE(platform::pumpInput(reader_, 0));
}

TEST_F(LineReaderTest, EndOfInputInsideAnOverlongLineKeepsNothing) {
  putAsync("first\n" + std::string(platform::kMaxLineLength + 5, 'x'), true);
  for (int i = 0; i < 5000 && !reader_.endOfInput; ++i) platform::pumpInput(reader_, 5);
  ASSERT_TRUE(reader_.endOfInput);
  EXPECT_EQ(reader_.droppedLines, 1u);
  EXPECT_EQ(take(), Lines{"first"});
}

TEST_F(LineReaderTest, WaitLineBlocksUntilALineOrTheEnd) {
  writer_ = std::thread([this] {
    platform::sleepMs(50);
    put("late li");
    platform::sleepMs(20);
    put("ne\nrest");
    platform::sleepMs(20);
    closeWriter();
  });
  std::string line;
  double start = platform::nowSeconds();
  ASSERT_TRUE(platform::waitLine(reader_, line));
  EXPECT_EQ(line, "late line");
  EXPECT_GE(platform::nowSeconds() - start, 0.04);
  ASSERT_TRUE(platform::waitLine(reader_, line));
  EXPECT_EQ(line, "rest");
  EXPECT_FALSE(platform::waitLine(reader_, line)) << "end of input";
  EXPECT_TRUE(reader_.endOfInput);
}

TEST(LineReaderInvalid, InvalidDescriptorCountsAsEndOfInput) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  close(fds[1]);
  LineReader reader;
  reader.fd = fds[0];  // closed: poll answers POLLNVAL
  for (int i = 0; i < 20 && !reader.endOfInput; ++i) platform::pumpInput(reader, 1);
  // Checked first: waitLine would never return otherwise.
  ASSERT_TRUE(reader.endOfInput);
  std::string line;
  EXPECT_FALSE(platform::waitLine(reader, line));
}

TEST(Platform, ClockIsMonotonicAndSleepsLastAtLeastTheirTime) {
  double a = platform::nowSeconds();
  platform::sleepMs(20);
  double b = platform::nowSeconds();
  EXPECT_GE(b - a, 0.019);
  EXPECT_LT(b - a, 2.0);
  EXPECT_LE(a, platform::nowSeconds());
}

TEST(Platform, WritingToAVanishedReaderFailsInsteadOfKilling) {
  platform::ignoreSigpipe();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  errno = 0;
  EXPECT_EQ(write(fds[1], "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  close(fds[1]);
}
