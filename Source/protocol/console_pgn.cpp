// Console game files: "save" appends the game to "tmp.pgn" as PGN, "load"
// replays a game of a PGN file chosen by number or by a text in its lines.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "board/attacks.h"
#include "platform/output.h"
#include "protocol/console.h"

namespace protocol {

using namespace board;

namespace {

constexpr const char* kGameFile = "tmp.pgn";
constexpr const char* kEventTag = "[Event ";
constexpr const char* kFenTag = "[FEN \"";
constexpr int kMovesPerLine = 11;
constexpr int kMaxGameNumber = 1000;
constexpr size_t kMoveWordLength = 32;
constexpr size_t kShownWordLength = 32;
constexpr size_t kMaxPgnLine = platform::kMaxLineLength;
// A loaded game stops before the history would drop its first plies.
constexpr int kMaxLoadedPlies = search::kGameHistoryPlies - 1;

void resetClocks() { go_limits.time_left[0] = go_limits.time_left[1] = go_limits.level_time; }

// A word of the file as it may be printed: no control bytes, bounded.
std::string printable(const std::string& word) {
  std::string out = word.substr(0, kShownWordLength);
  for (char& c : out)
    if (!isprint(static_cast<unsigned char>(c))) c = '?';
  return out;
}

// ---------------------------------------------------------------- save

std::string fenWithCounters(const Position& pos) {
  // The fullmove number is unknown here: the saved game counts from 1.
  return positionToFen(pos, false) + " " + std::to_string(pos.rule50) + " 1";
}

}  // namespace

void saveGame() {
  FILE* f = fopen(kGameFile, "a");
  if (!f) {
    platform::outputFormat("cannot open %s for writing", kGameFile);
    return;
  }
  Position& pos = search::gamePosition();
  UndoHistory& h = search::game->history;
  std::vector<Move> moves;
  for (int i = 0; i < h.undoCount; ++i) moves.push_back(h.undoStack[i].move);
  while (h.undoCount > 0) unmakeMove(pos);
  std::string text = "[Event \"Unknown\"]\n";
  // A game that did not start from the initial position carries its start.
  if (positionToFen(pos, false) != kStartFen || pos.rule50)
    text += "[SetUp \"1\"]\n[FEN \"" + fenWithCounters(pos) + "\"]\n";
  text += "\n";
  // Replaying the same moves rewrites the same history entries: the moves
  // after the current one stay for "]".
  for (size_t i = 0; i < moves.size(); ++i) {
    text += sanText(pos, moves[i]) + " ";
    if ((i + 1) % kMovesPerLine == 0) text += "\n";
    makeMove(pos, moves[i]);
  }
  const GameOutcome o = gameOutcome(pos);
  text += o.result ? o.result : "*";
  text += "\n\n";
  const bool written = fputs(text.c_str(), f) >= 0;
  if (fclose(f) != 0 || !written) platform::outputFormat("cannot write %s", kGameFile);
}

namespace {

// ---------------------------------------------------------------- load

// The number of the first game with a line containing tag (0: none).
int findTaggedGame(FILE* f, const std::string& tag) {
  std::string line;
  int game = 0;
  while (readTextLine(f, line, kMaxPgnLine)) {
    if (line.find(kEventTag) != std::string::npos) ++game;
    if (line.find(tag) != std::string::npos) return game > 0 ? game : 1;
  }
  return 0;
}

// Reads the movetext of one game: comments, variations, NAGs and results
// are skipped, every other word is a move.
struct GameReader {
  bool inComment = false;  // inside braces, also across lines
  int variationDepth = 0;  // inside parentheses
  bool stopped = false;
  std::string word;
};

// The move text of a word, or "" for a word that is no move (move numbers,
// results, NAGs).
std::string moveTextOf(const std::string& word) {
  size_t at = 0;
  // A move number ("12." or "12...") glued to the move.
  while (at < word.size() && isdigit(static_cast<unsigned char>(word[at]))) ++at;
  if (at > 0 && at < word.size() && word[at] == '.') {
    while (at < word.size() && word[at] == '.') ++at;
  } else {
    at = 0;
  }
  std::string text = word.substr(at);
  // Castling written with zeros has no letter in it.
  if (text.rfind("0-0", 0) == 0) return text.substr(0, kMoveWordLength);
  size_t letter = 0;
  while (letter < text.size() && !isalpha(static_cast<unsigned char>(text[letter]))) ++letter;
  text = text.substr(letter);
  if (text.empty() || text[0] == '-') return "";
  // Annotations ("!", "?!") follow the move.
  while (!text.empty() && (text.back() == '!' || text.back() == '?')) text.pop_back();
  return text.substr(0, kMoveWordLength);
}

void playWord(GameReader& r) {
  const std::string word = r.word;
  r.word.clear();
  if (word.empty() || r.stopped) return;
  const std::string text = moveTextOf(word);
  if (text.empty()) return;
  if (search::game->history.undoCount >= kMaxLoadedPlies) {
    platform::outputFormat("game too long: loading stopped after %d plies", kMaxLoadedPlies);
    r.stopped = true;
    return;
  }
  Move m;
  if (parseMove(search::gamePosition(), text, m) != kMoveRead) {
    platform::outputFormat("can't parse move '%s'", printable(text).c_str());
    r.stopped = true;
    return;
  }
  search::playGameMove(m);
}

void readMovetext(GameReader& r, const std::string& line) {
  for (size_t i = 0; i < line.size() && !r.stopped; ++i) {
    const char c = line[i];
    if (r.inComment) {
      if (c == '}') r.inComment = false;
      continue;
    }
    if (c == '{') {
      playWord(r);
      r.inComment = true;
    } else if (c == ';') {
      break;  // comment to the end of the line
    } else if (c == '(') {
      playWord(r);
      ++r.variationDepth;
    } else if (c == ')') {
      if (r.variationDepth > 0) --r.variationDepth;
    } else if (r.variationDepth > 0) {
      continue;
    } else if (isspace(static_cast<unsigned char>(c))) {
      playWord(r);
    } else {
      r.word += c;
    }
  }
  if (r.variationDepth == 0 && !r.inComment) playWord(r);
}

// A tag line of the chosen game: only the start position matters here.
void readTag(GameReader& r, const std::string& line) {
  const size_t at = line.find(kFenTag);
  if (at != 0) return;
  const size_t start = at + strlen(kFenTag);
  const size_t end = line.find('"', start);
  const std::string fen = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
  if (search::setGameFen(fen) == kFenRejected) r.stopped = true;
}

// Replays game `number` (the first "[Event " line starts game 1); false
// when the file has no such game.
bool replayGame(FILE* f, int number) {
  GameReader r;
  std::string line;
  int game = 0;
  bool cut;
  while (!r.stopped && readTextLine(f, line, kMaxPgnLine, &cut)) {
    if (line.find(kEventTag) != std::string::npos) {
      if (++game > number) break;
      continue;
    }
    if (game != number) continue;
    if (cut) platform::outputFormat("line longer than %zu bytes cut", kMaxPgnLine);
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[0] == '%') continue;
    if (!r.inComment && line[first] == '[') {
      readTag(r, line.substr(first));
      continue;
    }
    readMovetext(r, line);
  }
  return game >= number;
}

}  // namespace

void loadGame(const std::string& file, const std::string& tag) {
  platform::outputFormat("loading %.100s, tag %.100s\n", file.c_str(), tag.c_str());
  FILE* f = file.empty() ? nullptr : fopen(file.c_str(), "rb");
  if (!f) {
    platform::outputFormat("cannot open %.100s", file.c_str());
    resetClocks();
    return;
  }
  search::setStartPosition();
  int number = 1;
  if (!tag.empty() && isdigit(static_cast<unsigned char>(tag[0]))) {
    const long n = strtol(tag.c_str(), nullptr, 10);
    number = n >= 1 && n <= kMaxGameNumber ? static_cast<int>(n) : 1;
  } else if (!tag.empty()) {
    number = findTaggedGame(f, tag);
    rewind(f);
  }
  if (number == 0) platform::outputFormat("no game in %.100s has '%.100s'", file.c_str(), tag.c_str());
  else if (!replayGame(f, number)) platform::outputFormat("no game %d in %.100s", number, file.c_str());
  fclose(f);
  // The loaded game ends here: nothing after it for "]".
  UndoHistory& h = search::game->history;
  h.undoStack[h.undoCount].move = kNoMove;
  showBoard(false);
  resetClocks();
}

}  // namespace protocol
