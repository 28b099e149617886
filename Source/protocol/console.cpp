// Console commands for a person at the keyboard ("-c").
#include <algorithm>
#include <cstring>
#include <sstream>

#include "board/attacks.h"
#include "book/book.h"
#include "eval/nn.h"
#include "platform/output.h"
#include "protocol/protocol.h"

namespace protocol {

using namespace board;

namespace {

void displayBoard() { platform::output_line(boardDiagram(search::gamePosition())); }

int gamePly() { return search::game->history.undoCount; }

void playTypedMove(const std::string& text) {
  Move m;
  const int read = parseMove(search::gamePosition(), text.substr(0, 127), m);
  if (read == kMoveAmbiguous) platform::output_line("ambiguous move");
  if (read != kMoveRead) {
    platform::outputFormat("unknown command or illegal move: %.100s", text.c_str());
    return;
  }
  platform::outputFormat("%d. move %s", gamePly() / 2 + 1, text.substr(0, 127).c_str());
  search::playGameMove(m);
  displayBoard();
}

void runPerft(const std::string& arg) {
  int depth = std::clamp(atoi(arg.c_str()), 0, 20);
  // Perft works on a copy so the game history is untouched.
  static UndoHistory history;
  Position pos = search::gamePosition();
  pos.owner = &history;
  history.undoCount = 0;
  history.ply = 1;
  double start = platform::nowSeconds();
  uint64_t nodes = perft(pos, depth);
  double seconds = platform::nowSeconds() - start;
  platform::outputFormat("visited %0.0f nodes in %0.3f seconds, nps= %0.0f", static_cast<double>(nodes), seconds,
                nodes / (seconds + 0.001));
}

void redoMove() {
  UndoHistory& h = search::game->history;
  if (h.undoCount >= kUndoCapacity - 1) return;
  Move m = h.undoStack[h.undoCount].move;
  if (m == kNoMove) return;
  // The stored move must still be legal here; anything else ends the history.
  const Position& pos = search::gamePosition();
  if (!isPseudoLegal(pos, m) || !isLegal(pos, pos.sideToMove, m)) return;
  platform::outputFormat("%d%s move %s", gamePly() / 2 + 1, search::gamePosition().sideToMove == kWhite ? "." : "...",
                moveToText(m).c_str());
  // A plain make keeps the later moves of the history for further "]".
  makeMove(search::gamePosition(), m);
  displayBoard();
}

// "last move" line and the evaluation of the game position.
void evaluationDisplay(int traceLevel) {
  const UndoHistory& h = search::game->history;
  Position& pos = search::gamePosition();
  if (traceLevel < 2 && h.undoCount > 0) {
    Move last = h.undoStack[h.undoCount - 1].move;
    platform::outputFormat("last move was %d%s %s%s\n", (h.undoCount + 1) / 2, pos.sideToMove == kBlack ? "." : "...",
                  squareName(moveFrom(last)), squareName(moveTo(last)));
  }
  bool checked = inCheck(pos, pos.sideToMove);
  if (traceLevel < 2 && eval::eval_mode != 0) {
    platform::outputFormat("NN eval= %d\n", eval::nn_evaluate(pos, search::game->evalState, checked));
    return;
  }
  int score = eval::evaluate(pos, search::game->evalState, 0, checked, traceLevel);
  if (checked) platform::outputFormat("eval= %d (side to move is in check)", score);
}

// "book": what each book holds for the game position, each list followed by
// an empty line.
void showBookMoves() {
  const EngineOptions& o = live_options;
  const book::ProbeSettings settings{o.OwnBook_Variety, noise < search::kNoOutput};
  for (const std::string* path : {&o.OwnBook_File, &o.OwnBook2_File}) {
    book::probeBook(search::gamePosition(), *path, settings);
    platform::output_line("");
  }
}

}  // namespace

void run_console_command(const std::string& line) {
  std::istringstream in(line);
  std::string words[10];
  for (auto& w : words) in >> w;
  std::string cmd = words[0].substr(0, 127);

  if (cmd == "quit") {
    stopAndWait();
    search::quit_requested = 1;
    return;
  }
  if (cmd == ".") {
    search::stop_requested = 1;
    return;
  }
  if (search::search_state.load() != search::kIdle) return;

  if (cmd == "new") {
    search::setStartPosition();
    displayBoard();
    go_limits.time_left[0] = go_limits.time_left[1] = go_limits.level_time;
  } else if (cmd == "fen") {
    size_t at = line.find("fen");
    search::setGameFen(line.substr(at + 3));
    displayBoard();
  } else if (cmd == "bd") {
    displayBoard();
  } else if (cmd == "undo" || cmd == "[") {
    // The taken-back move stays in the history for "]".
    if (search::game->history.undoCount > 0) unmakeMove(search::gamePosition());
    displayBoard();
  } else if (cmd == "]") {
    redoMove();
  } else if (cmd == "ev") {
    evaluationDisplay(1);
  } else if (cmd == "sp") {
    evaluationDisplay(2);
  } else if (cmd == "mv") {
    search::search_state = search::kGoReceived;
  } else if (cmd == "go" || cmd == "an") {
    go_limits.depth_limit = search::kMaxDepth;
    go_limits.level_moves = 1;
    go_limits.level_time = 99999;
    const int depth = atoi(words[1].c_str());
    if (depth >= 1 && depth <= 65) go_limits.depth_limit = depth;
    search::ttClear();
    search::search_state = search::kGoReceived;
  } else if (cmd == "trace") {
    setTraceLimit(atoi(words[1].c_str()));
  } else if (cmd == "lmr") {
    search::printSelectivity(searchSettings());
  } else if (cmd == "book") {
    showBookMoves();
  } else if (cmd == "perft") {
    runPerft(words[1]);
  } else if (cmd == "move") {
    playTypedMove(words[1]);
  } else {
    playTypedMove(cmd);
  }
}

}  // namespace protocol
