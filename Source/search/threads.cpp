// Search threads: the detached master runs thread 0 and starts, joins and
// releases the secondary threads.
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "search/search.h"

namespace search {

using namespace board;

int threadCount = 1;
std::array<std::atomic<SearchThread*>, kMaxThreads> threads{};

namespace {

constexpr uint64_t kNoNodeLimit = uint64_t{1} << 62;
// A target above this is analysis, where contempt does not apply.
constexpr float kAnalysisTime = 90000.0f;

void searchSecondary(int index) {
  if (prepareThread(index) != 0) return;
  while (control.iteration_depth.load() < 2 && !stop_requested.load()) platform::sleepMs(1);
  if (index < threadCount) rootSearch(*threads[index]);
}

void releaseRecord(int index) {
  delete threads[index];
  threads[index] = nullptr;
}

void masterThread() {
  if (prepareThread(0) != 0) std::exit(-1);
  std::vector<std::thread> helpers;
  for (int i = 1; i < threadCount; ++i) {
    try {
      helpers.emplace_back(searchSecondary, i);
    } catch (...) {
      std::exit(-1);
    }
  }
  rootSearch(*threads[0]);
  sumThreadCounters();
  for (size_t i = 0; i < helpers.size(); ++i) {
    helpers[i].join();
    releaseRecord(static_cast<int>(i) + 1);
  }
  if (threadCount > 8) releaseRecord(0);
  search_state.fetch_or(kFinishedFlag, std::memory_order_release);
}

}  // namespace

int prepareThread(int index) {
  if (!threads[index]) {
    threads[index] = new (std::nothrow) SearchThread();
    if (!threads[index]) return -1;
  }
  SearchThread& t = *threads[index];
  const SearchThread& g = *game;
  t.threadIndex = static_cast<uint8_t>(index);
  t.seed = index * 123;
  t.position = g.position;
  t.position.owner = &t.history;
  const int count = g.history.undoCount;
  std::copy(g.history.undoStack.begin(), g.history.undoStack.begin() + count, t.history.undoStack.begin());
  t.history.undoStack[count].move = 0;
  t.history.undoCount = static_cast<int16_t>(count);
  t.history.lastMove = g.history.lastMove;
  t.history.ply = 1;
  for (int p = 0; p < 2; ++p) {
    t.stack[p].listStart = t.stack[p].current = t.stack[p].listEnd = t.moveLists[p].data();
    t.moveLists[p][0].move = kEndOfList;
  }
  std::fill(std::begin(t.threadLine), std::end(t.threadLine), Move{0});
  t.threadLineShowable = true;
  t.nodeLimit = control.limits.node_limit ? control.limits.node_limit : kNoNodeLimit;
  t.nodes = 0;
  t.tbHits = 0;
  t.ttProbes = t.ttHits = 0;
  t.nodeTypeCount = {};
  t.evalState.counters = {};
  t.threadBestScore = 0;
  t.threadBestMove = 0;
  t.threadIterationDepth = 0;
  t.failState = 0;
  t.threadCompletedDepth = 0;
  t.selDepth = 0;
  // Contempt applies to timed games only (a target above 90000 s is analysis).
  t.evalState.contempt = control.target_time <= kAnalysisTime ? control.settings.contempt : 0;
  t.evalState.rootSide = t.position.sideToMove;
  return 0;
}

int startSearchThread(uint8_t state) {
  search_state = state;
  stop_requested = 0;
  try {
    std::thread(masterThread).detach();
  } catch (...) {
    return -1;
  }
  return 0;
}

void runMainThreadSearch() {
  if (prepareThread(0) != 0) std::exit(-1);
  rootSearch(*threads[0]);
  sumThreadCounters();
}

void releaseThreads() {
  for (int i = 0; i < kMaxThreads; ++i) releaseRecord(i);
}

void runToolSearch(const SearchLimits& limits, const SearchSettings& settings, InputPoll pollInput,
                   bool yieldBetweenChecks) {
  prepareSearch(limits, settings);
  if (startSearchThread(kToolSearch) != 0) std::exit(-1);
  // The tool loop owns the state until the search reports its end; commands
  // read meanwhile may only ask it to stop.
  while (!(search_state.load(std::memory_order_acquire) & kFinishedFlag)) {
    if (yieldBetweenChecks) platform::yield();
    else platform::sleepMs(1);
    checkTime();
    if (pollInput) pollInput();
  }
  search_state = kIdle;
  updateElapsed();
}

void waitForSearchEnd() {
  while (!(search_state.load(std::memory_order_acquire) & kFinishedFlag)) platform::sleepMs(1);
}

}  // namespace search
