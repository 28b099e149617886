// Time management: the search start and the stop decision.
#include <algorithm>
#include <cmath>

#include "board/attacks.h"
#include "platform/platform.h"
#include "platform/output.h"
#include "search/search.h"

namespace search {

using namespace board;

void resetClock() {
  control.clock_start = platform::nowSeconds();
  control.elapsed = 0.0f;
}

float updateElapsed() {
  const float e = static_cast<float>(platform::nowSeconds() - control.clock_start + 0.0001);
  control.elapsed = e;
  return e;
}

namespace {

// Below this strength the engine plays a little faster.
constexpr int kFullTimeElo = 2400;

// Below this many overheads on the clock, a move may cost no more than the
// increment minus the overhead, so the clock cannot run down further.
constexpr float kLowClockOverheads = 5;

// The latest moment a clock-game move may end: never past the clock less
// the overhead, and on a nearly empty clock within what the increment gives back.
float moveDeadline(float clock, float increment) {
  const float overhead = control.move_overhead;
  float deadline = clock - overhead;
  if (clock < kLowClockOverheads * overhead) deadline = std::min(deadline, increment - overhead);
  return std::max(deadline, 0.0f);
}

}  // namespace

namespace {

// Resets what the previous search left in the control record.
void resetSearchFields(const Position& pos) {
  stop_requested = 0;
  control.best_score = pos.rule50 > kFiftyMovePlies ? 0 : -kMateValue;
  control.completed_depth = 0;
  control.iteration_depth = 0;
  control.best_change_depth = 0;
  control.one_reply = false;
  for (int i = 0; i < kStackSize; ++i) {
    control.score_history[i] = -kInfinity;
    control.nodes_by_depth[i] = 0;
    control.best_line[i] = 0;
  }
  control.best_line_showable = true;
  control.last_iteration_depth = 0;
  control.last_iteration_time = 0;
}

// The time the search means to use, from the clock of the side to move.
float targetTime(SearchLimits& l, int side, int gamePly) {
  const float T = l.time_left[side];
  if (l.level_moves == 1) {
    l.time_left[side] = l.level_time;
    return l.level_time;
  }
  if (l.level_moves == 0) {
    l.moves_to_go = gamePly > 19 ? 23 : 32 - gamePly / 2;
  } else if (!platform::uci_mode) {
    l.moves_to_go = l.level_moves - ((gamePly / 2) % l.level_moves);
  }
  l.moves_to_go = std::clamp(l.moves_to_go, 1, 1000);
  float target = T / (l.moves_to_go + 1);
  if (control.ponder_enabled && l.moves_to_go > 2) target *= 1.3f;
  if (control.settings.elo < kFullTimeElo) target *= 0.85f;
  if (l.increment > 0) target += T / (2 * l.increment + T) * l.increment;
  target = std::min(target, T * 0.65f - 5 * control.move_overhead);
  return std::max(target, 0.002f);
}

void announceTarget(const Position& pos, float clock, int gamePly) {
  if (control.settings.noise >= kNoOutput) return;
  if (!platform::uci_mode) {
    platform::outputFormat("fen %s", positionToFen(pos, false).c_str());
    platform::outputFormat("Ply= %d, cnt50= %d, Clock= %0.2fs, Target time= %0.2fs", gamePly, pos.rule50, clock,
                           control.target_time);
  } else if (platform::logEnabled()) {
    platform::log_line(("info string fen " + positionToFen(pos, false)).c_str());
    char line[128];
    snprintf(line, sizeof line, "info string ply= %d, trg_time= %0.3f sec", gamePly, control.target_time);
    platform::log_line(line);
  }
}

}  // namespace

void prepareSearch(const SearchLimits& limits, const SearchSettings& settings) {
  resetClock();
  control.limits = limits;
  control.settings = settings;
  game->history.ply = 1;
  game->threadBestMove = 0;
  const Position& pos = game->position;
  const int side = pos.sideToMove;
  const int gamePly = game->history.undoCount;
  control.root_side = side;
  control.nn_noise = settings.eval_noise && gamePly > 1;
  resetSearchFields(pos);
  control.ponder_enabled = settings.ponder;
  control.multi_pv = std::clamp(settings.multi_pv, 1, 255);
  ttNewSearch();
  control.move_overhead = settings.move_overhead_ms * 0.001f;
  const float clock = control.limits.time_left[side];
  control.target_time = targetTime(control.limits, side, gamePly);
  control.hard_deadline =
      control.limits.level_moves == 1 ? kNoDeadline : moveDeadline(clock, control.limits.increment);
  announceTarget(pos, clock, gamePly);
}

void startClockAtPonderhit() {
  const float deadline = control.hard_deadline.load();
  if (deadline < kNoDeadline) control.hard_deadline = deadline + updateElapsed();
}

void checkDeadline() {
  if (search_state.load(std::memory_order_relaxed) != kSearching || stop_requested.load(std::memory_order_relaxed) ||
      control.completed_depth.load(std::memory_order_relaxed) == 0)
    return;
  if (platform::nowSeconds() - control.clock_start >= control.hard_deadline.load(std::memory_order_relaxed))
    stop_requested = 1;
}

void checkTime() {
  const float elapsed = updateElapsed();
  // Tool searches (state 5) obey a time limit too, so "-t" alone ends them.
  const uint8_t state = search_state.load();
  // The deadline holds as soon as a first root move has a score (the answer
  // then comes with its line), with no iteration or time minimum.
  if (state == kSearching && threads[0] && control.completed_depth.load() > 0 &&
      elapsed >= control.hard_deadline.load())
    stop_requested = 1;
  if (!threads[0] || stop_requested.load() || (state != kSearching && state != kToolSearch) ||
      control.iteration_depth.load() < 2 || elapsed < 0.015f)
    return;
  const int c = control.root_side;
  const float remaining = std::max(0.0f, control.limits.time_left[c] - elapsed);
  float limit, cap;
  if (control.limits.level_moves == 1) {
    limit = control.target_time;
    cap = 0;
  } else {
    cap = std::min(control.move_overhead, 0.025f);
    const int g = std::abs(control.best_score) > 335 ? std::abs(control.best_score) / 16 : 20;
    float x = 0;
    const SearchThread& main = *threads[0];
    if (main.failState == kFailingLow) {
      x = 0.25f * remaining;
    } else if (main.failState == kFailingHigh) {
      x = 0.1f * remaining;
    } else {
      const int d = control.iteration_depth.load();
      if (d > 3) {
        if (control.best_score <= control.score_history[d - 1] - g) x += 0.03f * remaining;
        if (control.best_score <= control.score_history[d - 2] - g) x += 0.03f * remaining;
        if (d - control.best_change_depth <= 2) x += 0.02f * remaining;
        if (d - control.best_change_depth > 5) x -= 0.25f * control.target_time;
      }
    }
    if (x < 0.08f * remaining && threadCount > 1) {
      for (int i = 1; i < kMaxThreads && threads[i]; ++i) {
        const SearchThread& o = *threads[i];
        if (o.threadBestScore.load() > control.best_score + g + 5 &&
            o.threadCompletedDepth.load() >= control.completed_depth) {
          x = 0.08f * remaining;
          break;
        }
      }
    }
    limit = control.target_time + x - cap;
  }
  if ((control.iteration_depth.load() > 5 && control.one_reply) || remaining < 5 * cap || elapsed >= limit)
    stop_requested = 1;
}

}  // namespace search
