// The shared control record: the search state flags, the results thread 0
// publishes, the clock, and the limits and settings of the running search;
// with the time management and reporting entry points.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "board/board.h"
#include "search/limits.h"

namespace search {

using board::Move;
using board::Position;

enum SearchState : uint8_t { kIdle = 0, kGoReceived = 1, kGoPonderReceived = 2, kSearching = 3, kPondering = 4,
                             kToolSearch = 5, kFinishedFlag = 16 };

// Root tablebase result, as the probe gives it (-1: none).
enum TbRootResult : int { kTbRootNone = -1, kTbRootLoss = 0, kTbRootDraw = 2, kTbRootWin = 4 };

constexpr float kNoDeadline = 1e30f;

// Written by the command loop and thread 0, read by all.
struct SearchControl {
  // Written by thread 0 while the command loop's time check reads them.
  Move best_line[kStackSize];
  bool best_line_showable;  // false: a mate line that stops short of the mate
  std::atomic<int> best_score;
  std::atomic<int> iteration_depth;
  std::atomic<int> completed_depth;
  std::atomic<int> best_change_depth;
  std::atomic<bool> one_reply;
  std::atomic<int> score_history[kStackSize];
  float last_iteration_time;
  int last_iteration_depth;
  uint64_t nodes_by_depth[kStackSize];
  std::atomic<int> root_tb_result;
  float hashfull;
  uint64_t total_nodes;
  uint64_t total_tbhits;
  uint64_t total_evals, total_eval_hits, total_pawn_probes, total_pawn_hits, total_tt_probes, total_tt_hits;
  uint64_t node_type_count[4];
  int sel_depth;
  double clock_start;
  std::atomic<float> elapsed;
  float target_time;
  // The clock-game search stops here whatever its state (seconds of elapsed;
  // kNoDeadline for fixed-time, depth, node and analysis searches).
  std::atomic<float> hard_deadline{kNoDeadline};
  float move_overhead;
  bool ponder_enabled;
  int multi_pv;
  int root_side;
  bool nn_noise;  // the network adds its small jitter in this search
  Move book_move;
  // The running search's own copies, set by prepareSearch only.
  SearchLimits limits;
  SearchSettings settings;
};

extern SearchControl control;
extern std::atomic<uint8_t> search_state;
extern std::atomic<uint8_t> stop_requested;
extern std::atomic<uint8_t> quit_requested;

// The information lock is taken before the output lock; the statistics lock
// guards the per-depth node counts.
extern std::mutex infoLock;
extern std::mutex statsLock;

// Reads and runs waiting commands while a tool search runs.
using InputPoll = void (*)();

// ---------------------------------------------------------------- time management
void resetClock();
float updateElapsed();
// The search start: takes the limits and settings, resets the per-search
// fields and computes the time target.
void prepareSearch(const SearchLimits& limits, const SearchSettings& settings);
void checkTime();
// The pondered move was played: the clock the deadline guards starts now.
void startClockAtPonderhit();
// Thread 0 between time checks: the deadline holds even when the thread
// running the time check is not scheduled in time.
void checkDeadline();

// ---------------------------------------------------------------- reports
void reportFinalInfo(int lineNumber, int depth, int score, const Move* line);
double effectiveBranchingFactor();
void sumThreadCounters();
std::string lineText(const Move* line, int maxMoves);

}  // namespace search
