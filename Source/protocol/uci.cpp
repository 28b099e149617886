// The UCI command reader and loop.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "board/attacks.h"
#include "book/book.h"
#include "platform/output.h"
#include "protocol/protocol.h"

namespace protocol {

using namespace board;

search::SearchLimits command_line_limits;
search::SearchLimits go_limits;
double noise = 0;
bool command_echo = true;
platform::LineReader input;

namespace {

// The loop follows a new search this long before it reads input again.
constexpr float kFollowSearchSeconds = 0.015f;
// A pondering or infinite search that ends by itself keeps its "bestmove"
// until "stop" or "ponderhit" arrives.
bool holdBestMove = false;

// The value word after keyword in the argument words, if present.
bool keywordValue(const std::vector<std::string>& words, const char* keyword, long long& value) {
  for (size_t i = 0; i + 1 < words.size(); ++i)
    if (words[i] == keyword) {
      char* end = nullptr;
      value = strtoll(words[i + 1].c_str(), &end, 10);
      return end != words[i + 1].c_str();
    }
  return false;
}

bool hasWord(const std::vector<std::string>& words, const char* word) {
  for (const auto& w : words)
    if (w == word) return true;
  return false;
}

// The words of a "go" line that start its other parts.
constexpr const char* kGoKeywords[] = {"wtime", "btime", "winc", "binc", "movestogo", "depth", "nodes",
                                       "mate", "movetime", "infinite", "ponder", "searchmoves"};

bool isGoKeyword(const std::string& word) {
  for (const char* k : kGoKeywords)
    if (word == k) return true;
  return false;
}

// "searchmoves m1 m2 ...": the legal moves listed, up to the next keyword;
// the others are named and ignored.
void readSearchMoves(const std::vector<std::string>& words, search::SearchLimits& l) {
  auto at = std::find(words.begin(), words.end(), "searchmoves");
  if (at == words.end()) return;
  for (++at; at != words.end() && !isGoKeyword(*at); ++at) {
    const Move m = search::findCoordinateMove(*at);
    const auto listed = l.search_moves.begin() + l.search_move_count;
    if (!m) {
      platform::outputFormat("info string searchmoves: %.20s is not a legal move here, ignored", at->c_str());
    } else if (std::find(l.search_moves.begin(), listed, m) == listed &&
               l.search_move_count < static_cast<int>(l.search_moves.size())) {
      l.search_moves[l.search_move_count++] = m;
    }
  }
}

void handleGo(const std::string& args) {
  stopAndWait();
  std::vector<std::string> words;
  std::istringstream in(args);
  for (std::string w; in >> w;) words.push_back(w);
  search::SearchLimits& l = go_limits;
  // Depth and node limits of an earlier "go" do not carry over.
  l.depth_limit = command_line_limits.depth_limit;
  l.node_limit = command_line_limits.node_limit;
  l.level_moves = 0;
  l.mate_moves = 0;
  l.analysis = false;
  l.search_move_count = 0;
  const int stm = search::gamePosition().sideToMove;
  long long v;
  if (keywordValue(words, "wtime", v)) l.time_left[0] = std::max(0.0f, static_cast<float>(v) / 1000.0f);
  if (keywordValue(words, "btime", v)) l.time_left[1] = std::max(0.0f, static_cast<float>(v) / 1000.0f);
  if (keywordValue(words, "winc", v) && stm == kWhite) l.increment = std::max(0.0f, static_cast<float>(v) / 1000.0f);
  if (keywordValue(words, "binc", v) && stm == kBlack) l.increment = std::max(0.0f, static_cast<float>(v) / 1000.0f);
  if (keywordValue(words, "movestogo", v)) {
    l.level_moves = 40;
    l.moves_to_go = static_cast<int>(std::clamp<long long>(v, 1, 1000));
    l.depth_limit = search::kMaxDepth;
    l.node_limit = 0;
  }
  if (keywordValue(words, "depth", v)) {
    l.level_moves = 1;
    l.level_time = search::kUnlimitedTime;
    l.depth_limit = static_cast<int>(std::clamp<long long>(v, 0, search::kMaxDepth));
  }
  if (keywordValue(words, "nodes", v)) {
    const long long n = std::clamp<long long>(v, 0, 1000000000000000LL);
    const long long r = rand() % 80;
    l.level_moves = 1;
    l.level_time = search::kUnlimitedTime;
    l.node_limit = static_cast<uint64_t>(std::max(0LL, n + (n * (40 - r)) / 1000));
  }
  if (keywordValue(words, "movetime", v)) {
    l.level_moves = 1;
    l.increment = 0;
    l.level_time = std::max(0.0f, static_cast<float>(v) / 1000.0f);
  }
  if (keywordValue(words, "mate", v) && v > 0) {
    l.mate_moves = static_cast<int>(std::min<long long>(v, search::kMaxDepth));
    // Alone, the mate search has no clock: it ends with the mate, the depth or "stop".
    if (!hasWord(words, "wtime") && !hasWord(words, "btime") && !hasWord(words, "movetime")) {
      l.level_moves = 1;
      l.level_time = search::kUnlimitedTime;
    }
  }
  readSearchMoves(words, l);
  const bool infinite = hasWord(words, "infinite");
  if (infinite) {
    l.analysis = true;
    l.level_time = search::kUnlimitedTime;
    l.increment = 0;
    l.node_limit = 0;
    l.depth_limit = search::kMaxDepth;
    l.level_moves = 1;
  }
  const bool ponder = hasWord(words, "ponder");
  holdBestMove = ponder || infinite;
  search::search_state = ponder ? search::kGoPonderReceived : search::kGoReceived;
}

void reportBestMove() {
  const auto& c = search::control;
  search::reportFinalInfo(1, c.completed_depth, c.best_score, c.best_line);
  if (platform::uci_mode) {
    const Move best = c.best_line[1], ponder = best ? c.best_line[2] : 0;
    std::string text = "bestmove " + (best ? moveToText(best) : std::string("0000"));
    if (ponder) text += " ponder " + moveToText(ponder);
    platform::output_line(text);
  } else {
    printSearchSummary();
  }
}

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
  stopAndWait();
  size_t movesAt = args.find("moves");
  std::string head = args.substr(0, movesAt);
  if (head.find("startpos") != std::string::npos) {
    search::setStartPosition();
  } else if (size_t f = head.find("fen"); f != std::string::npos) {
    if (search::setGameFen(head.substr(f + 3)) == kFenRejected) return;
  } else {
    return;
  }
  if (movesAt == std::string::npos) return;
  std::istringstream tokens(args.substr(movesAt + 5));
  std::string token;
  while (tokens >> token) {
    Move m = search::findCoordinateMove(token);
    if (!m) {
      platform::outputFormat("info string illegal move %.100s", token.c_str());
      break;
    }
    search::playGameMove(m);
  }
}

void handleUciNewGame() {
  stopAndWait();
  go_limits.level_moves = 0;
  go_limits.level_time = 60;
  go_limits.increment = 0;
  go_limits.time_left[0] = go_limits.time_left[1] = 60;
  UndoHistory& h = search::game->history;
  h.undoCount = 0;
  h.ply = 1;
  h.lastMove = kNoMove;
  h.undoStack[0].move = kNoMove;
  search::ttClear();
  search::ttResetAge();
}

}  // namespace

