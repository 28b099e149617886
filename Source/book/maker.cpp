// The book maker: counts how the moves of PGN games scored and writes the
// pairs that scored well as a Polyglot book.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "book/book.h"
#include "platform/output.h"

namespace book {

using namespace board;

namespace {

// ---------------------------------------------------------------- statistics

// Counters from the view of the side that played the move.
struct StatNode {
  uint64_t key;
  StatNode* next;
  uint32_t wins, losses, draws;
  uint16_t move;  // as the book stores it
};

// Nodes come from large blocks, released together at the end.
constexpr size_t kNodesPerBlock = 1 << 15;
struct NodeBlock {
  StatNode nodes[kNodesPerBlock];
  NodeBlock* previous;
};

struct Statistics {
  StatNode* buckets[kBucketCount] = {};
  NodeBlock* block = nullptr;
  size_t usedInBlock = kNodesPerBlock;
  size_t nodes = 0;
  size_t maxNodes = 0;  // 0: no bound but memory
  ~Statistics() {
    while (block) {
      NodeBlock* previous = block->previous;
      delete block;
      block = previous;
    }
  }
};

StatNode* newNode(Statistics& s) {
  if (s.maxNodes && s.nodes >= s.maxNodes) return nullptr;
  if (s.usedInBlock == kNodesPerBlock) {
    NodeBlock* b = new (std::nothrow) NodeBlock;
    if (!b) return nullptr;
    b->previous = s.block;
    s.block = b;
    s.usedInBlock = 0;
  }
  ++s.nodes;
  return &s.block->nodes[s.usedInBlock++];
}

enum Outcome { kWin, kLoss, kDraw };

// Each bucket's list stays sorted by key; a new move of a known key joins
// the end of that key's run. False when no node could be had.
bool countMove(Statistics& s, uint64_t key, uint16_t move, Outcome outcome) {
  StatNode** link = &s.buckets[key >> (64 - kBucketBits)];
  while (*link && ((*link)->key < key || ((*link)->key == key && (*link)->move != move))) link = &(*link)->next;
  StatNode* node = *link;
  if (!node || node->key != key) {
    node = newNode(s);
    if (!node) return false;
    *node = StatNode{key, *link, 0, 0, 0, move};
    *link = node;
  }
  uint32_t& counter = outcome == kWin ? node->wins : outcome == kLoss ? node->losses : node->draws;
  if (counter < UINT32_MAX) ++counter;
  return true;
}

// ---------------------------------------------------------------- reading games

enum GameResult { kUnknown, kWhiteWon, kBlackWon, kDrawn };

// A line is read for moves only while the game has recorded this many plies.
constexpr int kLinePlyLimit = 35;
// A game stops being recorded before its moves could fill the undo stack.
constexpr int kMaxGamePlies = kUndoCapacity - 2;
constexpr size_t kMaxToken = 127;
constexpr int kGamesPerDot = 1024;

struct GameReader {
  UndoHistory history{};
  Position pos{};
  GameResult result = kUnknown;
  int plies = 0;
  int variationDepth = 0;
  int commentDepth = 0;
  bool skip = false;  // the rest of the game is not read
  int games = 0;
  bool outOfMemory = false;
};

void startGame(GameReader& g, const char* line) {
  g.pos.owner = &g.history;
  g.history.undoCount = 0;
  g.history.ply = 1;
  g.history.lastMove = kNoMove;
  setFromFen(g.pos, kStartFen);
  g.plies = 0;
  g.variationDepth = g.commentDepth = 0;
  g.skip = false;
  g.result = strstr(line, "1-0") ? kWhiteWon : strstr(line, "0-1") ? kBlackWon : strstr(line, "1/2") ? kDrawn : kUnknown;
  if ((g.games + 1) % kGamesPerDot == 0) {
    fputc('.', stdout);
    fflush(stdout);
  }
  ++g.games;
}

Outcome outcomeFor(GameResult r, int side) {
  if (r == kDrawn) return kDraw;
  const bool whiteWon = r == kWhiteWon;
  return whiteWon == (side == kWhite) ? kWin : kLoss;
}

void readMove(GameReader& g, Statistics& s, const char* text) {
  if (g.plies >= kMaxGamePlies) {
    g.skip = true;
    return;
  }
  std::string san(text);
  // Annotation marks ("e4!", "Nf3?!") are no part of the move.
  while (!san.empty() && (san.back() == '!' || san.back() == '?')) san.pop_back();
  const uint64_t key = bookKey(g.pos);
  const Outcome o = outcomeFor(g.result, g.pos.sideToMove);
  g.skip = true;
  Move m;
  if (parseMove(g.pos, san, m) != kMoveRead) return;
  const uint16_t stored = moveToBookMove(g.pos, m);
  makeMove(g.pos, m);
  ++g.plies;
  g.skip = false;
  if (!countMove(s, key, stored, o)) g.outOfMemory = true;
}

// One token; false when the rest of the line is a comment.
bool readToken(GameReader& g, Statistics& s, const char* token) {
  if (g.skip || token[0] == '$') return true;
  if (g.commentDepth > 0) {
    // Inside braces only braces count.
    if (token[0] == '{') ++g.commentDepth;
    if (token[0] == '}') --g.commentDepth;
    return true;
  }
  switch (token[0]) {
    case ';':
      return false;
    case '{':
      ++g.commentDepth;
      return true;
    case '}':
      return true;
    case '(':
      ++g.variationDepth;
      return true;
    case ')':
      if (g.variationDepth > 0) --g.variationDepth;
      return true;
  }
  if (g.variationDepth > 0) return true;
  // A move number glued to the move ("12.e4", "12...e5") goes; castling
  // written with zeros ("0-0") stays.
  const char* p = token;
  while (*p && !isalpha(static_cast<unsigned char>(*p)) && !(p[0] == '0' && p[1] == '-')) ++p;
  if (*p) readMove(g, s, p);
  return true;
}

bool isSeparator(unsigned char c) { return c <= ' '; }
bool isOwnToken(char c) { return c == '{' || c == '}' || c == '(' || c == ')'; }

void readMoveLine(GameReader& g, Statistics& s, const char* line) {
  char token[kMaxToken + 1];
  size_t length = 0;
  auto flush = [&]() {
    token[length] = 0;
    const bool goOn = length == 0 || readToken(g, s, token);
    length = 0;
    return goOn;
  };
  for (const char* c = line;; ++c) {
    if (!*c || isSeparator(static_cast<unsigned char>(*c)) || isOwnToken(*c)) {
      if (!flush() || g.outOfMemory) return;
      if (!*c) return;
      if (isOwnToken(*c)) {
        token[0] = *c;
        length = 1;
        if (!flush() || g.outOfMemory) return;
      }
    } else if (length < kMaxToken) {
      token[length++] = *c;
    }
  }
}

void readLine(GameReader& g, Statistics& s, char* line, size_t length) {
  // The line break goes, and nothing else.
  while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = 0;
  if (strstr(line, "[Result")) {
    startGame(g, line);
    return;
  }
  const bool tagOrComment = line[0] == ';' || line[0] == '[';
  if ((g.commentDepth != 0 || !tagOrComment) && g.result != kUnknown && g.plies <= kLinePlyLimit)
    readMoveLine(g, s, line);
}

// false when memory ran out.
bool readGames(FILE* pgn, GameReader& g, Statistics& s) {
  char* line = nullptr;
  size_t capacity = 0;
  bool ok = true;
  for (;;) {
    errno = 0;
    const ssize_t n = getline(&line, &capacity, pgn);
    if (n < 0) {
      ok = errno != ENOMEM;
      break;
    }
    // A NUL inside the line ends what is read of it.
    readLine(g, s, line, strlen(line));
    if (g.outOfMemory) {
      ok = false;
      break;
    }
  }
  free(line);
  return ok;
}

// ---------------------------------------------------------------- writing

// Largest weight a book entry gets; higher scores are scaled down to it.
constexpr double kTopWeight = 60000;
constexpr uint32_t kMinWins = 3;
constexpr int64_t kMinScore = 10;
// Entries of one key kept at most (more than any position has legal moves).
constexpr int kMaxRun = 1024;

int64_t scoreOf(const StatNode& n) { return int64_t{n.draws} + 4 * int64_t{n.wins} - 2 * int64_t{n.losses}; }

// Writes the qualifying entries of one key's run; false on a write error.
bool writeRun(FILE* out, const StatNode* first, const StatNode* end, size_t& written) {
  BookEntry kept[kMaxRun];
  int64_t scores[kMaxRun];
  int count = 0;
  int64_t best = 0;
  for (const StatNode* n = first; n != end && count < kMaxRun; n = n->next) {
    if (n->wins < kMinWins || scoreOf(*n) < kMinScore) continue;
    scores[count] = scoreOf(*n);
    kept[count++] = BookEntry{n->key, n->move, 0, 0};
    best = std::max(best, scoreOf(*n));
  }
  if (!count) return true;
  const double scale = std::min(kTopWeight / static_cast<double>(best), 1.0);
  for (int i = 0; i < count; ++i) kept[i].weight = static_cast<uint16_t>(static_cast<double>(scores[i]) * scale);
  std::stable_sort(kept, kept + count, [](const BookEntry& a, const BookEntry& b) { return a.weight > b.weight; });
  for (int i = 0; i < count; ++i) {
    uint8_t bytes[kEntryBytes];
    encodeEntry(kept[i], bytes);
    if (fwrite(bytes, 1, kEntryBytes, out) != kEntryBytes) return false;
  }
  written += static_cast<size_t>(count);
  return true;
}

bool writeEntries(FILE* out, const Statistics& s, size_t& written) {
  for (const StatNode* head : s.buckets) {
    for (const StatNode* run = head; run;) {
      const StatNode* end = run;
      while (end && end->key == run->key) end = end->next;
      if (!writeRun(out, run, end, written)) return false;
      run = end;
    }
  }
  return true;
}

// The book goes to a temporary name first: a failed write leaves no partial book.
bool writeBook(const std::string& outPath, const Statistics& s) {
  const std::string temporary = outPath + ".partial";
  FILE* out = fopen(temporary.c_str(), "wb");
  if (!out) {
    platform::output_line("cannot create the book file " + temporary + ": " + strerror(errno));
    return false;
  }
  size_t written = 0;
  bool ok = writeEntries(out, s, written);
  ok = fflush(out) == 0 && ok && !ferror(out);
  ok = fclose(out) == 0 && ok;
  if (ok && rename(temporary.c_str(), outPath.c_str()) != 0) ok = false;
  if (!ok) {
    platform::output_line("cannot write the book file " + outPath + ": " + strerror(errno));
    remove(temporary.c_str());
  }
  return ok;
}

}  // namespace

int makeBook(const std::string& pgnPath, const std::string& outPath, size_t maxNodes) {
  FILE* pgn = fopen(pgnPath.c_str(), "r");
  if (!pgn) {
    platform::output_line("cannot open the PGN file " + pgnPath);
    return 1;
  }
  platform::output_line(" Creating file " + outPath + " from games in " + pgnPath);
  std::unique_ptr<Statistics> stats(new (std::nothrow) Statistics);
  std::unique_ptr<GameReader> reader(new (std::nothrow) GameReader);
  if (!stats || !reader) {
    fclose(pgn);
    platform::output_line("out of memory: no book written");
    return 1;
  }
  stats->maxNodes = maxNodes;
  const bool read = readGames(pgn, *reader, *stats);
  fclose(pgn);
  if (!read) {
    platform::outputFormat("\nout of memory after %zu nodes: no book written", stats->nodes);
    return 1;
  }
  fputs("\nwriting book file ...", stdout);
  fflush(stdout);
  const bool written = writeBook(outPath, *stats);
  printf("\nngames= %d, nmoves= %zu\n", reader->games, stats->nodes);
  fputs("done\n", stdout);
  fflush(stdout);
  return written ? 0 : 1;
}

}  // namespace book
