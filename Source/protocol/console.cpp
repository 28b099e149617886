// Console commands for a person at the keyboard ("-c"): one table from
// command name to handler, the move reader, the displays and settings, and
// what follows a console search (the summary, the engine's move, self-play).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "board/attacks.h"
#include "book/book.h"
#include "eval/nn.h"
#include "platform/output.h"
#include "protocol/console.h"

namespace protocol {

using namespace board;

ConsoleState console_state;

namespace {

constexpr int kConsoleWords = 10;
constexpr size_t kCommandLength = 127;
constexpr size_t kMoveTextLength = 127;
constexpr size_t kSettingNameLength = 31;
constexpr int kPerftMaxDepth = 20;
constexpr int kPvMaxPlies = 66;
constexpr int kGoMaxDepth = 65;
constexpr float kAnalysisSeconds = 99999;
constexpr int kMaxLevelMoves = 100;
constexpr double kMaxSeconds = 1e7;  // a clock this long never runs out anyway
constexpr int kMaxTableSetting = 255;
constexpr int kClearedEachSearch = 1;  // the table setting that clears before each search
constexpr int kMaxTraceSetting = 127;
constexpr int kSelectivityOff = 99;    // a depth setting no search reaches
constexpr int kMaxMarginDepth = 11;    // the margin tables cover depths 0..11
constexpr int kMaxSelectivity = 200;
constexpr const char* kPositionFile = "test.epd";
constexpr size_t kEpdPatternLength = 79;
constexpr size_t kEpdLineLength = 254;
constexpr size_t kShortestEpd = 8;
// The Elo a node rate stands for: Elo = 150 ln(rate) + 1050.
constexpr double kEloPerLogRate = 150, kEloAtRateOne = 1050;

using Words = std::array<std::string, kConsoleWords>;

Words splitLine(const std::string& line) {
  Words words;
  size_t at = 0;
  for (auto& w : words) {
    at = line.find_first_not_of(" \t", at);
    if (at == std::string::npos) break;
    size_t end = line.find_first_of(" \t", at);
    if (end == std::string::npos) end = line.size();
    w = line.substr(at, end - at);
    at = end;
  }
  return words;
}

int gamePly() { return search::game->history.undoCount; }

// A whole number text (no trailing junk), clamped to [lo, hi].
bool readNumber(const std::string& text, double lo, double hi, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = strtod(text.c_str(), &end);
  if (end == text.c_str() || *end || !std::isfinite(v)) return false;
  out = std::clamp(v, lo, hi);
  return true;
}

bool readInt(const std::string& text, int lo, int hi, int& out) {
  double v;
  if (!readNumber(text, lo, hi, v)) return false;
  out = static_cast<int>(v);
  return true;
}

// Seconds, or minutes and seconds as "m:ss".
bool readClockTime(const std::string& text, double& out) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return readNumber(text, 0, kMaxSeconds, out);
  double minutes, seconds;
  if (!readNumber(text.substr(0, colon), 0, kMaxSeconds, minutes) ||
      !readNumber(text.substr(colon + 1), 0, kMaxSeconds, seconds))
    return false;
  out = std::min(minutes * 60 + seconds, kMaxSeconds);
  return true;
}

void badValue(const std::string& name, const std::string& value) {
  platform::outputFormat("bad value '%.40s' for %.31s", value.c_str(), name.c_str());
}

void resetClocks() { go_limits.time_left[0] = go_limits.time_left[1] = go_limits.level_time; }

// ---------------------------------------------------------------- displays

// "last move" line and the evaluation of the game position (trace level 2
// adds every weight and the piece-square tables).
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

bool insufficientMaterial(const Position& pos) {
  for (int c = kWhite; c <= kBlack; ++c)
    if (pos.pieces[c][kPawn] | pos.pieces[c][kRook] | pos.pieces[c][kQueen]) return false;
  const Bitboard knights = pos.pieces[0][kKnight] | pos.pieces[1][kKnight];
  const Bitboard bishops = pos.pieces[0][kBishop] | pos.pieces[1][kBishop];
  if (popCount(knights | bishops) <= 1) return true;
  // Bishops all on squares of one colour cannot mate.
  return !knights && (!(bishops & eval::kLightSquares) || !(bishops & eval::kDarkSquares));
}

// ---------------------------------------------------------------- moves and history

void playTypedMove(const std::string& typed) {
  const std::string text = typed.substr(0, kMoveTextLength);
  Move m;
  const int read = parseMove(search::gamePosition(), text, m);
  if (read == kMoveAmbiguous) platform::output_line("ambiguous move");
  if (read != kMoveRead) {
    platform::outputFormat("unknown command or illegal move: %.100s", text.c_str());
    return;
  }
  platform::outputFormat("%d. move %s", gamePly() / 2 + 1, text.c_str());
  search::playGameMove(m);
  showBoard(true);
}

// The move the history holds after the current position, if it can still
// be played here (anything else ends the history).
Move nextHistoryMove() {
  const UndoHistory& h = search::game->history;
  if (h.undoCount >= search::kGameHistoryPlies) return kNoMove;
  const Move m = h.undoStack[h.undoCount].move;
  const Position& pos = search::gamePosition();
  if (m == kNoMove || !isPseudoLegal(pos, m) || !isLegal(pos, pos.sideToMove, m)) return kNoMove;
  return m;
}

// ---------------------------------------------------------------- commands

void cmdQuit(const Words&, const std::string&) {
  stopAndWait();
  search::quit_requested = 1;
}

void cmdStop(const Words&, const std::string&) {
  // Self-play ends with the search it interrupts.
  console_state.selfPlay = 0;
  search::stop_requested = 1;
}

void cmdNew(const Words&, const std::string&) {
  search::setStartPosition();
  showBoard(false);
  resetClocks();
}

void cmdFen(const Words&, const std::string& line) {
  const size_t at = line.find("fen");
  search::setGameFen(line.substr(at + 3));
  showBoard(false);
}

void startConsoleSearch(bool engineMoves) {
  console_state.engineMove = engineMoves;
  search::search_state = search::kGoReceived;
}

void cmdEngineMove(const Words&, const std::string&) { startConsoleSearch(true); }

void cmdAnalyse(const Words& w, const std::string&) {
  go_limits.depth_limit = search::kMaxDepth;
  go_limits.level_moves = 1;
  go_limits.level_time = kAnalysisSeconds;
  int depth;
  if (readInt(w[1], -1, search::kMaxDepth, depth) && depth >= 1 && depth <= kGoMaxDepth)
    go_limits.depth_limit = depth;
  if (search::ttEnabledSetting() == kClearedEachSearch) search::ttClear();
  startConsoleSearch(false);
}

void cmdBoard(const Words&, const std::string&) { showBoard(true); }

void cmdSelfPlay(const Words&, const std::string&) {
  const GameOutcome o = gameOutcome(search::gamePosition());
  if (o.result) {
    platform::outputFormat("game over: %s, %s", o.result, o.reason);
    return;
  }
  console_state.selfPlay = 1;
  live_options.Ponder = 0;
  startConsoleSearch(false);
}

// The first line of "test.epd" (not a comment, not indented) with the id.
void cmdGet(const Words& w, const std::string&) {
  FILE* f = fopen(kPositionFile, "rb");
  if (!f) {
    platform::outputFormat("cannot open %s", kPositionFile);
    return;
  }
  const std::string pattern = ("id \"" + w[1] + "\"").substr(0, kEpdPatternLength);
  std::string line, found;
  bool hit = false;
  while (!hit && readTextLine(f, line, kEpdLineLength))
    hit = !line.empty() && line[0] != ';' && line[0] != ' ' && line.find(pattern) != std::string::npos;
  fclose(f);
  if (!hit) {
    platform::output_line("");
    return;
  }
  platform::output_line(line);
  if (line.size() > kShortestEpd) search::setGameFen(line);
  showBoard(false);
  search::ttClear();
}

// The line of best moves the table holds from the game position.
void cmdPv(const Words&, const std::string&) {
  Position& pos = search::gamePosition();
  UndoHistory& h = search::game->history;
  // The walk writes over the history after the current move: "]" needs it back.
  const int from = h.undoCount;
  const int kept = std::min<int>(kPvMaxPlies + 1, kUndoCapacity - from);
  std::vector<UndoEntry> saved(h.undoStack.begin() + from, h.undoStack.begin() + from + kept);
  std::string text;
  int made = 0;
  while (made < kPvMaxPlies && from + made + 1 < kUndoCapacity) {
    search::HashProbe probe;
    if (made > 0 && isDraw(pos, made)) break;
    Move m = search::ttProbe(pos, probe) ? probe.move : kNoMove;
    // The root of a search leaves no entry: its answer starts the line.
    if (!m && made == 0 && pos.key == console_state.searchedKey) m = search::control.best_line[1];
    if (!m || !isPseudoLegal(pos, m) || !isLegal(pos, pos.sideToMove, m)) break;
    if (made) text += ' ';
    text += sanText(pos, m);
    makeMove(pos, m);
    ++made;
  }
  platform::output_line("PV: " + text + "\n");
  showBoard(false);
  for (int i = 0; i < made; ++i) unmakeMove(pos);
  std::copy(saved.begin(), saved.end(), h.undoStack.begin() + from);
}

void cmdTrace(const Words& w, const std::string&) {
  int plies = 0;
  if (!readInt(w[1], 0, kMaxTraceSetting, plies)) badValue("trace", w[1]);
  setTraceLimit(plies);
}

void cmdEvaluation(const Words&, const std::string&) { evaluationDisplay(1); }
void cmdEvaluationDetail(const Words&, const std::string&) { evaluationDisplay(2); }
void cmdSelectivity(const Words&, const std::string&) { search::printSelectivity(searchSettings()); }

void cmdUndo(const Words&, const std::string&) {
  // The taken-back move stays in the history for "]".
  if (gamePly() > 0) unmakeMove(search::gamePosition());
  showBoard(true);
}

void cmdRedo(const Words&, const std::string&) {
  const Move m = nextHistoryMove();
  if (!m) return;
  platform::outputFormat("%d%s move %s", gamePly() / 2 + 1, search::gamePosition().sideToMove == kWhite ? "." : "...",
                         moveToText(m).c_str());
  // A plain make keeps the later moves of the history for further "]".
  makeMove(search::gamePosition(), m);
  showBoard(true);
}

void cmdLoad(const Words& w, const std::string&) { loadGame(w[1], w[2]); }
void cmdSave(const Words&, const std::string&) { saveGame(); }

// Back to the position before white's N-th move (or the end of the history).
void cmdJump(const Words& w, const std::string&) {
  int number;
  if (!readInt(w[1], -kUndoCapacity, kUndoCapacity, number)) {
    badValue("jump", w[1]);
    return;
  }
  Position& pos = search::gamePosition();
  while (gamePly() > 0) unmakeMove(pos);
  const int target = 2 * number - 2;
  while (gamePly() < target) {
    const Move m = nextHistoryMove();
    if (!m) break;
    makeMove(pos, m);
  }
  showBoard(false);
}

void cmdEdit(const Words&, const std::string&) { editPosition(); }

// "book": what each book holds for the game position (OwnBook_File, then
// OwnBook2_File), each list followed by an empty line.
void cmdBook(const Words&, const std::string&) {
  const EngineOptions& o = live_options;
  const book::ProbeSettings settings{o.OwnBook_Variety, noise < search::kNoOutput};
  for (const std::string* path : {&o.OwnBook_File, &o.OwnBook2_File}) {
    book::probeBook(search::gamePosition(), *path, settings);
    platform::output_line("");
  }
}

void cmdPerft(const Words& w, const std::string&) {
  int depth = 0;
  readInt(w[1], 0, kPerftMaxDepth, depth);
  // Perft works on a copy so the game history is untouched.
  static UndoHistory history;
  Position pos = search::gamePosition();
  pos.owner = &history;
  history.undoCount = 0;
  history.ply = 1;
  const double start = platform::nowSeconds();
  const uint64_t nodes = perft(pos, depth);
  const double seconds = platform::nowSeconds() - start;
  platform::outputFormat("visited %0.0f nodes in %0.3f seconds, nps= %0.0f", static_cast<double>(nodes), seconds,
                         nodes / (seconds + 0.001));
}

// The exchange on every occupied square the opponent of its piece attacks.
void cmdSwap(const Words&, const std::string&) {
  const Position& pos = search::gamePosition();
  for (int sq = 0; sq < 64; ++sq) {
    if (!pos.board[sq]) continue;
    const int them = colourOf(pos.board[sq]) ^ 1;
    if (!isAttacked(pos, sq, them)) continue;
    platform::outputFormat("sq= %s, swap1= %4d\n", squareName(sq), staticExchange(pos, them, kNoSquare, sq));
  }
}

void cmdMove(const Words& w, const std::string&) { playTypedMove(w[1]); }

// ---------------------------------------------------------------- "set"

void setTable(const std::string& name, const std::string& v, const Words&) {
  int value;
  if (!readInt(v, 0, kMaxTableSetting, value)) return badValue(name, v);
  search::ttSetEnabledSetting(value);
}

void setNoise(const std::string& name, const std::string& v, const Words&) {
  if (!readNumber(v, 0, search::kNoOutput, noise)) badValue(name, v);
}

void setMultiPv(const std::string& name, const std::string& v, const Words&) {
  int value;
  if (!readInt(v, 1, 255, value)) return badValue(name, v);
  live_options.MultiPV = static_cast<int16_t>(value);
}

void setDebug(const std::string& name, const std::string& v, const Words&) {
  int value;
  if (!readInt(v, 0, 255, value)) return badValue(name, v);
  console_state.evalDisplay = static_cast<uint8_t>(value);
}

// "set level moves time increment": moves per control (0 = the whole game).
void setLevel(const std::string& name, const std::string&, const Words& w) {
  int moves;
  double seconds, increment = 0;
  if (!readInt(w[2], 0, kMaxLevelMoves, moves)) return badValue(name, w[2]);
  if (!readClockTime(w[3], seconds)) return badValue(name, w[3]);
  if (!w[4].empty() && !readNumber(w[4], 0, kMaxSeconds, increment)) return badValue(name, w[4]);
  go_limits.level_moves = moves;
  go_limits.level_time = static_cast<float>(seconds);
  go_limits.increment = static_cast<float>(increment);
  resetClocks();
  platform::outputFormat("set level to %d moves in %0.2f seconds, inc %0.2f", moves, seconds, increment);
}

void setDepth(const std::string& name, const std::string& v, const Words&) {
  int value;
  if (!readInt(v, 0, search::kMaxDepth, value)) return badValue(name, v);
  go_limits.depth_limit = value;
}

// The throttle's rate, held as the Elo it stands for (as "-nps" does).
void setTargetNps(const std::string& name, const std::string& v, const Words&) {
  double rate;
  if (!readNumber(v, -1, 1e12, rate) || rate <= 0) return badValue(name, v);
  live_options.UCI_LimitStrength = 1;
  live_options.UCI_Elo = static_cast<int16_t>(std::clamp(std::log(rate) * kEloPerLogRate + kEloAtRateOne, 1.0, 32767.0));
  platform::outputFormat("target_nps set to %.0f", rate);
}

void setPersonality(const std::string& name, const std::string& v, const Words&) {
  int value;
  if (!readInt(v, -32768, 32767, value)) return badValue(name, v);
  if (value == 1) {
    // The weights are as loaded: only the settings go back.
    const int16_t rebuild = live_options.rebuild;
    live_options = saved_options;
    live_options.rebuild = rebuild;
    platform::output_line("set default personality");
    return;
  }
  auto& p = live_options.personality;
  p[search::kNMP_depth] = kSelectivityOff;
  p[search::kSEP_depth] = 0;
  p[search::kLMP_depth] = 0;
  p[search::kLMR_depth] = kSelectivityOff;
  platform::output_line("selectivity set to OFF");
}

// Fields of the live option record, set by name.
struct FieldSetting {
  const char* name;
  int16_t* (*field)();
  int lo, hi;
};
constexpr FieldSetting kFieldSettings[] = {
    {"NMP_depth", [] { return &live_options.personality[search::kNMP_depth]; }, 0, kSelectivityOff},
    {"SEP_depth", [] { return &live_options.personality[search::kSEP_depth]; }, 0, kMaxMarginDepth},
    {"FP_depth", [] { return &live_options.personality[search::kFP_depth]; }, 0, kMaxMarginDepth},
    {"LMP_depth", [] { return &live_options.personality[search::kLMP_depth]; }, 0, kMaxMarginDepth},
    {"LMR_depth", [] { return &live_options.personality[search::kLMR_depth]; }, 0, kSelectivityOff},
    {"Selectivity", [] { return &live_options.Selectivity; }, 0, kMaxSelectivity},
    {"ponder", [] { return &live_options.Ponder; }, 0, 1},
};

struct Setting {
  const char* name;
  void (*apply)(const std::string& name, const std::string& value, const Words& words);
};
constexpr Setting kSettings[] = {
    {"hash", setTable},   {"noise", setNoise},           {"debug", setDebug},    {"level", setLevel},
    {"depth", setDepth},  {"target_nps", setTargetNps},  {"ss", setPersonality},
};

void cmdSet(const Words& w, const std::string&) {
  const std::string name = w[1].substr(0, kSettingNameLength);
  const std::string& value = w[2];
  for (const Setting& s : kSettings)
    if (name == s.name) return s.apply(name, value, w);
  if (name.find("multipv") != std::string::npos) return setMultiPv(name, value, w);
  for (const FieldSetting& f : kFieldSettings) {
    if (name != f.name) continue;
    int v;
    if (!readInt(value, f.lo, f.hi, v)) return badValue(name, value);
    *f.field() = static_cast<int16_t>(v);
    platform::outputFormat("%s set to %d", f.name, v);
    return;
  }
}

// ---------------------------------------------------------------- the table

struct ConsoleCommand {
  const char* name;
  void (*run)(const Words& words, const std::string& line);
  bool anyTime;  // accepted while a search runs
};

constexpr ConsoleCommand kCommands[] = {
    {"quit", cmdQuit, true},
    {".", cmdStop, true},
    {"new", cmdNew, false},
    {"fen", cmdFen, false},
    {"mv", cmdEngineMove, false},
    {"go", cmdAnalyse, false},
    {"an", cmdAnalyse, false},
    {"bd", cmdBoard, false},
    {"self", cmdSelfPlay, false},
    {"get", cmdGet, false},
    {"pv", cmdPv, false},
    {"trace", cmdTrace, false},
    {"ev", cmdEvaluation, false},
    {"sp", cmdEvaluationDetail, false},
    {"lmr", cmdSelectivity, false},
    {"undo", cmdUndo, false},
    {"[", cmdUndo, false},
    {"]", cmdRedo, false},
    {"load", cmdLoad, false},
    {"save", cmdSave, false},
    {"jump", cmdJump, false},
    {"edit", cmdEdit, false},
    {"book", cmdBook, false},
    {"perft", cmdPerft, false},
    {"swap", cmdSwap, false},
    {"set", cmdSet, false},
    {"move", cmdMove, false},
};

const ConsoleCommand* findCommand(const std::string& word) {
  for (const ConsoleCommand& c : kCommands)
    if (word == c.name) return &c;
  return nullptr;
}

}  // namespace

