// Process-wide search state.
#include <cmath>

#include "search/search.h"

namespace search {

SearchControl control;
std::atomic<uint8_t> search_state{kIdle};
std::atomic<uint8_t> stop_requested{0};
std::atomic<uint8_t> quit_requested{0};
SearchLimits limits;
double noise = 0;
int eval_mode = 1;
double calibration_nps = 0;
float max_elo = 0;
int threadCount = 1;
std::mutex infoLock;
std::mutex statsLock;
SearchThread* game = nullptr;
std::array<std::atomic<SearchThread*>, kMaxThreads> threads{};
EngineOptions live_options;
EngineOptions saved_options;

void initSearchTables() {
  historyWeight[0] = 0;
  for (int d = 1; d < kStackSize; ++d) historyWeight[d] = static_cast<int32_t>(std::lround(16.0 * std::pow(d, 0.65)));
}

}  // namespace search
