// Tablebase registry, decoding and probes: values against an independent
// prober's, the registry's edge cases, and damaged files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "protocol/engine_process.h"
#include "syzygy/syzygy.h"
#include "test_util.h"

namespace {

using namespace syzygy;
namespace fs = std::filesystem;

const std::string kTables = std::string(VESK_TEST_DATA) + "/syzygy";

TbPosition fromFen(const std::string& fen) {
  testutil::initTables();
  board::Position pos;
  board::UndoHistory history{};
  pos.owner = &history;
  EXPECT_NE(board::setFromFen(pos, fen), board::kFenRejected) << fen;
  return toTbPosition(pos, false);
}

int wdl(const std::string& fen) {
  int success;
  const int v = probeWdl(fromFen(fen), success);
  return success ? v : -9;
}

// Registers dirs with stdout captured; returns the output.
std::string init(const std::string& dirs) {
  testutil::StdoutCapture capture;
  initTablebases(dirs);
  return capture.finish();
}

class Tablebases : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::initTables();
    init(kTables);
  }
  void TearDown() override { init(""); }
};

// Positions with WDL and |DTZ| as Debian's fathom gave them (bench/syzygy-oracle.sh).
TEST_F(Tablebases, ValuesEqualTheOracle) {
  std::ifstream in(kTables + "/expected.txt");
  ASSERT_TRUE(in) << "missing expected.txt";
  int checked = 0, withEp = 0;
  for (std::string line; std::getline(in, line);) {
    const size_t bar = line.find(" | ");
    if (bar == std::string::npos) continue;
    const std::string fen = line.substr(0, bar);
    int w = 0, d = 0;
    std::istringstream(line.substr(bar + 3)) >> w >> d;
    const TbPosition p = fromFen(fen);
    int s1, s2;
    const int gotW = probeWdl(p, s1), gotD = probeDtz(p, s2);
    ASSERT_TRUE(s1 && s2) << fen;
    EXPECT_EQ(gotW, w) << fen;
    EXPECT_EQ(std::abs(gotD), d) << fen;
    EXPECT_EQ(gotD > 0, w > 0) << fen;
    withEp += p.ep != 0;
    ++checked;
  }
  EXPECT_GT(checked, 2000);
  EXPECT_GT(withEp, 20);
}

TEST_F(Tablebases, SidesColoursAndEnPassant) {
  // KQvK: a constant part for White to move, a compressed one for Black.
  board::Position pos;
  board::UndoHistory h{};
  pos.owner = &h;
  ASSERT_EQ(board::setFromFen(pos, "8/8/8/4k3/8/8/8/KQ6 w - -"), board::kFenOk);
  EXPECT_EQ(probeWdlInSearch(pos, 0, 0, 1), kTbWin);
  ASSERT_EQ(board::setFromFen(pos, "8/8/8/4k3/8/8/8/KQ6 b - -"), board::kFenOk);
  EXPECT_EQ(probeWdlInSearch(pos, 0, 0, 1), kTbLoss);
  EXPECT_EQ(wdl("8/8/8/4k3/8/8/8/KQ6 b - -"), -2);
  EXPECT_EQ(wdl("8/8/8/4K3/8/8/8/kq6 b - -"), 2);  // mirrored material
  EXPECT_EQ(wdl("8/8/8/4K3/8/8/8/kq6 w - -"), -2);
  EXPECT_EQ(wdl("8/8/8/k2Pp3/8/8/8/4K3 w - e6"), 2);  // only the en-passant capture wins
  EXPECT_EQ(wdl("8/8/8/k2Pp3/8/8/8/4K3 w - -"), 0);
  int success;
  EXPECT_EQ(probeDtz(fromFen("8/8/8/8/2pP4/2K5/4k3/8 b - d3"), success), 1);
  EXPECT_EQ(wdl("8/8/8/8/8/8/8/K1k5 w - -"), 0);  // bare kings need no table
}