// ---------------------------------------------------------------- shared helpers

void showBoard(bool withEvaluation) {
  if (withEvaluation && console_state.evalDisplay) evaluationDisplay(1);
  platform::output_line(boardDiagram(search::gamePosition()));
}

std::string sanText(Position& pos, Move move) {
  SanTexts t;
  moveToSan(pos, move, t);
  std::string text = typeOf(pos.board[moveFrom(move)]) == kKing && t.san[0] == 'o' ? t.sanWithFile : t.san;
  if (!text.empty() && text.back() == '+') {
    makeMove(pos, move);
    MoveEntry list[kMaxMoves];
    if (generateLegal(pos, list) == 0) text.back() = '#';
    unmakeMove(pos);
  }
  return text;
}

GameOutcome gameOutcome(Position& pos) {
  MoveEntry list[kMaxMoves];
  if (generateLegal(pos, list) == 0) {
    if (inCheck(pos, pos.sideToMove)) return {pos.sideToMove == kWhite ? "0-1" : "1-0", "checkmate"};
    return {"1/2-1/2", "stalemate"};
  }
  if (pos.rule50 >= kFiftyMovePlies) return {"1/2-1/2", "fifty-move rule"};
  if (isDraw(pos, 0)) return {"1/2-1/2", "threefold repetition"};
  if (insufficientMaterial(pos)) return {"1/2-1/2", "insufficient material"};
  return {nullptr, nullptr};
}

