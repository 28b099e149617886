// PGN scanner: reads engine games whose moves carry scores in comments and
// writes annotated games (variant 1) or EPD training lines (variants 2-4).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "board/attacks.h"
#include "platform/output.h"
#include "platform/platform.h"
#include "tools/tools.h"

namespace tools {

using namespace board;
using platform::outputFormat;

namespace {

constexpr int kGameRoom = 800;           // moves one game record holds
constexpr size_t kMoveTextRoom = 7;      // characters kept of a move word
constexpr size_t kCommentRoom = 4096;    // characters kept of one comment
constexpr int kResultWhiteWins = 0, kResultBlackWins = 1, kResultOther = 2;
constexpr const char* kSideFile = "tmpX.epd";
constexpr int kProgressEveryGames = 100;
constexpr int kLowestShownScore = -9999;  // variant 1 leaves the comment empty below
constexpr int kScoreClamp = 29998;        // read scores stay clear of the markers
constexpr double kProgressSeconds = 10;

// Variant 1: the blunder test's window and margins.
constexpr int kBlunderFirstMove = 12, kBlunderTailMoves = 10;
constexpr int kBlunderLow = -999, kBlunderHigh = 249;
constexpr int kBlunderNextMargin = 30, kBlunderThreeMargin = 30, kBlunderSevenMargin = 50;

// Variant 2: which moves make training lines.
constexpr int kLabelTailMoves = 5, kLabelBookPlies = 20, kLabelLastMove = 279, kLabelMaxRule50 = 25;
constexpr int kLabelScoreBound = 19999;
// Variant 3: the game ends after a score beyond this; moves past kBestMoveLast are not written.
constexpr int kBestMoveDecided = 500, kBestMoveLast = 200;

struct GameMove {
  char text[kMoveTextRoom + 1];
  int16_t score;
};

struct Scanner {
  int variant = 2;
  FILE* out = nullptr;
  FILE* side = nullptr;
  GameMove moves[kGameRoom];
  int moveCount = 0;
  bool skipGame = false;
  int result = kResultOther;
  int games = 0;
  long long positions = 0;
  int commentDepth = 0;
  int variationDepth = 0;
  std::string comment;
  bool commentInVariation = false;
};

bool isBlackMove(int i) { return i & 1; }

// Pawns to centipawns, truncated; the nudge keeps 0.29 from becoming 28.
int centipawns(double pawns) {
  const double cp = pawns * 100 + std::copysign(1e-6, pawns);
  return static_cast<int>(std::max<double>(-kScoreClamp, std::min<double>(cp, kScoreClamp)));
}

// "wv=0.43" or "wv=M16" (the TCEC form), in pawns from white's view.
int scoreOfWhiteView(const char* value) {
  const bool negative = *value == '-';
  const char* digits = value + (negative || *value == '+');
  if (*digits == 'M') return negative ? -kCommentMateScore : kCommentMateScore;
  char* end = nullptr;
  const double pawns = strtod(value, &end);
  if (end == value || !std::isfinite(pawns)) return kNoCommentScore;
  return centipawns(pawns);
}

// The score a comment gives the move it follows (see commentScore).
int scoreOfSlashWord(const std::string& text) {
  const size_t slash = text.find('/');
  if (slash == std::string::npos) return kNoCommentScore;
  size_t start = text.rfind(' ', slash);
  start = start == std::string::npos ? 0 : start;  // the space before the word counts
  const std::string word = text.substr(start, slash - start);
  if (word.size() < 3) return kNoCommentScore;
  if (word.find("-M") != std::string::npos) return -kCommentMateScore;
  if (word.find("+M") != std::string::npos) return kCommentMateScore;
  const double pawns = atof(word.c_str());
  if (!std::isfinite(pawns)) return kNoCommentScore;
  return centipawns(pawns);
}

void storeMove(Scanner& s, const std::string& word) {
  if (s.skipGame || s.moveCount >= kGameRoom) return;
  GameMove& m = s.moves[s.moveCount++];
  size_t n = 0;
  // Annotation glyphs are not part of the move.
  for (char c : word)
    if (c != '!' && c != '?' && n < kMoveTextRoom) m.text[n++] = c;
  m.text[n] = 0;
  m.score = static_cast<int16_t>(kUnscoredMove);
  s.comment.clear();
}

void closeComment(Scanner& s) {
  if (s.commentInVariation || s.skipGame || s.moveCount == 0) return;
  const int last = s.moveCount - 1;
  s.moves[last].score = static_cast<int16_t>(commentScore(s.comment, isBlackMove(last)));
}

bool endsWord(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || strchr("{}();", c); }

// Move text: comments (whose depth carries from line to line), variations
// (skipped whole), move words; numbers, dots, NAGs and results fall through.
void scanMoveText(Scanner& s, const std::string& line) {
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (s.commentDepth > 0) {
      if (c == '}' && --s.commentDepth == 0) closeComment(s);
      else if (c == '{') ++s.commentDepth;
      else if (s.comment.size() < kCommentRoom) s.comment += c;
      continue;
    }
    if (c == '{') {
      s.commentDepth = 1;
      s.commentInVariation = s.variationDepth > 0;
      s.comment.clear();
    } else if (c == '(') {
      ++s.variationDepth;
    } else if (c == ')') {
      if (s.variationDepth > 0) --s.variationDepth;
    } else if (c == ';') {
      return;  // a comment to the line's end
    } else if (isalpha(static_cast<unsigned char>(c))) {
      size_t end = i;
      while (end < line.size() && !endsWord(line[end])) ++end;
      if (s.variationDepth == 0) storeMove(s, line.substr(i, end - i));
      i = end - 1;
    }
  }
  if (s.commentDepth > 0 && s.comment.size() < kCommentRoom) s.comment += ' ';
}

// ---------------------------------------------------------------- writing a game

struct GameWalk {
  UndoHistory history;
  Position pos;
};

// Whether the stored word reads as a legal move here; m receives it.
bool readNextMove(GameWalk& w, const GameMove& gm, Move& m) {
  return parseMove(w.pos, gm.text, m) == kMoveRead;
}

bool hasScore(const GameMove& m) { return m.score > kNoCommentScore; }

bool sideToMoveInCheck(const Position& pos) { return inCheck(pos, pos.sideToMove); }

bool isBlunder(const Scanner& s, int i) {
  if (!(i >= kBlunderFirstMove && i < s.moveCount - kBlunderTailMoves)) return false;
  const int b = s.moves[i - 1].score;
  if (b < kBlunderLow || b > kBlunderHigh) return false;
  if (s.moves[i + 7].score < kBlunderLow) return false;
  const int slack = std::abs(b) / 10;
  return s.moves[i + 1].score > b + slack + kBlunderNextMargin && s.moves[i + 3].score > b + slack + kBlunderThreeMargin &&
         s.moves[i + 7].score > b + slack + kBlunderSevenMargin;
}

void annotateMove(Scanner& s, const Position& pos, int i, bool& previousBlunder) {
  char prefix[16];
  if (isBlackMove(i)) snprintf(prefix, sizeof prefix, "     ");
  else snprintf(prefix, sizeof prefix, "%3d. ", i / 2 + 1);
  const GameMove& gm = s.moves[i];
  std::string text;
  if (gm.score >= kLowestShownScore) {
    char score[32];
    snprintf(score, sizeof score, "%6.2f", (isBlackMove(i) ? -gm.score : gm.score) / 100.0);
    text = score;
  }
  if (previousBlunder) {
    const std::string epd = positionToFen(pos, true) + " bm " + gm.text + ";";
    text += " ! " + epd;
    fprintf(s.side, "%s\n", epd.c_str());
  }
  previousBlunder = isBlunder(s, i);
  if (previousBlunder) text += " ? " + positionToFen(pos, true) + " am " + gm.text + ";";
  fprintf(s.out, "%s %-6s  {%s}\n", prefix, gm.text, text.c_str());
  ++s.positions;
}

void writeLabelledLine(Scanner& s, const Position& pos, int i) {
  const int score = s.moves[i].score;
  if (i > s.moveCount - kLabelTailMoves) return;
  if (!(i >= kLabelBookPlies || score != 0) || i > kLabelLastMove || pos.rule50 > kLabelMaxRule50) return;
  if (score < -kLabelScoreBound || score > kLabelScoreBound || sideToMoveInCheck(pos)) return;
  const double whiteResult = s.result == kResultWhiteWins ? 1 : s.result == kResultBlackWins ? 0 : 0.5;
  const double moverResult = pos.sideToMove == kWhite ? whiteResult : 1 - whiteResult;
  fprintf(s.out, "%s ce %d; gr %0.1f;\n", positionToFen(pos, false).c_str(), score, moverResult);
  ++s.positions;
}

// False ends the game.
bool writeBestMoveLine(Scanner& s, const Position& pos, int i) {
  const GameMove& gm = s.moves[i];
  // A move without a read score ends the game unwritten (its marker is no score).
  if (i <= kBestMoveLast && !sideToMoveInCheck(pos) && hasScore(gm)) {
    fprintf(s.out, "%s bm %s; ce %d;\n", positionToFen(pos, true).c_str(), gm.text, gm.score);
    ++s.positions;
  }
  return std::abs(gm.score) <= kBestMoveDecided;
}

bool isRookEndingWithOnePawn(const Position& pos) {
  for (int c = 0; c < 2; ++c) {
    const auto& p = pos.pieces[c];
    if (popCount(p[kRook]) != 1 || p[kKnight] || p[kBishop] || p[kQueen]) return false;
  }
  return popCount(pos.pieces[0][kPawn] | pos.pieces[1][kPawn]) == 1;
}

void writeRookEndingLine(Scanner& s, const Position& pos, int i) {
  if (!isRookEndingWithOnePawn(pos) || !hasScore(s.moves[i])) return;
  double result = s.result == kResultWhiteWins ? 1 : s.result == kResultBlackWins ? 0 : 0.5;
  if (pos.sideToMove == kBlack) result = 1 - result;
  fprintf(s.out, "%s bm %s; ce %d; tune %0.5f;\n", positionToFen(pos, true).c_str(), s.moves[i].text,
          s.moves[i].score, result);
  ++s.positions;
}

// Walks the game from the start; it ends at the first move that does not read.
void processGame(Scanner& s) {
  static GameWalk w;
  w.pos.owner = &w.history;
  setFromFen(w.pos, kStartFen);
  bool previousBlunder = false;
  for (int i = 0; i < s.moveCount; ++i) {
    Move m;
    if (!readNextMove(w, s.moves[i], m)) break;
    bool goOn = true;
    switch (s.variant) {
      case 1: annotateMove(s, w.pos, i, previousBlunder); break;
      case 2: writeLabelledLine(s, w.pos, i); break;
      case 3: goOn = writeBestMoveLine(s, w.pos, i); break;
      default: writeRookEndingLine(s, w.pos, i); break;
    }
    if (!goOn) break;
    makeMove(w.pos, m);
    // The walk needs no history beyond the game's own moves.
    if (w.history.undoCount >= kUndoCapacity - 2) break;
  }
  if (s.variant == 1) fputc('\n', s.out);
  s.moveCount = 0;
}

// ---------------------------------------------------------------- tags

bool startsWith(const std::string& line, const char* head) { return line.compare(0, strlen(head), head) == 0; }
bool contains(const std::string& line, const char* part) { return line.find(part) != std::string::npos; }

int resultCode(const std::string& line) {
  if (contains(line, "\"1-0\"")) return kResultWhiteWins;
  if (contains(line, "\"0-1\"")) return kResultBlackWins;
  return kResultOther;
}

void readTagLine(Scanner& s, const std::string& line) {
  if (s.moveCount) processGame(s);
  // A comment or variation left open ends with its game.
  s.commentDepth = s.variationDepth = 0;
  if (s.variant == 1) {
    fprintf(s.out, "%s\n", line.c_str());
    if (contains(line, "Round ")) fprintf(s.out, "[Tag \"game_%d\"]\n", s.games);
  }
  if (startsWith(line, "[Event ")) s.skipGame = false;
  if (contains(line, "unterminated") || contains(line, "time forfeit") || contains(line, "abandoned"))
    s.skipGame = true;
  if (startsWith(line, "[Result ")) {
    s.result = resultCode(line);
    if (!s.skipGame && ++s.games % kProgressEveryGames == 0) outputFormat("game %d", s.games);
  }
  s.moveCount = 0;
}

bool isTagLine(const std::string& line) { return line.size() >= 2 && line[0] == '[' && line[1] != '%'; }

long fileSize(FILE* f) {
  if (fseek(f, 0, SEEK_END) != 0) return -1;
  const long size = ftell(f);
  rewind(f);
  return size;
}

}  // namespace

