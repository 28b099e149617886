// The thin operating-system layer: clock, sleeps, and standard input.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

namespace platform {

// Seconds on a monotonic clock.
double now_seconds();
void sleep_ms(int ms);
// Call once at start: a vanished reader must not kill us with SIGPIPE.
void ignore_sigpipe();

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
bool pump_input(LineReader& reader, int waitMs = 0);
// Takes the oldest complete line; false when none is queued.
bool next_line(LineReader& reader, std::string& line);
// Blocks until a line arrives; false at end of input.
bool wait_line(LineReader& reader, std::string& line);

}  // namespace platform
