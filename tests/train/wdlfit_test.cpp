// The win/draw/loss fit: a model recovered from results drawn from it, its
// calibration, the command on a real data file, and the PNG the plot is
// written to (checked by an independent inflater where python3 is present).
#include <cmath>
#include <fstream>
#include <random>

#include "plot.h"
#include "train_test_util.h"
#include "wdlfit.h"

using namespace train;

namespace {

const search::WdlModel kTruth = {{0, 0, -60, 200}, {0, 0, 20, 70}};

std::vector<WdlSample> drawnFrom(const search::WdlModel& model, int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<WdlSample> out;
  for (int i = 0; i < count; ++i) {
    const int score = static_cast<int>(rng() % 1601) - 800;
    const int material = 10 + static_cast<int>(rng() % 69);
    double W, L;
    search::wdlProbabilities(model, score, material, W, L);
    const double u = unit(rng);
    const uint8_t result = u < W ? kMoverWon : u < W + L ? kMoverLost : kMoverDrew;
    out.push_back({static_cast<int16_t>(score), static_cast<uint8_t>(material), result});
  }
  return out;
}

}  // namespace

TEST(WdlFit, RecoversTheModelTheResultsCameFrom) {
  const auto samples = drawnFrom(kTruth, 200000, 7);
  const search::WdlModel fitted = fitWdlModel(samples, 100, 2000);
  for (int material : {12, 40, 76})
    for (int score : {-400, -100, 0, 150, 500}) {
      double w0, l0, w1, l1;
      search::wdlProbabilities(kTruth, score, material, w0, l0);
      search::wdlProbabilities(fitted, score, material, w1, l1);
      EXPECT_NEAR(w1, w0, 0.02) << score << " with " << material;
      EXPECT_NEAR(l1, l0, 0.02) << score << " with " << material;
    }
  // The truth fits no better than the fit itself, held-out results alike.
  const auto held = drawnFrom(kTruth, 50000, 8);
  EXPECT_LE(wdlLogLoss(fitted, samples), wdlLogLoss(kTruth, samples) + 1e-9);
  EXPECT_NEAR(wdlLogLoss(fitted, held), wdlLogLoss(kTruth, held), 0.002);

  for (const CalibrationRow& r : calibrate(fitted, held, 100, 600)) {
    ASSERT_GT(r.positions, 2000u) << r.lo;
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(r.predicted[k], r.observed[k], 0.03) << r.lo << " " << k;
    EXPECT_NEAR(r.predicted[0] + r.predicted[1] + r.predicted[2], 1.0, 1e-9);
  }
}

// The command on a small data file: games are held out whole, the constants
// and the calibration are printed, the plot is written; bad input is refused.
TEST(WdlFit, CommandOnADataFile) {
  ASSERT_TRUE(traintest::setUpEngineOnce());
  testutil::TempDir dir;
  // The sample games with each kind of result, so that every one is fitted.
  std::vector<PlayedGame> games = traintest::sampleGames();
  const uint8_t results[4] = {kWhiteWins, kDraw, kBlackWins, kDraw};
  for (size_t g = 0; g < games.size(); ++g)
    for (PackedRecord& r : games[g].records) r.result = results[g % 4];
  ASSERT_TRUE(traintest::writeGames(dir.file("data.bin"), games, 2));
  for (PackedRecord& r : games[0].records) r.result = kDraw;
  ASSERT_TRUE(traintest::writeGames(dir.file("draws.bin"), {games[0]}, 1));
  auto run = [&](const std::vector<std::string>& args) {
    testutil::EngineProcess p(args, dir.path(), true, VESK_TRAIN_BINARY);
    const int status = p.wait(60);
    return std::make_pair(status, p.output());
  };
  auto [status, out] = run({"wdl", "-data", "data.bin", "-holdout", "3", "-plot", "fit.png"});
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("const WdlModel wdl_model = {{"), std::string::npos) << out;
  EXPECT_NE(out.find("held out"), std::string::npos) << out;
  EXPECT_NE(out.find("[   0,  50)"), std::string::npos) << out;
  std::ifstream png(dir.file("fit.png"), std::ios::binary);
  char signature[8] = {};
  png.read(signature, 8);
  EXPECT_EQ(std::string(signature + 1, 3), "PNG");
  EXPECT_EQ(run({"wdl"}).first, 2);
  const auto drawsOnly = run({"wdl", "-data", "draws.bin", "-holdout", "0"});
  EXPECT_EQ(drawsOnly.first, 1);
  EXPECT_NE(drawsOnly.second.find("needs wins, draws and losses"), std::string::npos) << drawsOnly.second;
  EXPECT_EQ(run({"wdl", "-data", "missing.bin"}).first, 1);
  EXPECT_EQ(run({"wdl", "-data", "data.bin", "-holdout", "x"}).first, 2);
}

// Every chunk's checksum holds and the pixels come back from the deflate
// stream as they were drawn.
TEST(WdlFit, PngDecodesToTheRaster) {
  Raster image = makeRaster(97, 41, {255, 255, 255});
  drawLine(image, 0, 40, 96, 0, {200, 0, 0});
  fillRect(image, 10, 10, 30, 20, {0, 90, 0});
  for (int x = 0; x < 97; x += 3) setPixel(image, x, 5, {static_cast<uint8_t>(x), 7, 9});
  setPixel(image, 500, 500, {1, 2, 3});  // outside: ignored
  const std::vector<uint8_t> png = encodePng(image);
  ASSERT_GT(png.size(), 33u);
  size_t at = 8;
  int chunks = 0;
  while (at + 12 <= png.size()) {
    const uint32_t n = (png[at] << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
    ASSERT_LE(at + 12 + n, png.size());
    const uint32_t stored = (png[at + 8 + n] << 24) | (png[at + 9 + n] << 16) | (png[at + 10 + n] << 8) | png[at + 11 + n];
    EXPECT_EQ(crc32(&png[at + 4], n + 4), stored) << "chunk " << chunks;
    at += 12 + n;
    ++chunks;
  }
  EXPECT_EQ(at, png.size());
  EXPECT_EQ(chunks, 3);
  if (system("python3 -c 'import zlib' 2>/dev/null") != 0) GTEST_SKIP() << "no python3 to inflate with";
  testutil::TempDir dir;
  ASSERT_TRUE(writePng(dir.file("t.png"), image));
  {
    std::ofstream raw(dir.file("pixels.raw"), std::ios::binary);
    raw.write(reinterpret_cast<const char*>(image.pixels.data()), static_cast<std::streamsize>(image.pixels.size()));
  }
  const std::string script =
      "import struct, zlib, sys\n"
      "d = open(sys.argv[1], 'rb').read(); i = 8; idat = b''\n"
      "while i < len(d):\n"
      "    n = struct.unpack('>I', d[i:i+4])[0]\n"
      "    if d[i+4:i+8] == b'IDAT': idat += d[i+8:i+8+n]\n"
      "    i += 12 + n\n"
      "raw = zlib.decompress(idat); w = 97 * 3\n"
      "rows = b''.join(raw[r*(w+1)+1:(r+1)*(w+1)] for r in range(41))\n"
      "sys.exit(0 if rows == open(sys.argv[2], 'rb').read() else 1)\n";
  {
    std::ofstream(dir.file("check.py")) << script;
  }
  EXPECT_EQ(system(("python3 " + dir.file("check.py") + " " + dir.file("t.png") + " " + dir.file("pixels.raw")).c_str()), 0);
}
