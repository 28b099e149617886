// Packed positions and the chunked data file: exact round trips, and damage
// (a cut chunk, a bad checksum, foreign bytes) found and skipped.
#include <filesystem>

#include "eval/nn.h"
#include "train_test_util.h"

using namespace board;
using namespace train;

namespace {

const char* kFens[] = {
    kStartFen,                                                              // 32 men
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R b KQkq -",      // black to move
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -",
    "4k3/8/8/8/8/8/8/4K2N b - -",
};

TEST(PackedRecord, PositionsComeBackWithTheSameBoardSideAndFeatures) {
  testutil::initTables();
  testutil::Board b;
  for (const char* fen : kFens) {
    ASSERT_EQ(b.set(fen), kFenOk) << fen;
    b.pos.rule50 = 37;
    const PackedRecord r = packPosition(b.pos, -123, 41, kFlagCapture);
    Position back{};
    ASSERT_TRUE(unpackPosition(r, back)) << fen;
    EXPECT_EQ(back.board, b.pos.board) << fen;
    EXPECT_EQ(back.sideToMove, b.pos.sideToMove) << fen;
    EXPECT_EQ(back.rule50, 37);
    EXPECT_EQ(back.pieceMaterial, b.pos.pieceMaterial);
    EXPECT_EQ(r.score, -123);
    EXPECT_EQ(r.ply, 41);
    EXPECT_TRUE(r.flags & kFlagCapture);
    EXPECT_EQ((r.flags & kFlagBlackToMove) != 0, b.pos.sideToMove == kBlack);
    uint16_t want[eval::kMaxFeatures], got[eval::kMaxFeatures];
    const int n = eval::buildFeatureList(b.pos, 1792, want);
    ASSERT_EQ(eval::buildFeatureList(back, 1792, got), n) << fen;
    EXPECT_TRUE(std::equal(want, want + n, got)) << fen;
  }
}

TEST(PackedRecord, ResultIsTurnedToTheSideToMove) {
  testutil::initTables();
  testutil::Board b(kFens[1]);  // black to move
  PackedRecord r = packPosition(b.pos, 0, 20, 0);
  r.result = kWhiteWins;
  EXPECT_EQ(resultForMover(r), 0.0f);
  r.result = kBlackWins;
  EXPECT_EQ(resultForMover(r), 1.0f);
  r.result = kDraw;
  EXPECT_EQ(resultForMover(r), 0.5f);
}

TEST(PackedRecord, UnsoundRecordsAreRefused) {
  testutil::initTables();
  testutil::Board b;
  PackedRecord good = packPosition(b.pos, 0, 20, 0);
  Position pos{};
  PackedRecord noPiece = good;
  noPiece.pieces[0] = static_cast<uint8_t>((noPiece.pieces[0] & 0xF0) | 7);  // type 7 on a1
  EXPECT_FALSE(unpackPosition(noPiece, pos));
  PackedRecord twoKings = good;
  twoKings.pieces[1] = static_cast<uint8_t>((twoKings.pieces[1] & 0xF0) | kKing);  // c1 becomes a second white king
  EXPECT_FALSE(unpackPosition(twoKings, pos));
  PackedRecord crowded = good;
  crowded.occupied = ~Bitboard{0};  // 64 men
  EXPECT_FALSE(unpackPosition(crowded, pos));
}

class DataFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(traintest::setUpEngineOnce());
    games.assign(traintest::sampleGames().begin(), traintest::sampleGames().begin() + 3);
    path = dir.file("data.bin");
    ASSERT_TRUE(traintest::writeGames(path, games, 1));  // one chunk per game
  }
  testutil::TempDir dir;
  std::string path;
  std::vector<PlayedGame> games;
};

