// Shared helpers for the tests.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "platform/output.h"

namespace testutil {

// Sanitizer builds run several times slower; long loops scale down with them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Sends file descriptor 1 to a temporary file while alive.
class StdoutCapture {
 public:
  StdoutCapture() {
    fflush(stdout);
    file_ = tmpfile();
    saved_ = dup(1);
    if (file_) dup2(fileno(file_), 1);
  }
  ~StdoutCapture() {
    finish();
    if (file_) fclose(file_);
  }
  // Restores the real stdout and returns everything written meanwhile.
  std::string finish() {
    if (saved_ >= 0) {
      fflush(stdout);
      dup2(saved_, 1);
      close(saved_);
      saved_ = -1;
      if (file_) {
        rewind(file_);
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file_)) > 0) text_.append(buffer, n);
      }
    }
    return text_;
  }

 private:
  FILE* file_ = nullptr;
  int saved_ = -1;
  std::string text_;
};


// A position with its own history, set from FEN.
struct Board {
  std::unique_ptr<board::UndoHistory> history = std::make_unique<board::UndoHistory>();
  board::Position pos{};

  explicit Board(const std::string& fen = board::kStartFen) { set(fen); }
  int set(const std::string& fen) {
    pos.owner = history.get();
    return board::setFromFen(pos, fen);
  }
};

// Builds the tables and keys once per test binary.
inline void initTables() {
  static bool done = [] {
    board::initAttackTables();
    board::initZobristKeys();
    return true;
  }();
  (void)done;
}

}  // namespace testutil
