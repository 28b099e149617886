// The UCI command reader and loop.
#include <cstring>
#include <sstream>

#include "board/attacks.h"
#include "protocol/output.h"
#include "protocol/protocol.h"

namespace protocol {

using namespace board;

std::atomic<uint8_t> search_state{kIdle};
std::atomic<uint8_t> stop_requested{0};
std::atomic<uint8_t> quit_requested{0};
search::SearchLimits limits;
search::SearchLimits command_line_limits;
double noise = 0;
int eval_mode = 1;
bool command_echo = true;
platform::LineReader input;

namespace {

bool commandExecuted = false;

// First word (at most 127 characters) and the text after it.
void splitCommand(const std::string& line, std::string& word, std::string& args) {
  size_t a = line.find_first_not_of(' ');
  if (a == std::string::npos) {
    word.clear();
    args.clear();
    return;
  }
  size_t b = line.find_first_of(" \t", a);
  if (b == std::string::npos) b = line.size();
  word = line.substr(a, std::min<size_t>(b - a, 127));
  args = b + 1 < line.size() ? line.substr(b + 1) : std::string();
}

void handlePosition(const std::string& args) {
  stop_and_wait();
  size_t movesAt = args.find("moves");
  std::string head = args.substr(0, movesAt);
  if (head.find("startpos") != std::string::npos) {
    set_start_position();
  } else if (size_t f = head.find("fen"); f != std::string::npos) {
    if (set_game_fen(head.substr(f + 3)) == kFenRejected) return;
  } else {
    return;
  }
  if (movesAt == std::string::npos) return;
  std::istringstream tokens(args.substr(movesAt + 5));
  std::string token;
  while (tokens >> token) {
    Move m = find_coordinate_move(token);
    if (!m) {
      output_format("info string illegal move %.100s", token.c_str());
      break;
    }
    game_play_move(m);
  }
}

void handleUciNewGame() {
  stop_and_wait();
  limits.level_moves = 0;
  limits.level_time = 60;
  limits.increment = 0;
  limits.time_left[0] = limits.time_left[1] = 60;
  UndoHistory& h = game->history;
  h.undoCount = 0;
  h.ply = 1;
  h.lastMove = kNoMove;
  h.undoStack[0].move = kNoMove;
}

}  // namespace

void stop_and_wait() {
  if (search_state.load() == kIdle) return;
  stop_requested = 1;
  while (!(search_state.load(std::memory_order_acquire) & kFinishedFlag)) platform::sleep_ms(1);
  stop_requested = 0;
  search_state = kIdle;
}

void handle_uci_command(const std::string& command) {
  if (command.empty()) return;
  if (command_echo && log_enabled()) log_line(("CMD: " + command).c_str());
  std::string word, args;
  splitCommand(command, word, args);
  if (word == "uci") {
    uci_mode = 1;
    output_format("id name %s", kEngineName);
    output_format("id author %s", kEngineAuthor);
    print_option_lines();
    output_line("uciok");
  } else if (word == "isready") {
    output_line("readyok");
  } else if (word == "setoption") {
    std::string name, value;
    split_setoption(args, name, value);
    apply_option(name, value);
    saved_options = live_options;
  } else if (word == "debug") {
    command_echo = true;
  } else if (word == "ucinewgame") {
    handleUciNewGame();
  } else if (word == "position") {
    handlePosition(args);
  } else if (word == "go") {
    output_line("info string searching is not available in this build yet");
  } else if (word == "ponderhit") {
    uint8_t expected = kPondering;
    search_state.compare_exchange_strong(expected, kSearching);
  } else if (word == "stop") {
    if (search_state.load() != kIdle) stop_requested = 1;
  } else if (word == "quit") {
    stop_and_wait();
    quit_requested = 1;
  }
}

void execute_line(const std::string& raw) {
  std::string line = raw.substr(0, raw.find_first_of("\r\n"));
  if (uci_mode == 1 || line == "uci") {
    handle_uci_command(line);
  } else if (!line.empty()) {
    run_console_command(line);
  }
}

void poll_command() {
  platform::pump_input(input);
  if (input.droppedLines) {
    output_format("%sinput line longer than %zu bytes ignored", uci_mode ? "info string " : "",
                  platform::kMaxLineLength);
    input.droppedLines = 0;
  }
  std::string line;
  commandExecuted = platform::next_line(input, line);
  if (commandExecuted) execute_line(line);
}

void command_loop() {
  while (!quit_requested) {
    poll_command();
    if (quit_requested) break;
    if (input.endOfInput && input.lines.empty()) {
      // End of input acts as "quit" once the queued commands are done.
      stop_and_wait();
      quit_requested = 1;
      break;
    }
    if (!commandExecuted) platform::sleep_ms(2);
  }
}

}  // namespace protocol
