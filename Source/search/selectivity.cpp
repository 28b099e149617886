// Pruning settings from the options and Selectivity, their report, and the
// strength limit (Elo to nodes per second, and the throttle).
#include <algorithm>
#include <cmath>
#include <string>

#include "platform/platform.h"
#include "platform/output.h"
#include "board/attacks.h"
#include "search/search.h"

namespace search {

using namespace board;

Selectivity sel;
bool limit_active = false;
double calibration_nps = 0;
float max_elo = 0;

void applySelectivity(const SearchSettings& settings) {
  const auto& o = settings.personality;
  sel.BP_margin = 15;
  limit_active = calibration_nps - 20 > settings.target_nps;
  // The margin tables cover depths 0..11.
  sel.FP_depth = std::clamp<int>(o[kFP_depth], 0, 11);
  sel.SEP_depth = std::clamp<int>(o[kSEP_depth], 0, 11);
  sel.NMP_depth = o[kNMP_depth];
  sel.LMP_depth = std::clamp<int>(o[kLMP_depth], 0, 11);
  sel.LMR_depth = o[kLMR_depth];
  for (int d = 0; d < 12; ++d) {
    sel.FP_margin[d] = static_cast<int16_t>(o[kFP_step] * d);
    sel.SEP_margin[d] = static_cast<int16_t>(o[kSEP_step] * d);
    sel.LMP_count[d] = static_cast<int16_t>(o[kLMP_step] * d);
  }
  const int s = settings.selectivity, s2 = std::min(s, 200);
  if (s < 100) sel.BP_margin = (100 - s2) / 2 + 15;
  if (s == 0) {
    sel.LMR_depth = 100;
    sel.NMP_depth = 100;
    sel.LMP_depth = 0;
    sel.SEP_depth = 0;
    sel.FP_depth = 0;
    sel.BP_margin = 5000;
  }
  if (s != sel.builtFor) {
    sel.builtFor = s;
    for (int d = 0; d < 32; ++d)
      for (int m = 0; m < 32; ++m) {
        if (m == 0 || d <= 2) {
          sel.LMR_table[d][m] = 0;
          continue;
        }
        float v = static_cast<float>(std::log(d) * std::log(m) * 0.44 - 0.5);
        v = static_cast<float>(v * (s2 * 0.01));
        sel.LMR_table[d][m] = std::clamp(v, 0.0f, 3.0f);
      }
  }
}

void printSelectivity(const SearchSettings& settings) {
  applySelectivity(settings);
  std::string out;
  char buf[64];
  auto add = [&](const char* format, int v) {
    snprintf(buf, sizeof buf, format, v);
    out += buf;
  };
  add("BP_margin= %d\n", sel.BP_margin);
  add("FP_depth= %d, margins=", sel.FP_depth);
  for (int d = 1; d <= sel.FP_depth; ++d) add(" %d", sel.FP_margin[d]);
  add("\nSEP_depth= %d, margins=", sel.SEP_depth);
  for (int d = 1; d <= sel.SEP_depth; ++d) add(" %d", sel.SEP_margin[d]);
  add("\nNMP_depth= %d\n", sel.NMP_depth);
  add("LMP_depth= %d, count=", sel.LMP_depth);
  for (int d = 1; d <= sel.LMP_depth; ++d) add(" %d", sel.LMP_count[d]);
  add("\nLMR_depth= %d\n", sel.LMR_depth);
  out += "LMR table:\n";
  for (int pass = 0; pass < 2; ++pass) {
    for (int d = 1; d < 32; ++d) {
      add("%2d  ", d);
      for (int m = 0; m < 32; ++m) {
        // std::lround rounds halves away from zero.
        int v = pass == 0 ? static_cast<int>(std::lround(sel.LMR_table[d][m]))
                          : (d <= 2 || m == 0) ? 0 : static_cast<int>(std::lround(sel.LMR_table[d][m] + 1.2f));
        add("%d ", v);
      }
      out += '\n';
    }
    if (pass == 0) out += "\n\n";
  }
  out.pop_back();
  platform::output_line(out);
}

double npsForElo(int elo) {
  double lo = 10, hi = 10000000, x = lo;
  for (int i = 0; i < 200; ++i) {
    x = (lo + hi) / 2;
    const double f = std::log(x) * 150 + 1050;
    if (std::fabs(f - elo) < 0.5) break;
    if (f < elo) lo = x;
    else hi = x;
  }
  return x;
}

void calibrateSpeed() {
  Position& pos = game->position;
  const double start = platform::nowSeconds();
  double seconds = 0;
  uint64_t nodes = 0;
  MoveEntry list[kMaxMoves];
  while ((seconds = platform::nowSeconds() - start) < 0.3) {
    ++nodes;
    const bool checked = inCheck(pos, pos.sideToMove);
    volatile int score = eval::evaluatePosition(pos, game->evalState, 0, checked);
    (void)score;
    MoveEntry* end = generateAll(pos, list);
    int made = 0;
    for (MoveEntry* e = list; e != end && made < 10; ++e) {
      if (!isLegal(pos, pos.sideToMove, e->move)) continue;
      makeMove(pos, e->move);
      unmakeMove(pos);
      ++made;
    }
  }
  calibration_nps = nodes * 1.04 / (seconds + 0.001);
  max_elo = static_cast<float>(std::log(calibration_nps) * 150 + 1050);
  platform::outputFormat("info string et= %.3f, calibration nps= %0.0f", seconds, calibration_nps);
}

void throttle(SearchThread& t) {
  while (limit_active && control.iteration_depth.load(std::memory_order_relaxed) >= 2 &&
         !stop_requested.load(std::memory_order_relaxed)) {
    const float elapsed = control.elapsed.load(std::memory_order_relaxed);
    if (t.nodes.load(std::memory_order_relaxed) / (elapsed + 0.0001) <= control.settings.target_nps) break;
    platform::sleepMs(1);
    if (t.threadIndex == 0) checkTime();
    else updateElapsed();
  }
}

}  // namespace search