bool toolRunning() { return (search::search_state.load(std::memory_order_acquire) & ~search::kFinishedFlag) == search::kToolSearch; }

void stopAndWait() {
  // A tool's loop waits for its own search and resets the state itself.
  if (toolRunning()) {
    search::stop_requested = 1;
    return;
  }
  const uint8_t state = search::search_state.load(std::memory_order_acquire);
  // A search that ended by itself before this command was read still owes
  // its answer (one held for "stop" or "ponderhit" does not: it is interrupted).
  if ((state & search::kFinishedFlag) && !holdBestMove) {
    reportFinishedSearch();
    return;
  }
  holdBestMove = false;
  if (state == search::kIdle) return;
  search::stop_requested = 1;
  if (state != search::kGoReceived && state != search::kGoPonderReceived) search::waitForSearchEnd();
  search::stop_requested = 0;
  search::search_state = search::kIdle;
}

namespace {

// The books' move for the game position (first book below OwnBook_Depth,
// then the second below OwnBook2_Depth), or 0; a move that would draw at
// once is no book move.
Move bookMoveForGame() {
  const EngineOptions& o = live_options;
  if (!o.OwnBook) return kNoMove;
  const int ply = search::game->history.undoCount;
  const book::ProbeSettings settings{o.OwnBook_Variety, noise < search::kNoOutput};
  Position& pos = search::gamePosition();
  Move m = kNoMove;
  if (ply < o.OwnBook_Depth) m = book::probeBook(pos, o.OwnBook_File, settings);
  if (!m && ply < o.OwnBook2_Depth) m = book::probeBook(pos, o.OwnBook2_File, settings);
  if (!m) return kNoMove;
  UndoEntry& next = search::game->history.undoStack[search::game->history.undoCount];
  const Move kept = next.move;  // the history after this position stays as it was
  makeMove(pos, m);
  const bool draw = isDraw(pos, 0);
  unmakeMove(pos);
  next.move = kept;
  return draw ? kNoMove : m;
}

// Answers with a book move: the search is finished before it starts, and a
// pondering or infinite one still holds its answer for "ponderhit" or "stop".
bool answerFromBook(uint8_t state) {
  const Move m = bookMoveForGame();
  if (!m) return false;
  platform::outputFormat("%s book move is %s", platform::uci_mode ? "info string" : "", moveToText(m).c_str());
  auto& c = search::control;
  c.book_move = m;
  c.best_score = 0;
  c.best_line[1] = m;
  c.best_line[2] = kNoMove;
  search::stop_requested = 1;
  search::search_state = static_cast<uint8_t>((state == search::kGoReceived ? search::kSearching : search::kPondering) | search::kFinishedFlag);
  return true;
}

}  // namespace

