// Splitting work over threads, shared by the trainer and the tuner.
#pragma once

#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

namespace train {

// The thread count asked for, or one per core when 0.
inline int threadsFor(int asked) {
  return asked > 0 ? asked : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

// Runs work(thread) on n threads, the calling one among them.
template <typename Work>
void onThreads(int n, Work&& work) {
  std::vector<std::thread> helpers;
  for (int t = 1; t < n; ++t) helpers.emplace_back([&work, t] { work(t); });
  work(0);
  for (std::thread& h : helpers) h.join();
}

// The slice [begin, end) of count items for thread t of n.
inline size_t sliceStart(size_t count, int t, int n) { return count * static_cast<size_t>(t) / static_cast<size_t>(n); }

}  // namespace train
