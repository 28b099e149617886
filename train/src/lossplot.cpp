#include "lossplot.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "plot.h"

namespace train {
namespace {

struct LossPoint {
  int epoch;
  double trainLoss, validLoss;
};

std::vector<LossPoint> readLossCsv(const std::string& path) {
  std::vector<LossPoint> points;
  FILE* f = fopen(path.c_str(), "r");
  if (!f) return points;
  char line[512];
  while (fgets(line, sizeof line, f)) {
    LossPoint p{};
    if (sscanf(line, "%d,%lf,%lf", &p.epoch, &p.trainLoss, &p.validLoss) == 3) points.push_back(p);
  }
  fclose(f);
  return points;
}

}  // namespace

bool plotLossCsv(const std::string& csvPath, const std::string& pngPath) {
  constexpr int kWidth = 640, kHeight = 360, kMargin = 10, kGridLines = 5;
  const std::vector<LossPoint> points = readLossCsv(csvPath);
  if (points.empty()) return false;
  // The y range spans both curves with a little room; zero at the bottom is
  // not forced, since the interesting part is the last few per cent.
  double lo = points[0].trainLoss, hi = lo;
  for (const LossPoint& p : points) {
    lo = std::min({lo, p.trainLoss, p.validLoss});
    hi = std::max({hi, p.trainLoss, p.validLoss});
  }
  const double span = std::max(hi - lo, 1e-9);
  lo -= span * 0.05;
  hi += span * 0.05;
  const int firstEpoch = points.front().epoch, lastEpoch = std::max(points.back().epoch, firstEpoch + 1);
  auto xOf = [&](int epoch) {
    return kMargin + static_cast<int>(static_cast<double>(epoch - firstEpoch) / (lastEpoch - firstEpoch) *
                                      (kWidth - 1 - 2 * kMargin));
  };
  auto yOf = [&](double loss) {
    return kMargin + static_cast<int>((hi - loss) / (hi - lo) * (kHeight - 1 - 2 * kMargin));
  };
  Raster image = makeRaster(kWidth, kHeight, {255, 255, 255});
  for (int i = 0; i <= kGridLines; ++i) {
    const int y = kMargin + i * (kHeight - 1 - 2 * kMargin) / kGridLines;
    drawLine(image, kMargin, y, kWidth - 1 - kMargin, y, {220, 220, 220});
  }
  const Rgb trainColour = {40, 80, 220}, validColour = {210, 0, 0};
  for (size_t i = 0; i < points.size(); ++i) {
    const int x = xOf(points[i].epoch);
    fillRect(image, x - 2, yOf(points[i].validLoss) - 2, x + 2, yOf(points[i].validLoss) + 2, validColour);
    if (i == 0) continue;
    const int px = xOf(points[i - 1].epoch);
    drawLine(image, px, yOf(points[i - 1].trainLoss), x, yOf(points[i].trainLoss), trainColour);
    drawLine(image, px, yOf(points[i - 1].validLoss), x, yOf(points[i].validLoss), validColour);
  }
  return writePng(pngPath, image);
}

}  // namespace train