bool readTextLine(FILE* file, std::string& line, size_t maxLength, bool* cut) {
  line.clear();
  if (cut) *cut = false;
  int c = fgetc(file);
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = fgetc(file)) {
    if (line.size() < maxLength) line += static_cast<char>(c);
    else if (cut) *cut = true;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

void run_console_command(const std::string& line) {
  Words words = splitLine(line);
  words[0] = words[0].substr(0, kCommandLength);
  const ConsoleCommand* command = findCommand(words[0]);
  // Only "quit" and "." act while a search runs.
  if (search::search_state.load() != search::kIdle && !(command && command->anyTime)) return;
  if (command) command->run(words, line);
  else playTypedMove(words[0]);
}

void printSearchSummary() {
  const auto& c = search::control;
  console_state.searchedKey = search::gamePosition().key;
  double fill = 0;
  if (search::ttEntryCount() >= 3000) fill = search::ttHashfull() * 0.1;
  const float elapsed = c.elapsed.load();
  platform::outputFormat("move= %s, time= %0.3f, score= %d, nodes= %0.0f, nps= %0.0fK ebf= %0.2f",
                         moveToText(c.best_line[1]).c_str(), elapsed, c.best_score.load(),
                         static_cast<double>(c.total_nodes), c.total_nodes / (elapsed + 0.001) / 1000,
                         search::effectiveBranchingFactor());
  platform::outputFormat("Hash fill= %.1f%%, Hash hits: main= %0.1f%%, pawn= %0.1f%%, eval= %0.1f%%, TB=%0.0fK", fill,
                         c.total_tt_hits * 100.0 / (c.total_tt_probes + 1),
                         c.total_pawn_hits * 100.0 / (c.total_pawn_probes + 1),
                         c.total_eval_hits * 100.0 / (c.total_evals + 1), c.total_tbhits / 1000.0);
  if (c.node_type_count[0] | c.node_type_count[1] | c.node_type_count[2] | c.node_type_count[3])
    platform::outputFormat("ncnt1= %d, ncnt2= %d, ncnt3= %d, ncnt4= %d", static_cast<int>(c.node_type_count[0]),
                           static_cast<int>(c.node_type_count[1]), static_cast<int>(c.node_type_count[2]),
                           static_cast<int>(c.node_type_count[3]));
  platform::output_line("");
}

void continueConsoleGame() {
  if (!console_state.selfPlay && !console_state.engineMove) return;
  console_state.engineMove = false;
  Position& pos = search::gamePosition();
  float& clock = go_limits.time_left[pos.sideToMove];
  clock = std::max(0.0f, clock + go_limits.increment - search::control.elapsed.load());
  const Move best = search::control.best_line[1];
  const bool playable = best && isPseudoLegal(pos, best) && isLegal(pos, pos.sideToMove, best);
  if (playable) {
    const int number = gamePly() / 2 + 1;
    const char* dots = pos.sideToMove == kWhite ? "." : "...";
    platform::outputFormat("%d%s move %s", number, dots, sanText(pos, best).c_str());
    search::playGameMove(best);
    showBoard(true);
  }
  const GameOutcome o = gameOutcome(pos);
  if (o.result) platform::outputFormat("game over: %s, %s", o.result, o.reason);
  if (o.result || !playable || search::quit_requested) {
    console_state.selfPlay = 0;
    return;
  }
  if (console_state.selfPlay) search::search_state = search::kGoReceived;
}

}  // namespace protocol