TEST(TablebaseRegistry, EmptyPathTwoDirectoriesAndSymmetricKeys) {
  testutil::initTables();
  EXPECT_EQ(init("<empty>"), "");
  EXPECT_EQ(largestTable, 0);
  EXPECT_EQ(tableCount(), 0);
  EXPECT_EQ(wdl("8/8/8/4k3/8/8/8/KQ6 w - -"), -9);

  testutil::TempDir a, b;
  fs::copy_file(kTables + "/KQvK.rtbw", b.file("KQvK.rtbw"));
  EXPECT_EQ(init(a.path() + ";" + b.path()), "info string found 1 tablebases\n");
  EXPECT_EQ(largestTable, 3);
  EXPECT_EQ(wdl("8/8/8/4k3/8/8/8/KQ6 w - -"), 2);
  EXPECT_EQ(wdl("8/8/8/4K3/8/8/8/kq6 b - -"), 2);  // through the mirrored key
  // ':' separates as well.
  EXPECT_EQ(init(a.path() + ":" + b.path()), "info string found 1 tablebases\n");

  fs::copy_file(kTables + "/KRvKR.rtbw", a.file("KRvKR.rtbw"));
  init(a.path());
  EXPECT_EQ(tableCount(), 1);
  EXPECT_EQ(registeredKeys(), 1);  // symmetric: one key
  init(b.path());
  EXPECT_EQ(registeredKeys(), 2);
  init("");
}

TEST(TablebaseRegistry, FileDeletedBeforeFirstUseIsReportedOnce) {
  testutil::initTables();
  testutil::TempDir dir;
  fs::copy_file(kTables + "/KQvK.rtbw", dir.file("KQvK.rtbw"));
  init(dir.path());
  fs::remove(dir.file("KQvK.rtbw"));
  testing::internal::CaptureStderr();
  EXPECT_EQ(wdl("8/8/8/4k3/8/8/8/KQ6 w - -"), -9);
  EXPECT_EQ(wdl("8/8/8/4k3/8/8/8/KQ6 b - -"), -9);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Could not find KQvK.rtbw\n");
  init("");
}

TEST(TablebaseRegistry, SixMenAreProbedOnlyFromTheirDepth) {
  testutil::initTables();
  testutil::TempDir dir;
  std::ofstream(dir.file("KQRBvKN.rtbw")).put('x');  // registered, never readable
  init(dir.path());
  EXPECT_EQ(largestTable, 6);
  board::Position pos;
  board::UndoHistory h{};
  pos.owner = &h;
  ASSERT_EQ(board::setFromFen(pos, "4k3/8/8/3n4/8/8/8/QRB1K3 w - -"), board::kFenOk);
  testing::internal::CaptureStderr();
  EXPECT_EQ(probeWdlInSearch(pos, 2, 0, 3), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // not even looked at
  testing::internal::CaptureStderr();
  EXPECT_EQ(probeWdlInSearch(pos, 3, 0, 3), -1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("KQRBvKN.rtbw"), std::string::npos);
  // The minimum depth holds for every size; castling rights are never probed.
  init(kTables);
  ASSERT_EQ(board::setFromFen(pos, "8/8/8/4k3/8/8/8/KQ6 w - -"), board::kFenOk);
  EXPECT_EQ(probeWdlInSearch(pos, 1, 2, 1), -1);
  EXPECT_EQ(probeWdlInSearch(pos, 2, 2, 1), kTbWin);
  ASSERT_EQ(board::setFromFen(pos, "4k3/8/8/8/8/8/8/R3K3 w Q -"), board::kFenOk);
  EXPECT_EQ(probeWdlInSearch(pos, 5, 0, 1), -1);
  init("");
}

// Root probes: a won root zeroes fastest, a mate in one is taken, a drawn
// root always picks the same drawing move.
TEST_F(Tablebases, RootChoices) {
  board::Position pos;
  board::UndoHistory h{};
  pos.owner = &h;
  int category, distance;
  board::Move move;
  ASSERT_EQ(board::setFromFen(pos, "6k1/8/6K1/8/8/8/8/1Q6 w - -"), board::kFenOk);
  ASSERT_EQ(probeRoot(pos, category, distance, move), kTbWin);
  EXPECT_EQ(distance, 1);
  board::makeMove(pos, move);
  board::MoveEntry replies[board::kMaxMoves];
  EXPECT_EQ(board::generateLegal(pos, replies), 0) << board::moveToText(move);
  EXPECT_TRUE(board::inCheck(pos, pos.sideToMove));
  board::unmakeMove(pos);

  // KRvK: no move zeroes; the chosen one leaves the shortest distance.
  int success;
  ASSERT_EQ(board::setFromFen(pos, "8/8/8/4k3/8/8/8/KR6 w - -"), board::kFenOk);
  ASSERT_EQ(probeRoot(pos, category, distance, move), kTbWin);
  board::MoveEntry list[board::kMaxMoves];
  const int n = board::generateLegal(pos, list);
  for (int i = 0; i < n; ++i) {
    board::makeMove(pos, list[i].move);
    const int after = probeDtz(toTbPosition(pos, true), success);
    board::unmakeMove(pos);
    if (list[i].move == move) {
      EXPECT_EQ(distance, 1 - after);
    }
    if (after < 0) {
      EXPECT_GE(1 - after, distance);
    }
  }

  ASSERT_EQ(board::setFromFen(pos, "8/8/3k4/8/8/8/r7/3K3R w - -"), board::kFenOk);
  ASSERT_EQ(probeRoot(pos, category, distance, move), kTbDraw);
  board::Move again;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(probeRoot(pos, category, distance, again), kTbDraw);
    EXPECT_EQ(again, move);
  }
  board::makeMove(pos, move);
  EXPECT_EQ(probeWdl(toTbPosition(pos, false), success), 0);
  board::unmakeMove(pos);
  // Mate and stalemate at the root have no move to answer with.
  ASSERT_EQ(board::setFromFen(pos, "k7/1Q6/1K6/8/8/8/8/8 b - -"), board::kFenOk);
  EXPECT_EQ(probeRoot(pos, category, distance, move), -1);
}