int commentScore(const std::string& text, bool blackMoved) {
  if (text.find("book") != std::string::npos) return 0;
  const size_t eval = text.find("eval ");
  if (eval != std::string::npos) {
    const std::string number = text.substr(eval + 5, text.find(',', eval + 5) - (eval + 5));
    char* end = nullptr;
    const long v = strtol(number.c_str(), &end, 10);
    if (end == number.c_str()) return kNoCommentScore;
    const int bounded = static_cast<int>(std::max<long>(-kScoreClamp, std::min<long>(v, kScoreClamp)));
    return blackMoved ? -bounded : bounded;
  }
  const size_t whiteView = text.find("wv=");
  if (whiteView != std::string::npos) {
    const int score = scoreOfWhiteView(text.c_str() + whiteView + 3);
    return blackMoved && score != kNoCommentScore ? -score : score;
  }
  return scoreOfSlashWord(text);
}

int scan_pgn(const std::string& pgnFile, const std::string& outputFile, int variant) {
  const std::string outName = outputFile.empty() ? "tmp.epd" : outputFile;
  static Scanner s;
  s = Scanner{};
  s.variant = variant < 1 || variant > 4 ? 2 : variant;
  FILE* in = fopen(pgnFile.c_str(), "rb");
  if (!in) {
    outputFormat("cannot open %s", pgnFile.c_str());
    return 1;
  }
  s.out = fopen(outName.c_str(), "w");
  s.side = s.out ? fopen(kSideFile, "w") : nullptr;
  if (!s.out || !s.side) {
    outputFormat("cannot open %s", s.out ? kSideFile : outName.c_str());
    if (s.out) fclose(s.out);
    fclose(in);
    return 1;
  }
  const long total = fileSize(in);
  const double start = platform::nowSeconds();
  double nextReport = start + kProgressSeconds;
  for (std::string line; readWholeLine(in, line);) {
    if (isTagLine(line)) readTagLine(s, line);
    else if (line[0] != '%') scanMoveText(s, line);
    if (const double now = platform::nowSeconds(); now >= nextReport) {
      nextReport = now + kProgressSeconds;
      const double share = total > 0 ? static_cast<double>(ftell(in)) / static_cast<double>(total) : 0;
      const double elapsed = now - start;
      outputFormat("%d games, %lld positions, %.0f positions/s, %.0f s left", s.games, s.positions,
                   static_cast<double>(s.positions) / elapsed, share > 0 ? elapsed * (1 - share) / share : 0.0);
    }
  }
  if (s.moveCount) processGame(s);
  fputc('\n', s.out);
  const bool written = !ferror(s.out) && !ferror(s.side);
  fclose(in);
  const bool closed = fclose(s.out) == 0 && fclose(s.side) == 0;
  outputFormat("games= %d, positions= %lld", s.games, s.positions);
  if (!written || !closed) {
    outputFormat("error writing %s", outName.c_str());
    return 1;
  }
  return 0;
}

}  // namespace tools
