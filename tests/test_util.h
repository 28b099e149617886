// Shared helpers for the tests.
#pragma once

#include <memory>
#include <string>

#include "board/attacks.h"
#include "platform/output.h"

namespace testutil {

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