// Damaged copies of KQvKR.rtbw: flipped, truncated, emptied, extended,
// a wrong magic. A damaged table answers "unknown" or a value in range;
// one that only grew still answers as before; none crashes or hangs.
TEST(TablebaseFiles, DamagedFilesAreDisabledOrHarmless) {
  testutil::initTables();
  std::ifstream in(kTables + "/KQvKR.rtbw", std::ios::binary);
  const std::string original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(original.size(), 1000u);
  const std::vector<std::string> fens = {"8/8/8/4k3/8/2r5/8/KQ6 w - -", "8/8/8/4k3/8/2r5/8/KQ6 b - -",
                                         "1Q5K/5k2/8/r7/8/8/8/8 b - -", "8/8/1r6/4k3/8/8/3Q4/7K w - -"};
  // Captures lead into KQvK and KRvK, which stay sound.
  testutil::TempDir dir;
  for (const char* t : {"KQvK.rtbw", "KRvK.rtbw"}) fs::copy_file(kTables + "/" + t, dir.file(t));
  init(kTables);
  std::vector<int> truth;
  for (const auto& f : fens) truth.push_back(wdl(f));
  std::mt19937 rng(20261209);
  const int rounds = testutil::kSanitized ? 60 : 200;
  for (int round = 0; round < rounds; ++round) {
    std::string bytes = original;
    const int kind = round % 5;
    if (kind == 0) bytes.resize(rng() % bytes.size());
    if (kind == 1)
      for (int k = 0; k < 1 + static_cast<int>(rng() % 8); ++k) bytes[rng() % bytes.size()] ^= char(1 << (rng() % 8));
    if (kind == 2) bytes.append(rng() % 5000, char(rng()));
    if (kind == 3) bytes[rng() % 4] ^= 0x5A;
    if (kind == 4) bytes[4 + rng() % 300] = char(rng());
    std::ofstream(dir.file("KQvKR.rtbw"), std::ios::binary | std::ios::trunc) << bytes;
    init(dir.path());
    testing::internal::CaptureStderr();
    for (size_t i = 0; i < fens.size(); ++i) {
      const int v = wdl(fens[i]);
      EXPECT_TRUE(v == -9 || (v >= -2 && v <= 2)) << round;
      if (kind == 2) {
        EXPECT_EQ(v, truth[i]) << round;
      }
      if (kind == 3) {
        EXPECT_EQ(v, -9) << round;
      }
    }
    const std::string said = testing::internal::GetCapturedStderr();
    if (kind == 3) {
      EXPECT_NE(said.find("Corrupted table KQvKR.rtbw: wrong magic"), std::string::npos);
    }
    EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 1) << said;  // one message at most
  }
  std::ofstream(dir.file("KQvKR.rtbw"), std::ios::trunc);
  init(dir.path());
  testing::internal::CaptureStderr();
  EXPECT_EQ(wdl(fens[0]), -9);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Could not map KQvKR.rtbw: empty file\n");
  init("");
}

}  // namespace
