// The win/draw/loss fit: samples from the data files, a maximum-likelihood
// fit by damped Newton steps over (score, material) cells, calibration and
// its plot.
#include "wdlfit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "plot.h"
#include "records.h"

namespace train {

namespace {

using search::WdlModel;

constexpr double kProbabilityFloor = 1e-9;
constexpr int kParams = 8;
using Params = std::array<double, kParams>;
// The Newton steps: difference step for the Hessian (relative), damping
// added to its diagonal, and the gain in mean log-likelihood that ends the fit.
constexpr double kDifferenceStep = 1e-4, kDampingStart = 1e-6, kDampingGrow = 4, kDampingFloor = 1e-12;
constexpr int kMaxDampingTries = 30;
constexpr double kConverged = 1e-10;
// The start: a draw band of about a pawn, a slope of about half a pawn.
constexpr double kStartCentre = 100, kStartScale = 60;

// Positions of equal score and material share one cell.
struct Cell {
  int score, material;
  std::array<double, 3> count{};  // by MoverResult
};

std::vector<Cell> cellsOf(const std::vector<WdlSample>& samples, int maxScore) {
  const int materials = search::kWdlMaterialMax + 1;
  std::vector<Cell> grid(static_cast<size_t>(2 * maxScore + 1) * materials);
  for (const WdlSample& s : samples) {
    if (std::abs(s.score) > maxScore) continue;
    const int m = std::clamp<int>(s.material, search::kWdlMaterialMin, search::kWdlMaterialMax);
    Cell& c = grid[static_cast<size_t>(s.score + maxScore) * materials + m];
    c.score = s.score;
    c.material = m;
    c.count[s.result] += 1;
  }
  std::vector<Cell> used;
  for (const Cell& c : grid)
    if (c.count[0] + c.count[1] + c.count[2] > 0) used.push_back(c);
  return used;
}

WdlModel fromParams(const Params& p) {
  return {{p[0], p[1], p[2], p[3]}, {p[4], p[5], p[6], p[7]}};
}

// The mean log-likelihood's gradient over the cells.
void gradient(const std::vector<Cell>& cells, const Params& p, double total, Params& grad) {
  grad.fill(0);
  for (const Cell& c : cells) {
    const double x = c.material / search::kWdlMaterialScale;
    const double powers[4] = {x * x * x, x * x, x, 1};
    double a = 0, b = 0;
    for (int k = 0; k < 4; ++k) {
      a += p[k] * powers[k];
      b += p[4 + k] * powers[k];
    }
    b = std::max(b, 1.0);
    const double s = c.score;
    const double W = 1 / (1 + std::exp((a - s) / b)), L = 1 / (1 + std::exp((a + s) / b));
    const double D = std::max(1 - W - L, kProbabilityFloor);
    const double dWa = -W * (1 - W) / b, dWb = -W * (1 - W) * (s - a) / (b * b);
    const double dLa = -L * (1 - L) / b, dLb = -L * (1 - L) * (-s - a) / (b * b);
    const double gw = c.count[kMoverWon] / std::max(W, kProbabilityFloor);
    const double gl = c.count[kMoverLost] / std::max(L, kProbabilityFloor);
    const double gd = c.count[kMoverDrew] / D;
    const double da = (gw * dWa + gl * dLa - gd * (dWa + dLa)) / total;
    const double db = (gw * dWb + gl * dLb - gd * (dWb + dLb)) / total;
    for (int k = 0; k < 4; ++k) {
      grad[k] += da * powers[k];
      grad[4 + k] += db * powers[k];
    }
  }
}


// The mean log-likelihood of the cells' results.
double logLikelihood(const std::vector<Cell>& cells, const Params& p, double total) {
  const WdlModel model = fromParams(p);
  double sum = 0;
  for (const Cell& c : cells) {
    double W, L;
    search::wdlProbabilities(model, c.score, c.material, W, L);
    sum += c.count[kMoverWon] * std::log(std::max(W, kProbabilityFloor)) +
           c.count[kMoverLost] * std::log(std::max(L, kProbabilityFloor)) +
           c.count[kMoverDrew] * std::log(std::max(1 - W - L, kProbabilityFloor));
  }
  return sum / total;
}

// Solves (damping * scale - H) step = g by Gaussian elimination with
// partial pivoting; false when the system is singular.
bool solveDamped(const std::array<Params, kParams>& H, const Params& g, double damping, Params& step) {
  std::array<std::array<double, kParams + 1>, kParams> m;
  for (int i = 0; i < kParams; ++i) {
    for (int j = 0; j < kParams; ++j) m[i][j] = -H[i][j];
    m[i][i] += damping * std::max(std::abs(H[i][i]), 1.0);
    m[i][kParams] = g[i];
  }
  for (int col = 0; col < kParams; ++col) {
    int pivot = col;
    for (int r = col + 1; r < kParams; ++r)
      if (std::abs(m[r][col]) > std::abs(m[pivot][col])) pivot = r;
    if (std::abs(m[pivot][col]) < 1e-300) return false;
    std::swap(m[col], m[pivot]);
    for (int r = 0; r < kParams; ++r) {
      if (r == col) continue;
      const double f = m[r][col] / m[col][col];
      for (int j = col; j <= kParams; ++j) m[r][j] -= f * m[col][j];
    }
  }
  for (int i = 0; i < kParams; ++i) step[i] = m[i][kParams] / m[i][i];
  return true;
}

// Draws one kind of result: the predicted curve as a line, observed as squares.
void drawSeries(Raster& image, const std::vector<CalibrationRow>& rows, int range, int index, Rgb colour) {
  const int w = image.width, h = image.height;
  auto px = [&](double score) { return static_cast<int>((score + range) / (2.0 * range) * (w - 1)); };
  auto py = [&](double p) { return static_cast<int>((1 - p) * (h - 1)); };
  int lastX = -1, lastY = -1;
  for (const CalibrationRow& r : rows) {
    if (r.positions == 0) continue;
    const int x = px((r.lo + r.hi) / 2.0);
    const int y = py(r.predicted[index]);
    if (lastX >= 0) {
      drawLine(image, lastX, lastY, x, y, colour);
      drawLine(image, lastX, lastY + 1, x, y + 1, colour);
    }
    lastX = x;
    lastY = y;
    const int oy = py(r.observed[index]);
    fillRect(image, x - 2, oy - 2, x + 2, oy + 2, colour);
  }
}

}  // namespace

search::WdlModel fitWdlModel(const std::vector<WdlSample>& samples, int iterations, int maxScore) {
  const std::vector<Cell> cells = cellsOf(samples, maxScore);
  double total = 0;
  for (const Cell& c : cells) total += c.count[0] + c.count[1] + c.count[2];
  Params p = {0, 0, 0, kStartCentre, 0, 0, 0, kStartScale};
  if (total == 0) return fromParams(p);
  // Damped Newton steps: the Hessian from central differences of the exact
  // gradient; a step that lowers the likelihood is retried more damped.
  double damping = kDampingStart;
  double current = logLikelihood(cells, p, total);
  for (int it = 0; it < iterations; ++it) {
    Params g;
    gradient(cells, p, total, g);
    std::array<Params, kParams> H;
    for (int k = 0; k < kParams; ++k) {
      const double h = kDifferenceStep * std::max(1.0, std::abs(p[k]));
      Params up = p, down = p, gu, gd;
      up[k] += h;
      down[k] -= h;
      gradient(cells, up, total, gu);
      gradient(cells, down, total, gd);
      for (int j = 0; j < kParams; ++j) H[j][k] = (gu[j] - gd[j]) / (2 * h);
    }
    bool improved = false;
    for (int attempt = 0; attempt < kMaxDampingTries && !improved; ++attempt) {
      Params step;
      if (!solveDamped(H, g, damping, step)) {
        damping *= kDampingGrow;
        continue;
      }
      Params next = p;
      for (int k = 0; k < kParams; ++k) next[k] += step[k];
      const double value = logLikelihood(cells, next, total);
      if (value > current) {
        const double gain = value - current;
        p = next;
        current = value;
        damping = std::max(damping / kDampingGrow, kDampingFloor);
        improved = true;
        if (gain < kConverged) return fromParams(p);
      } else {
        damping *= kDampingGrow;
      }
    }
    if (!improved) break;
  }
  return fromParams(p);
}

double wdlLogLoss(const search::WdlModel& model, const std::vector<WdlSample>& samples) {
  double sum = 0;
  for (const WdlSample& s : samples) {
    double W, L;
    search::wdlProbabilities(model, s.score, s.material, W, L);
    const double p = s.result == kMoverWon ? W : s.result == kMoverLost ? L : 1 - W - L;
    sum -= std::log(std::max(p, kProbabilityFloor));
  }
  return samples.empty() ? 0 : sum / static_cast<double>(samples.size());
}

std::vector<CalibrationRow> calibrate(const search::WdlModel& model, const std::vector<WdlSample>& samples,
                                      int bucketWidth, int range) {
  std::vector<CalibrationRow> rows;
  for (int lo = -range; lo < range; lo += bucketWidth) {
    CalibrationRow r;
    r.lo = lo;
    r.hi = std::min(lo + bucketWidth, range);
    rows.push_back(r);
  }
  for (const WdlSample& s : samples) {
    if (s.score < -range || s.score >= range) continue;
    CalibrationRow& r = rows[static_cast<size_t>((s.score + range) / bucketWidth)];
    double W, L;
    search::wdlProbabilities(model, s.score, s.material, W, L);
    r.predicted[0] += W;
    r.predicted[1] += std::max(0.0, 1 - W - L);
    r.predicted[2] += L;
    r.observed[s.result == kMoverWon ? 0 : s.result == kMoverDrew ? 1 : 2] += 1;
    ++r.positions;
  }
  for (CalibrationRow& r : rows)
    for (int k = 0; k < 3 && r.positions; ++k) {
      r.predicted[k] /= static_cast<double>(r.positions);
      r.observed[k] /= static_cast<double>(r.positions);
    }
  return rows;
}

bool plotCalibration(const std::vector<CalibrationRow>& rows, int range, const std::string& path) {
  constexpr int kWidth = 720, kHeight = 360, kGridCp = 100;
  Raster image = makeRaster(kWidth, kHeight, {255, 255, 255});
  const Rgb grid = {220, 220, 220}, axis = {120, 120, 120};
  for (int cp = -range; cp <= range; cp += kGridCp) {
    const int x = static_cast<int>((cp + range) / (2.0 * range) * (kWidth - 1));
    drawLine(image, x, 0, x, kHeight - 1, cp == 0 ? axis : grid);
  }
  for (int q = 0; q <= 4; ++q) {
    const int y = static_cast<int>(q / 4.0 * (kHeight - 1));
    drawLine(image, 0, y, kWidth - 1, y, q == 0 || q == 4 ? axis : grid);
  }
  drawSeries(image, rows, range, 0, {0, 150, 0});
  drawSeries(image, rows, range, 1, {90, 90, 200});
  drawSeries(image, rows, range, 2, {210, 0, 0});
  return writePng(path, image);
}

int runWdlFit(const WdlFitOptions& o) {
  std::vector<WdlSample> fit, held;
  uint64_t games = 0, skipped = 0;
  for (const std::string& file : o.dataFiles) {
    DataScan scan;
    std::vector<PackedRecord> records;
    const int status = readDataFile(file, scan, &records);
    for (const std::string& note : scan.notes) printf("%s: %s\n", file.c_str(), note.c_str());
    if (status != kDataOk) {
      printf("error: %s: %s\n", file.c_str(), dataStatusText(status));
      return 1;
    }
    board::Position pos{};
    int lastPly = -1;
    for (const PackedRecord& r : records) {
      // Plies rise within a game: a record that does not rise starts the next one.
      if (r.ply <= lastPly || lastPly < 0) ++games;
      lastPly = r.ply;
      if ((r.flags & kFlagMateScore) || !unpackPosition(r, pos)) {
        ++skipped;
        continue;
      }
      const float mover = resultForMover(r);
      const WdlSample s{r.score, static_cast<uint8_t>(search::wdlMaterial(pos)),
                        static_cast<uint8_t>(mover > 0.75f ? kMoverWon : mover < 0.25f ? kMoverLost : kMoverDrew)};
      (o.holdoutEvery > 0 && games % o.holdoutEvery == 0 ? held : fit).push_back(s);
    }
  }
  printf("%llu games: %zu positions fitted, %zu held out, %llu left out (mate scores, unreadable)\n",
         static_cast<unsigned long long>(games), fit.size(), held.size(), static_cast<unsigned long long>(skipped));
  int seen[3] = {};
  for (const WdlSample& s : fit) seen[s.result] = 1;
  // With a kind of result missing the likelihood has no maximum.
  if (seen[kMoverWon] + seen[kMoverDrew] + seen[kMoverLost] < 3) {
    printf("error: the fit needs wins, draws and losses among the positions fitted\n");
    return 1;
  }
  const WdlModel model = fitWdlModel(fit, o.iterations, o.maxScore);
  printf("const WdlModel wdl_model = {{%.6g, %.6g, %.6g, %.6g}, {%.6g, %.6g, %.6g, %.6g}};\n", model.a[0], model.a[1],
         model.a[2], model.a[3], model.b[0], model.b[1], model.b[2], model.b[3]);
  printf("log loss per position: fitted %.4f, held out %.4f\n", wdlLogLoss(model, fit), wdlLogLoss(model, held));
  constexpr int kBucket = 50, kRange = 600;
  const std::vector<CalibrationRow> rows = calibrate(model, held.empty() ? fit : held, kBucket, kRange);
  printf("held-out calibration (per cent):\n%11s %9s  %5s %5s %5s  %5s %5s %5s\n", "score", "positions",
         "W pred", "D", "L", "W obs", "D", "L");
  for (const CalibrationRow& r : rows)
    printf("[%4d,%4d) %9llu  %5.1f %5.1f %5.1f  %5.1f %5.1f %5.1f\n", r.lo, r.hi,
           static_cast<unsigned long long>(r.positions), 100 * r.predicted[0], 100 * r.predicted[1],
           100 * r.predicted[2], 100 * r.observed[0], 100 * r.observed[1], 100 * r.observed[2]);
  if (!o.plotFile.empty()) {
    if (!plotCalibration(rows, kRange, o.plotFile)) {
      printf("error: cannot write %s\n", o.plotFile.c_str());
      return 1;
    }
    printf("plot written to %s (win green, draw blue, loss red; lines predicted, squares observed)\n",
           o.plotFile.c_str());
  }
  return 0;
}

}  // namespace train