void startRequestedSearch() {
  const uint8_t state = search::search_state.load();
  rebuildEvalParamsIfMarked();
  search::prepareSearch(go_limits, settingsForSearch());
  search::control.book_move = 0;
  if (answerFromBook(state)) return;
  if (search::gamePosition().rule50 > 100) {
    // Drawn by the fifty-move rule already: answer at once.
    search::control.best_line[1] = 0;
    search::search_state = static_cast<uint8_t>((state == search::kGoReceived ? search::kSearching : search::kPondering) | search::kFinishedFlag);
    return;
  }
  if (search::startSearchThread(state == search::kGoReceived ? search::kSearching : search::kPondering) != 0) std::exit(-1);
}

void reportFinishedSearch() {
  reportBestMove();
  search::stop_requested = 0;
  search::search_state = search::kIdle;
  if (!platform::uci_mode) continueConsoleGame();
}

void handleUciCommand(const std::string& command) {
  if (command.empty()) return;
  if (command_echo && platform::logEnabled()) platform::log_line(("CMD: " + command).c_str());
  std::string word, args;
  splitCommand(command, word, args);
  if (toolRunning() && word != "stop" && word != "quit" && word != "isready") {
    platform::outputFormat("info string %.100s ignored while the tool runs", word.c_str());
    return;
  }
  if (word == "uci") {
    platform::uci_mode = 1;
    platform::outputFormat("id name %s", platform::kEngineName);
    platform::outputFormat("id author %s", platform::kEngineAuthor);
    printOptionLines();
    platform::output_line("uciok");
  } else if (word == "isready") {
    platform::output_line("readyok");
  } else if (word == "setoption") {
    std::string name, value;
    splitSetoption(args, name, value);
    apply_option(name, value);
    saved_options = live_options;
  } else if (word == "debug") {
    command_echo = true;
  } else if (word == "ucinewgame") {
    handleUciNewGame();
  } else if (word == "position") {
    handlePosition(args);
  } else if (word == "go") {
    handleGo(args);
  } else if (word == "_show") {
    search::printSelectivity(searchSettings());
  } else if (word == "ponderhit") {
    if (search::search_state.load() == search::kPondering) search::startClockAtPonderhit();
    uint8_t expected = search::kPondering;
    search::search_state.compare_exchange_strong(expected, search::kSearching);
    holdBestMove = false;
  } else if (word == "stop") {
    holdBestMove = false;
    if (search::search_state.load() != search::kIdle) search::stop_requested = 1;
  } else if (word == "quit") {
    stopAndWait();
    search::quit_requested = 1;
  }
}

void executeLine(const std::string& raw) {
  std::string line = raw.substr(0, raw.find_first_of("\r\n"));
  if (platform::uci_mode == 1 || line == "uci") {
    handleUciCommand(line);
  } else if (!line.empty()) {
    run_console_command(line);
  }
}

namespace {

void readWaitingInput() {
  platform::pumpInput(input);
  if (input.droppedLines) {
    platform::outputFormat("%sinput line longer than %zu bytes ignored", platform::diagnosticPrefix(),
                  platform::kMaxLineLength);
    input.droppedLines = 0;
  }
}

bool executeNextLine() {
  std::string line;
  if (!platform::nextLine(input, line)) return false;
  executeLine(line);
  return true;
}

// A finished search whose answer is not held waits to be reported.
bool reportPending() {
  return (search::search_state.load(std::memory_order_acquire) & search::kFinishedFlag) && !holdBestMove;
}

// Input is read while idle, while a finished search holds its answer, and
// during a search past its first 15 ms unless it is stopping; a search that
// is stopping or has finished is reported before the next command runs. The
// 15 ms count once the search thread is under way, so a thread the machine
// is slow to schedule does not lose the commands behind its "go".
bool mayReadInput(uint8_t state, float elapsed) {
  if (state == search::kIdle) return true;
  if (state & search::kFinishedFlag) return holdBestMove;
  return elapsed > kFollowSearchSeconds && search::control.iteration_depth.load() > 0 &&
         !search::stop_requested.load();
}

}  // namespace

void poll_command() {
  readWaitingInput();
  executeNextLine();
}

void command_loop() {
  while (!search::quit_requested) {
    const float elapsed = search::updateElapsed();
    const uint8_t state = search::search_state.load(std::memory_order_acquire);
    if (mayReadInput(state, elapsed)) {
      readWaitingInput();
      // The search may have ended while the line was being read: its answer comes first.
      const bool executed = !reportPending() && executeNextLine();
      if (!executed && !reportPending()) platform::sleepMs(2);
    } else {
      // Following the search: give its threads the processor between checks.
      platform::yield();
    }
    if (search::quit_requested) break;
    search::checkTime();
    const uint8_t now = search::search_state.load();
    if (now == search::kGoReceived || now == search::kGoPonderReceived) startRequestedSearch();
    if ((search::search_state.load(std::memory_order_acquire) & search::kFinishedFlag) && !holdBestMove) reportFinishedSearch();
    if (input.endOfInput && input.lines.empty()) {
      // End of input acts as "quit" once the queued commands are done.
      stopAndWait();
      search::quit_requested = 1;
    }
  }
}

}  // namespace protocol
