// A position with its own undo history, for the benchmark programs.
#pragma once

#include <memory>
#include <string>

#include "board/board.h"

namespace benchutil {

struct OwnedPosition {
  std::unique_ptr<board::UndoHistory> history = std::make_unique<board::UndoHistory>();
  board::Position pos{};

  // From a FEN (the initial position by default), with an empty history;
  // false when the FEN is refused.
  bool reset(const std::string& fen = board::kStartFen) {
    pos.owner = history.get();
    history->undoCount = 0;
    history->ply = 1;
    return board::setFromFen(pos, fen) == board::kFenOk;
  }
};

}  // namespace benchutil
