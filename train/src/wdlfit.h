// Fitting the engine's win/draw/loss model to self-play data: game results
// against search score and material, with whole games held out to check
// the model's calibration.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "search/wdl.h"

namespace train {

struct WdlFitOptions {
  std::vector<std::string> dataFiles;
  int holdoutEvery = 5;   // every n-th game is held out (not fitted)
  int iterations = 100;   // Newton steps at most
  int maxScore = 2000;    // positions scored beyond are left out
  std::string plotFile = "wdl.png";
};

// One position: its score from the side to move, the material on the board
// and how the game ended for the side to move.
enum MoverResult : uint8_t { kMoverLost = 0, kMoverDrew = 1, kMoverWon = 2 };
struct WdlSample {
  int16_t score;
  uint8_t material;
  uint8_t result;
};

// Maximum likelihood over the samples, from a neutral start.
search::WdlModel fitWdlModel(const std::vector<WdlSample>& samples, int iterations, int maxScore);
// Mean negative log-likelihood of the results under the model.
double wdlLogLoss(const search::WdlModel& model, const std::vector<WdlSample>& samples);

// Predicted (mean over the bucket's positions) and observed frequencies of
// win, draw and loss for the scores in [lo, hi).
struct CalibrationRow {
  int lo, hi;
  uint64_t positions = 0;
  std::array<double, 3> predicted{}, observed{};  // win, draw, loss
};
std::vector<CalibrationRow> calibrate(const search::WdlModel& model, const std::vector<WdlSample>& samples,
                                      int bucketWidth, int range);
bool plotCalibration(const std::vector<CalibrationRow>& rows, int range, const std::string& path);

// "vesk-train wdl": reads the data, fits, prints the model's constants and
// the held-out calibration, writes the plot. Returns the exit status.
int runWdlFit(const WdlFitOptions& options);

}  // namespace train
