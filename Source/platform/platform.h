// The thin operating-system layer: clock, sleeps, and standard input.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace platform {

constexpr const char* kEngineName = "Vesk 5.00";
constexpr const char* kEngineAuthor = "Tarvell";

// A counter written by one thread and read by others: plain loads and stores
// (no locked instruction), still free of data races.
struct RelaxedCounter {
  std::atomic<uint64_t> value{0};
  RelaxedCounter() = default;
  RelaxedCounter(uint64_t v) : value(v) {}
  RelaxedCounter(const RelaxedCounter& o) : value(o.get()) {}
  RelaxedCounter& operator=(const RelaxedCounter& o) {
    value.store(o.get(), std::memory_order_relaxed);
    return *this;
  }
  RelaxedCounter& operator=(uint64_t v) {
    value.store(v, std::memory_order_relaxed);
    return *this;
  }
  void operator++() { value.store(value.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed); }
  uint64_t get() const { return value.load(std::memory_order_relaxed); }
  operator uint64_t() const { return get(); }
};

// Seconds on a monotonic clock.
double nowSeconds();
void sleepMs(int ms);
// Gives the processor to another thread that is ready to run.
void yield();
// Call once at start: a vanished reader must not kill us with SIGPIPE.
void ignoreSigpipe();

// The directory of the running executable (empty when unknown).
std::string executableDirectory();
// Where a data file named on its own is found: a relative name that is not in
// the working directory but lies beside the executable gives that path; any
// other name comes back unchanged.
std::string findDataFile(const std::string& name);
bool fileExists(const std::string& path);

// Longest input line kept; longer lines are dropped whole with a note.
constexpr size_t kMaxLineLength = 1 << 20;

// Assembles lines from a file descriptor without blocking. A line feed or a
// NUL byte ends a line; end of input is remembered so callers can treat it
// as "quit" once the queued lines are used.
struct LineReader {
  int fd = 0;
  std::string partial;
  std::deque<std::string> lines;
  bool endOfInput = false;
  bool discarding = false;  // inside an over-long line
  size_t droppedLines = 0;  // over-long lines thrown away (for one message each)
};

// Reads whatever is waiting (never blocks when waitMs is 0); returns true
// when something was read or end of input was seen.
bool pumpInput(LineReader& reader, int waitMs = 0);
// Takes the oldest complete line; false when none is queued.
bool nextLine(LineReader& reader, std::string& line);
// Blocks until a line arrives; false at end of input.
bool waitLine(LineReader& reader, std::string& line);

}  // namespace platform
