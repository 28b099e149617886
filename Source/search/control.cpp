// The process-wide control record and flags of the search.
#include "search/control.h"

namespace search {

SearchControl control;
std::atomic<uint8_t> search_state{kIdle};
std::atomic<uint8_t> stop_requested{0};
std::atomic<uint8_t> quit_requested{0};
std::mutex infoLock;
std::mutex statsLock;

}  // namespace search
