// The vesk-train program: generation that extends and repairs its file and
// reproduces the same games, training and export end to end, and bad input
// refused with a message, a non-zero status and nothing overwritten.
#include <cmath>
#include <filesystem>
#include <memory>

#include "eval/nn.h"
#include "lossplot.h"
#include "network.h"
#include "train_test_util.h"
#include "trainer.h"

using namespace train;

namespace {

const std::vector<std::string> kDatagenFlags = {"datagen", "-soft_nodes", "150", "-hash", "1", "-seed", "3"};

std::vector<std::string> datagen(const std::string& out, int games, int threads) {
  std::vector<std::string> args = kDatagenFlags;
  args.insert(args.end(), {"-out", out, "-games", std::to_string(games), "-threads", std::to_string(threads)});
  return args;
}

std::vector<PackedRecord> recordsOf(const std::string& path, DataScan& scan) {
  std::vector<PackedRecord> records;
  EXPECT_EQ(readDataFile(path, scan, &records), kDataOk) << path;
  return records;
}

int countLines(const std::string& path) {
  const std::string text = traintest::fileBytes(path);
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(ToolDatagen, ExtendsAndRepairsItsFileWithTheSameGames) {
  testutil::TempDir dir;
  std::string out;
  // Three games in one go, with two workers.
  ASSERT_EQ(traintest::runTool(datagen("whole.bin", 3, 2), dir.path(), out), 0) << out;
  EXPECT_NE(out.find("W/D/L"), std::string::npos) << out;
  DataScan whole;
  const std::vector<PackedRecord> expected = recordsOf(dir.file("whole.bin"), whole);
  EXPECT_EQ(whole.games, 3u);

  // Two games, then on to three: the same records.
  ASSERT_EQ(traintest::runTool(datagen("parts.bin", 2, 1), dir.path(), out), 0) << out;
  DataScan scan;
  EXPECT_EQ(recordsOf(dir.file("parts.bin"), scan).size() > 0, true);
  EXPECT_EQ(scan.games, 2u);
  ASSERT_EQ(traintest::runTool(datagen("parts.bin", 3, 1), dir.path(), out), 0) << out;
  EXPECT_NE(out.find("going on after game 2"), std::string::npos) << out;
  EXPECT_TRUE(traintest::sameRecords(recordsOf(dir.file("parts.bin"), scan), expected));

  // A run killed inside a chunk: the cut chunk is dropped and played again.
  const std::string bytes = traintest::fileBytes(dir.file("parts.bin"));
  traintest::writeBytes(dir.file("parts.bin"), bytes.substr(0, bytes.size() - 100));
  ASSERT_EQ(traintest::runTool(datagen("parts.bin", 3, 2), dir.path(), out), 0) << out;
  EXPECT_NE(out.find("dropping"), std::string::npos) << out;
  EXPECT_TRUE(traintest::sameRecords(recordsOf(dir.file("parts.bin"), scan), expected));
  EXPECT_EQ(scan.damagedChunks, 0u);
}

TEST(ToolDatagen, RefusesFilesMadeOtherwiseAndLeavesThemAlone) {
  testutil::TempDir dir;
  std::string out;
  ASSERT_EQ(traintest::runTool(datagen("d.bin", 1, 1), dir.path(), out), 0) << out;
  const std::string before = traintest::fileBytes(dir.file("d.bin"));
  std::vector<std::string> other = datagen("d.bin", 2, 1);
  other[2] = "300";  // another soft node limit
  EXPECT_EQ(traintest::runTool(other, dir.path(), out), 1);
  EXPECT_NE(out.find("other settings (soft_nodes hard_nodes)"), std::string::npos) << out;
  EXPECT_EQ(traintest::fileBytes(dir.file("d.bin")), before);
  other = datagen("d.bin", 2, 1);
  other.insert(other.end(), {"-random_moves", "0.05"});
  EXPECT_EQ(traintest::runTool(other, dir.path(), out), 1);
  EXPECT_NE(out.find("other settings (random_moves)"), std::string::npos) << out;
  EXPECT_EQ(traintest::fileBytes(dir.file("d.bin")), before);
  EXPECT_EQ(traintest::runTool({"datagen", "-out", "x.bin", "-random_moves", "0.9"}, dir.path(), out), 2);

  traintest::writeBytes(dir.file("notes.txt"), "some text that is not ours\n");
  EXPECT_EQ(traintest::runTool(datagen("notes.txt", 1, 1), dir.path(), out), 1);
  EXPECT_NE(out.find("not a Vesk training data file"), std::string::npos) << out;
  EXPECT_EQ(traintest::fileBytes(dir.file("notes.txt")), "some text that is not ours\n");

  EXPECT_EQ(traintest::runTool({"datagen", "-out", "x.bin", "-net", "missing.bin"}, dir.path(), out), 1);
  EXPECT_NE(out.find("missing.bin"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.bin")));
  EXPECT_EQ(traintest::runTool({"datagen", "-out", "x.bin", "-soft_nodes", "many"}, dir.path(), out), 2);
  EXPECT_NE(out.find("bad value for -soft_nodes"), std::string::npos) << out;
}

class ToolTrain : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string out;
    ASSERT_EQ(traintest::runTool(datagen("data.bin", 3, 2), dir().path(), out), 0) << out;
  }
  static testutil::TempDir& dir() {
    static testutil::TempDir d;
    return d;
  }
  static std::string file(const std::string& name) { return dir().file(name); }
  static std::vector<std::string> train(std::vector<std::string> extra) {
    std::vector<std::string> args = {"train", "-hidden1", "8", "-hidden2", "4", "-batch", "64", "-threads", "2"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
};

TEST_F(ToolTrain, TrainsExportsAndGoesOnFromItsCheckpoint) {
  std::string out;
  ASSERT_EQ(traintest::runTool(train({"-data", "data.bin", "-out", "net.bin", "-epochs", "2"}), dir().path(), out), 0)
      << out;
  EXPECT_NE(out.find("epoch 2  train loss"), std::string::npos) << out;
  EXPECT_NE(out.find("validation loss"), std::string::npos) << out;
  EXPECT_EQ(countLines(file("net.bin.csv")), 3) << "a header and one line per epoch";
  std::string why;
  ASSERT_EQ(eval::load_network(file("net.bin"), &why), 1) << why;
  EXPECT_EQ(eval::networks[0].H1, 8);
  EXPECT_EQ(eval::networks[0].L, 2);
  eval::unloadNetworks();

  ASSERT_EQ(traintest::runTool({"export", "-checkpoint", "net.bin.ckpt", "-out", "exported.bin"}, dir().path(), out), 0)
      << out;
  EXPECT_EQ(traintest::fileBytes(file("exported.bin")), traintest::fileBytes(file("net.bin")));

  ASSERT_EQ(traintest::runTool(train({"-data", "data.bin", "-out", "net.bin", "-epochs", "3", "-resume", "net.bin.ckpt"}),
                               dir().path(), out),
            0)
      << out;
  EXPECT_NE(out.find("resuming from net.bin.ckpt after epoch 2"), std::string::npos) << out;
  EXPECT_NE(out.find("epoch 3  train loss"), std::string::npos) << out;
  EXPECT_EQ(out.find("epoch 1  train loss"), std::string::npos) << out;
  EXPECT_EQ(countLines(file("net.bin.csv")), 4);
  EXPECT_EQ(traintest::fileBytes(file("net.bin.png")).substr(0, 8), "\x89PNG\r\n\x1a\n") << "the loss plot";
}

// With -keep_best the network file is the epoch of lowest validation loss:
// the same bytes as that epoch's network in a run that writes every epoch.
TEST_F(ToolTrain, KeepBestWritesTheEpochOfLowestValidationLoss) {
  const std::vector<std::string> common = {"-data", "data.bin", "-lr", "0.05", "-validation", "0.3"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = common;
    args.insert(args.end(), extra.begin(), extra.end());
    return train(args);
  };
  std::string out;
  std::vector<std::string> epochNets;
  for (int epoch = 1; epoch <= 4; ++epoch) {
    std::vector<std::string> extra = {"-out", "each.bin", "-epochs", std::to_string(epoch)};
    if (epoch > 1) extra.insert(extra.end(), {"-resume", "each.bin.ckpt"});
    ASSERT_EQ(traintest::runTool(with(extra), dir().path(), out), 0) << out;
    epochNets.push_back(traintest::fileBytes(file("each.bin")));
  }
  ASSERT_EQ(traintest::runTool(with({"-out", "best.bin", "-epochs", "4", "-keep_best"}), dir().path(), out), 0) << out;
  // The CSV's validation column picks the epoch.
  FILE* csv = fopen(file("best.bin.csv").c_str(), "r");
  ASSERT_NE(csv, nullptr);
  char line[256];
  int bestEpoch = 0;
  double best = 1e9;
  while (fgets(line, sizeof line, csv)) {
    int epoch;
    double train, valid;
    if (sscanf(line, "%d,%lf,%lf", &epoch, &train, &valid) == 3 && valid < best) best = valid, bestEpoch = epoch;
  }
  fclose(csv);
  ASSERT_GE(bestEpoch, 1);
  EXPECT_LT(bestEpoch, 4) << "at this learning rate a later epoch should overfit, or the case proves little";
  EXPECT_EQ(traintest::fileBytes(file("best.bin")), epochNets[static_cast<size_t>(bestEpoch - 1)]) << "epoch " << bestEpoch;
}

// The report's squared error is the trainer's own mean loss over the
// filtered positions; a file that is no network is refused.
TEST_F(ToolTrain, LossReportMeasuresANetworkOnGivenData) {
  std::string out;
  ASSERT_EQ(traintest::runTool(train({"-data", "data.bin", "-out", "measured.bin", "-epochs", "1"}), dir().path(), out), 0)
      << out;
  ASSERT_EQ(traintest::runTool({"loss", "-net", "measured.bin", "-data", "data.bin", "-lambda", "0.3"}, dir().path(), out), 0)
      << out;
  DataScan scan;
  std::vector<PackedRecord> all, kept;
  ASSERT_EQ(readDataFile(file("data.bin"), scan, &all), kDataOk);
  for (const PackedRecord& r : all)
    if (keepRecord(r, RecordFilter{})) kept.push_back(r);
  Network net;
  std::string why;
  ASSERT_EQ(readNetworkFile(file("measured.bin"), nullptr, net, why), 0) << why;
  std::vector<uint32_t> idx(kept.size());
  for (size_t i = 0; i < idx.size(); ++i) idx[i] = static_cast<uint32_t>(i);
  char expected[96];
  snprintf(expected, sizeof expected, "on %zu positions, lambda 0.30: squared error %.6f", kept.size(),
           meanLoss(net, kept, idx.data(), idx.size(), 0.3f, 1));
  EXPECT_NE(out.find(expected), std::string::npos) << out << "\nexpected: " << expected;

  // -use_hce: the hand-crafted static score through the same logistic.
  ASSERT_TRUE(traintest::setUpEngineOnce());
  ASSERT_EQ(traintest::runTool({"loss", "-use_hce", "-data", "data.bin", "-lambda", "0.3", "-threads", "1"}, dir().path(), out),
            0)
      << out;
  auto st = std::make_unique<eval::EvalState>();
  st->useCaches = false;
  double squared = 0;
  for (const PackedRecord& r : kept) {
    board::Position pos{};
    ASSERT_TRUE(unpackPosition(r, pos));
    const float R = 0.006f * static_cast<float>(eval::evaluate(pos, *st, 2, false, 0));
    const double P = 1.0f / (1.0f + std::exp(-R));
    const double e = P - targetOf(r, 0.3f);
    squared += e * e;
  }
  snprintf(expected, sizeof expected, "hand-crafted evaluation on %zu positions, lambda 0.30: squared error %.6f",
           kept.size(), squared / static_cast<double>(kept.size()));
  EXPECT_NE(out.find(expected), std::string::npos) << out << "\nexpected: " << expected;

  traintest::writeBytes(file("not-a-net.bin"), "text");
  EXPECT_EQ(traintest::runTool({"loss", "-net", "not-a-net.bin", "-data", "data.bin"}, dir().path(), out), 1);
  EXPECT_NE(out.find("error:"), std::string::npos) << out;
  EXPECT_EQ(traintest::runTool({"loss", "-data", "data.bin"}, dir().path(), out), 2);
}

TEST(LossPlot, DrawsFromTheCsvAndRefusesOneWithoutEpochs) {
  testutil::TempDir dir;
  traintest::writeBytes(dir.file("empty.csv"), "epoch,train_loss,validation_loss\n");
  EXPECT_FALSE(train::plotLossCsv(dir.file("empty.csv"), dir.file("empty.png")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("empty.png")));
  traintest::writeBytes(dir.file("run.csv"), "epoch,train_loss,validation_loss\n1,0.03,0.032\n2,0.02,0.025\n");
  ASSERT_TRUE(train::plotLossCsv(dir.file("run.csv"), dir.file("run.png")));
  const std::string png = traintest::fileBytes(dir.file("run.png"));
  ASSERT_GT(png.size(), 24u);
  // IHDR: width and height, big-endian, after the signature and chunk header.
  auto be32 = [&](size_t at) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(png[at])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(png[at + 1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(png[at + 2])) << 8) | static_cast<uint8_t>(png[at + 3]);
  };
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(be32(16), 640u);
  EXPECT_EQ(be32(20), 360u);
}

TEST_F(ToolTrain, BadDataAndWrongTopologyChangeNothing) {
  traintest::writeBytes(file("keep.bin"), "the previous network");
  traintest::writeBytes(file("empty.bin"), "");
  traintest::writeBytes(file("garbage.bin"), std::string(4000, '\x5a'));
  const std::string data = traintest::fileBytes(file("data.bin"));
  traintest::writeBytes(file("cut.bin"), data.substr(0, sizeof(DataHeader) + sizeof(ChunkHeader) + 100));
  traintest::writeBytes(file("headerless.bin"), data.substr(0, 30));
  Network small;
  initNetwork(small, Topology{896, 42, 16, 4, 2}, 1);
  std::string why;
  ASSERT_EQ(writeNetworkFile(file("other.bin"), small, why), 0) << why;

  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"-data", "missing.bin"}, "missing.bin cannot be opened"},
      {{"-data", "empty.bin"}, "empty.bin is empty"},
      {{"-data", "garbage.bin"}, "garbage.bin is not a Vesk training data file"},
      {{"-data", "headerless.bin"}, "headerless.bin is not a Vesk training data file"},
      {{"-data", "cut.bin"}, "cut.bin holds no whole chunk"},
      {{"-data", "data.bin", "-data", "empty.bin"}, "empty.bin is empty"},
      {{"-data", "data.bin", "-resume", "other.bin"}, "16 x 4 hidden"},
      {{"-data", "data.bin", "-resume", "garbage.bin"}, "cannot resume"},
      {{"-data", "data.bin", "-inputs", "900"}, "896 or 1792"},
      {{"-data", "data.bin", "-lr", "fast"}, "bad value for -lr"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> extra = c.args;
    extra.insert(extra.end(), {"-out", "keep.bin"});
    std::string out;
    EXPECT_NE(traintest::runTool(train(extra), dir().path(), out), 0) << c.message;
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(traintest::fileBytes(file("keep.bin")), "the previous network") << c.message;
    EXPECT_FALSE(std::filesystem::exists(file("keep.bin.ckpt"))) << c.message;
    EXPECT_FALSE(std::filesystem::exists(file("keep.bin.csv"))) << c.message;
  }
}

}  // namespace