TEST_F(DataFile, WrittenChunksReadBackExactly) {
  DataScan scan;
  std::vector<PackedRecord> records;
  ASSERT_EQ(readDataFile(path, scan, &records), kDataOk);
  EXPECT_TRUE(traintest::sameRecords(records, traintest::allRecords(games)));
  EXPECT_EQ(scan.chunks, 3u);
  EXPECT_EQ(scan.games, 3u);
  EXPECT_EQ(scan.nextGame, 3u);
  EXPECT_EQ(scan.damagedChunks, 0u);
  EXPECT_EQ(scan.completeBytes, scan.fileBytes);
  EXPECT_TRUE(scan.notes.empty());
  EXPECT_EQ(scan.header.softNodes, 150u);
}

TEST_F(DataFile, ChunkCutInTheMiddleIsSkipped) {
  const std::string whole = traintest::fileBytes(path);
  const size_t lastChunk = whole.size() - sizeof(ChunkHeader) - games[2].records.size() * sizeof(PackedRecord);
  // Cut inside the last chunk's records, then inside its header.
  for (size_t cut : {lastChunk + sizeof(ChunkHeader) + 40, lastChunk + 10}) {
    traintest::writeBytes(path, whole.substr(0, cut));
    DataScan scan;
    std::vector<PackedRecord> records;
    ASSERT_EQ(readDataFile(path, scan, &records), kDataOk);
    std::vector<PlayedGame> firstTwo(games.begin(), games.begin() + 2);
    EXPECT_TRUE(traintest::sameRecords(records, traintest::allRecords(firstTwo))) << cut;
    EXPECT_EQ(scan.damagedChunks, 1u);
    EXPECT_EQ(scan.nextGame, 2u);
    EXPECT_EQ(scan.completeBytes, lastChunk) << "appending resumes where the cut chunk began";
    ASSERT_EQ(scan.notes.size(), 1u);
    EXPECT_NE(scan.notes[0].find("cut short"), std::string::npos) << scan.notes[0];
  }
}

TEST_F(DataFile, ChunkFailingItsChecksumIsSkippedAndTheNextOneRead) {
  std::string bytes = traintest::fileBytes(path);
  const size_t firstPayload = sizeof(DataHeader) + sizeof(ChunkHeader);
  bytes[firstPayload + 5] = static_cast<char>(bytes[firstPayload + 5] ^ 0x10);
  traintest::writeBytes(path, bytes);
  DataScan scan;
  std::vector<PackedRecord> records;
  ASSERT_EQ(readDataFile(path, scan, &records), kDataOk);
  std::vector<PlayedGame> lastTwo(games.begin() + 1, games.end());
  EXPECT_TRUE(traintest::sameRecords(records, traintest::allRecords(lastTwo)));
  EXPECT_EQ(scan.damagedChunks, 1u);
  EXPECT_EQ(scan.chunks, 2u);
  ASSERT_EQ(scan.notes.size(), 1u);
  EXPECT_NE(scan.notes[0].find("checksum"), std::string::npos);
}

TEST_F(DataFile, MissingEmptyAndForeignFilesAreToldApart) {
  DataScan scan;
  EXPECT_EQ(readDataFile(dir.file("none.bin"), scan, nullptr), kDataMissing);
  traintest::writeBytes(dir.file("empty.bin"), "");
  EXPECT_EQ(readDataFile(dir.file("empty.bin"), scan, nullptr), kDataEmpty);
  traintest::writeBytes(dir.file("text.bin"), std::string(200, 'x'));
  EXPECT_EQ(readDataFile(dir.file("text.bin"), scan, nullptr), kDataForeign);
  // A file cut inside its own header.
  traintest::writeBytes(dir.file("short.bin"), traintest::fileBytes(path).substr(0, 20));
  EXPECT_EQ(readDataFile(dir.file("short.bin"), scan, nullptr), kDataForeign);
  // A damaged header byte.
  std::string bytes = traintest::fileBytes(path);
  bytes[12] = static_cast<char>(bytes[12] ^ 1);
  traintest::writeBytes(dir.file("bad.bin"), bytes);
  EXPECT_EQ(readDataFile(dir.file("bad.bin"), scan, nullptr), kDataForeign);
}

}  // namespace
