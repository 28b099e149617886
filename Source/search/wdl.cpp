// The win/draw/loss model behind "wdl" in the info lines.
#include "search/wdl.h"

#include <algorithm>
#include <cmath>

#include "board/attacks.h"
#include "search/control.h"
#include "search/limits.h"

namespace search {

namespace {

constexpr int kPerMille = 1000;
constexpr std::array<int, 6> kWdlPieceValue = {0, 1, 3, 3, 5, 9};

double cubic(const std::array<double, 4>& c, double x) { return ((c[0] * x + c[1]) * x + c[2]) * x + c[3]; }

}  // namespace

int wdlMaterial(const board::Position& pos) {
  int m = 0;
  for (int colour = 0; colour < 2; ++colour)
    for (int type = board::kPawn; type <= board::kQueen; ++type)
      m += kWdlPieceValue[type] * board::popCount(pos.pieces[colour][type]);
  return m;
}

void wdlProbabilities(const WdlModel& model, int score, int material, double& win, double& loss) {
  const double x = std::clamp(material, kWdlMaterialMin, kWdlMaterialMax) / kWdlMaterialScale;
  const double a = cubic(model.a, x);
  // A scale at or below zero would turn the curve over: keep it positive.
  const double b = std::max(cubic(model.b, x), 1.0);
  const double s = std::clamp(score, -kWdlScoreBound, kWdlScoreBound);
  win = 1.0 / (1.0 + std::exp((a - s) / b));
  loss = 1.0 / (1.0 + std::exp((a + s) / b));
}

Wdl wdlFromScore(const WdlModel& model, int score, int material) {
  double win, loss;
  wdlProbabilities(model, score, material, win, loss);
  Wdl w;
  w.win = static_cast<int>(std::lround(win * kPerMille));
  w.loss = static_cast<int>(std::lround(loss * kPerMille));
  // A curve whose centre crosses zero can give more than the whole between them.
  if (w.win + w.loss > kPerMille) {
    if (score >= 0) w.loss = kPerMille - w.win;
    else w.win = kPerMille - w.loss;
  }
  w.draw = kPerMille - w.win - w.loss;
  return w;
}

Wdl reportedWdl(int score, int rootTbResult, const board::Position& root) {
  Wdl w;
  w.draw = 0;
  if (score > kWinBand && rootTbResult < 0) w.win = kPerMille;
  else if (score < kLossBand && rootTbResult < 0) w.loss = kPerMille;
  else if (rootTbResult == kTbRootWin) w.win = kPerMille;
  else if (rootTbResult == kTbRootLoss) w.loss = kPerMille;
  // Draws, and wins or losses the fifty-move rule turns into draws.
  else if (rootTbResult >= 0) w.draw = kPerMille;
  else return wdlFromScore(wdl_model, score, wdlMaterial(root));
  return w;
}

// Fitted by "vesk-train wdl -data run1.bin" to 15,090 games of hand-crafted
// self-play (1.45 M positions; every fifth game held out), see README.
const WdlModel wdl_model = {{-407.163, 1155.58, -1090.05, 436.956}, {-128.058, 339.168, -232.369, 131.561}};

}  // namespace search
