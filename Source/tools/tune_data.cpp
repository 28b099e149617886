// Tuning-data generator: searches each position of an EPD file with the
// hand-crafted evaluation and writes its score, filtered against the game
// result; variant 1 writes the quiet position at the end of the line.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "board/attacks.h"
#include "eval/eval.h"
#include "platform/output.h"
#include "platform/platform.h"
#include "tools/tools.h"

namespace tools {

using namespace board;
using platform::outputFormat;

namespace {

constexpr int kMissingCe = -9999;
constexpr double kScoreToLogit = 0.006;
constexpr int kNoTableDepth = 2;        // depth limits up to this search without the table
constexpr int kProgressEveryLines = 4096;
constexpr double kProgressSeconds = 10;
// Tablebase correction of the search score.
constexpr int kTbWinFloor = 9800, kTbWinRaisedUpTo = 9898, kTbLossLoweredFrom = -9899;

double winChance(int score) { return 1 / (1 + std::exp(-kScoreToLogit * score)); }

// The stated score contradicts the game's result.
bool ceContradictsResult(double r, double p) {
  if (r == 1) return p < 0.35;
  if (r == 0) return p > 0.65;
  if (r == 0.5) return p < 0.15 || p > 0.85;
  return false;
}

// Our own search contradicts the game's result.
bool searchContradictsResult(double r, double q) {
  if (r > 0.5) return q < 0.15;
  if (r == 0.5) return q < 0.15 || q > 0.85;
  return q > 0.85;
}

int correctedByTablebase(int score) {
  switch (search::control.root_tb_result.load()) {
    case search::kTbRootWin: return score <= kTbWinRaisedUpTo ? kTbWinFloor : score;
    case search::kTbRootLoss: return score >= kTbLossLoweredFrom ? -kTbWinFloor : score;
    case search::kTbRootDraw: return 0;
    default: return score;
  }
}

bool isDataLine(const std::string& line) { return !line.empty() && line[0] != ' ' && line[0] != '#' && line[0] != ';'; }

long countDataLines(FILE* in) {
  long n = 0;
  for (std::string line; readWholeLine(in, line);) n += isDataLine(line);
  rewind(in);
  return n;
}

struct TuneLine {
  EpdRecord epd;
  bool hasCe, hasGr;
  int ce;
  double r;
};

// The FEN of the end of the searched line, with the values seen from its side.
std::string lineEndFen(TuneLine& t, int& score) {
  static UndoHistory history;
  Position pos = search::gamePosition();
  pos.owner = &history;
  history.undoCount = 0;
  history.ply = 1;
  int made = 0;
  for (int i = 1; i < search::kStackSize && search::control.best_line[i]; ++i) {
    const Move m = search::control.best_line[i];
    if (!isPseudoLegal(pos, m) || !isLegal(pos, pos.sideToMove, m)) break;
    makeMove(pos, m);
    ++made;
  }
  if (made & 1) {
    t.ce = -t.ce;
    score = -score;
    t.r = 1 - t.r;
  }
  return positionToFen(pos, false);
}

void writeLine(FILE* out, int variant, TuneLine& t, int score) {
  if (variant == 2) {
    if (t.hasGr) fprintf(out, "%s ce %d; sc %d; gr %0.1f;\n", t.epd.fen.c_str(), t.ce, score, t.r);
    else fprintf(out, "%s sc %d;\n", t.epd.fen.c_str(), score);
    return;
  }
  const std::string fen = lineEndFen(t, score);
  if (t.hasGr) fprintf(out, "%s ce %d; sc %d; gr %0.1f;\n", fen.c_str(), t.ce, score, t.r);
  else if (t.hasCe) fprintf(out, "%s ce %d;\n", fen.c_str(), t.ce);
  else fprintf(out, "%s %d;\n", fen.c_str(), score);
}

struct Progress {
  double start = platform::nowSeconds();
  double nextReport = start + kProgressSeconds;
  long total = 0, done = 0, written = 0, lastMultiple = -1;
};

void reportProgress(Progress& p) {
  if (p.written % kProgressEveryLines == 0 && p.written != p.lastMultiple) {
    p.lastMultiple = p.written;
    outputFormat(" n= %ld", p.written);
  }
  const double now = platform::nowSeconds();
  if (now < p.nextReport) return;
  p.nextReport = now + kProgressSeconds;
  const double rate = static_cast<double>(p.done) / (now - p.start);
  outputFormat("%ld / %ld positions, %ld written, %.1f positions/s, %.0f s left", p.done, p.total, p.written, rate,
               rate > 0 ? static_cast<double>(p.total - p.done) / rate : 0.0);
}

// False when the text's FEN is refused: the run ends there.
bool readTuneLine(const std::string& text, TuneLine& t) {
  t.epd = parse_epd(text);
  t.hasCe = !t.epd.ce.empty();
  t.hasGr = !t.epd.gr.empty();
  t.ce = t.hasCe ? atoi(t.epd.ce.c_str()) : kMissingCe;
  t.r = t.hasGr ? atof(t.epd.gr.c_str()) : winChance(t.ce);
  return search::setGameFen(t.epd.fen) != kFenRejected;
}

}  // namespace

int make_tune_data(const std::string& inputFile, const std::string& outputFile, int variant,
                   const search::SearchLimits& limits, const search::SearchSettings& settings,
                   search::InputPoll pollInput) {
  const std::string outName = outputFile.empty() ? "tune_new.epd" : outputFile;
  if (outName == inputFile) {
    outputFormat("input and output are both %s: nothing done", inputFile.c_str());
    return 1;
  }
  FILE* in = fopen(inputFile.c_str(), "r");
  if (!in) {
    outputFormat("cannot open %s", inputFile.c_str());
    return 1;
  }
  FILE* out = fopen(outName.c_str(), "w");
  if (!out) {
    outputFormat("cannot open %s", outName.c_str());
    fclose(in);
    return 1;
  }
  outputFormat("Creating file %s", outName.c_str());
  eval::eval_mode = eval::kHandCrafted;
  if (limits.depth_limit <= kNoTableDepth) search::ttSetEnabled(false);
  Progress progress;
  progress.total = countDataLines(in);
  int status = 0;
  for (std::string text; readWholeLine(in, text);) {
    if (!isDataLine(text)) continue;
    reportProgress(progress);
    ++progress.done;
    TuneLine t;
    if (!readTuneLine(text, t)) {
      outputFormat("%s", text.substr(0, 300).c_str());
      status = 1;
      break;
    }
    const double p = winChance(t.ce);
    if (t.hasCe && t.hasGr && ceContradictsResult(t.r, p)) continue;
    const Position& pos = search::gamePosition();
    if (inCheck(pos, pos.sideToMove)) continue;
    search::ttClear();
    search::runToolSearch(limits, settings, pollInput, limits.depth_limit <= kNoTableDepth);
    const int score = correctedByTablebase(search::control.best_score.load());
    const bool quit = search::quit_requested.load();
    if (!(t.hasGr && searchContradictsResult(t.r, winChance(score)))) {
      writeLine(out, variant, t, score);
      ++progress.written;
    }
    if (quit) break;
  }
  reportProgress(progress);
  const bool written = !ferror(out);
  fclose(in);
  if (fclose(out) != 0 || !written) {
    outputFormat("error writing %s", outName.c_str());
    return 1;
  }
  outputFormat("%ld positions read, %ld lines written to %s", progress.done, progress.written, outName.c_str());
  return status;
}

}  // namespace tools
