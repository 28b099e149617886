// EPD test runner: searches each position of a suite and counts the
// expected best moves found.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "board/attacks.h"
#include "platform/platform.h"
#include "platform/output.h"
#include "tools/tools.h"

namespace tools {

using namespace board;
using platform::outputFormat;
using platform::output_line;

EpdRecord parse_epd(const std::string& line) {
  EpdRecord r;
  size_t pos = 0;
  for (int spaces = 0; pos < line.size(); ++pos)
    if (line[pos] == ' ' && ++spaces == 4) break;
  r.fen = line.substr(0, pos);
  while (pos < line.size() && (line[pos] == ' ' || isdigit(static_cast<unsigned char>(line[pos])))) ++pos;
  while (pos < line.size()) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    size_t opEnd = line.find(' ', pos);
    size_t semi = line.find(';', pos);
    if (semi == std::string::npos || pos >= line.size()) break;  // an operation without ';' is dropped
    if (opEnd == std::string::npos || opEnd > semi) opEnd = semi;
    const std::string opcode = line.substr(pos, opEnd - pos);
    if (opcode.empty()) break;
    // The operand, its words separated by single spaces.
    std::string operand;
    for (size_t i = opEnd; i < semi; ++i) {
      if (line[i] == ' ' || line[i] == '\t') {
        if (!operand.empty() && operand.back() != ' ') operand += ' ';
      } else {
        operand += line[i];
      }
    }
    if (!operand.empty() && operand.back() == ' ') operand.pop_back();
    if (opcode == "bm") r.bm = operand;
    else if (opcode == "am") r.am = operand;
    else if (opcode == "ce") r.ce = operand;
    else if (opcode == "sc") r.sc = operand;
    else if (opcode == "gr") r.gr = operand;
    else if (opcode == "id") r.id = operand;
    else if (opcode == "c0") r.c0 = operand;
    pos = semi + 1;
  }
  return r;
}

namespace {

constexpr int kNoTableDepth = 3;  // depth limits up to this search without the table
constexpr int kYieldDepth = 2;    // up to this the waiting loop yields instead of sleeping

std::vector<std::string> splitAt(const std::string& text, const char* separators) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : text) {
    if (strchr(separators, c)) {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

bool sameMove(const std::string& text, Move best) {
  Move m;
  const int read = parseMove(search::gamePosition(), text, m);
  if (read == kMoveAmbiguous) platform::output_line("ambiguous move");
  return best && read == kMoveRead && m == best;
}

}  // namespace

namespace {

struct EpdTotals {
  int positions = 0, correct = 0, pointsScored = 0, pointsPossible = 0;
  double nodes = 0, seconds = 0, depthSum = 0, bfSum = 0;
};

bool isPositionLine(const std::string& text) {
  return text.size() >= 10 && text[0] != ' ' && text[0] != '#' && text[0] != ';';
}

// "bm": any of its moves; otherwise "am": any move but that one.
bool judgeMove(const EpdRecord& r, Move best) {
  if (!r.bm.empty()) {
    for (const std::string& m : splitAt(r.bm, " ,;\"\n"))
      if (sameMove(m, best)) return true;
    return false;
  }
  if (r.am.empty()) return false;
  Move avoid;
  const int read = parseMove(search::gamePosition(), r.am, avoid);
  if (read == kMoveAmbiguous) platform::output_line("ambiguous move");
  return read == kMoveRead && best && best != avoid;
}

// Graded suites: "c0" pairs of move and points; the most any move scores is possible.
void gradePoints(const EpdRecord& r, Move best, EpdTotals& totals) {
  if (r.c0.find('=') == std::string::npos) return;
  int possible = 0;
  for (const std::string& pair : splitAt(r.c0, ", \"\n")) {
    const size_t eq = pair.find('=');
    if (eq == std::string::npos) continue;
    const int points = atoi(pair.c_str() + eq + 1);
    possible = std::max(possible, points);
    if (sameMove(pair.substr(0, eq), best)) totals.pointsScored += points;
  }
  totals.pointsPossible += possible;
}

void writeResult(FILE* out, const std::string& text, const EpdRecord& r, Move best, int score) {
  if (!best) return;
  if (!r.gr.empty()) fprintf(out, "%s sc %d;\n", text.c_str(), score);
  else fprintf(out, "%s bm %s; ce %d;\n", r.fen.c_str(), moveToText(best).c_str(), score);
}

void printSummary(const EpdTotals& t) {
  const double n = t.positions ? t.positions : 1;
  outputFormat("%d / %d correct best moves", t.correct, t.positions);
  outputFormat("total nodes= %0.0f", t.nodes);
  outputFormat("total time= %0.2f seconds", t.seconds);
  outputFormat("avg depth= %0.1f", t.positions ? t.depthSum / n : 0.0);
  outputFormat("avg nodes= %0.1f", t.positions ? t.nodes / n : 0.0);
  outputFormat("node_rate= %0.0f", t.nodes / (0.001 + t.seconds));
  outputFormat("avg bf= %0.2f", t.positions ? t.bfSum / n : 0.0);
  outputFormat("score= %d / %d", t.pointsScored, t.pointsPossible);
  output_line("");
}

}  // namespace

void run_epd_test(const std::string& inputFile, const std::string& outputFile, const search::SearchLimits& limits,
                  const search::SearchSettings& settings, search::InputPoll pollInput) {
  const std::string outName = outputFile.empty() ? "analysis.epd" : outputFile;
  FILE* in = fopen(inputFile.c_str(), "r");
  if (!in) {
    outputFormat("cannot open %s", inputFile.c_str());
    return;
  }
  FILE* out = fopen(outName.c_str(), "w");
  if (!out) {
    outputFormat("cannot open %s", outName.c_str());
    fclose(in);
    return;
  }
  outputFormat("Analyzing %s...", inputFile.c_str());
  // Shallow searches do without the table.
  if (limits.depth_limit <= kNoTableDepth) search::ttSetEnabled(false);
  const bool verbose = settings.noise < search::kNoOutput;
  EpdTotals totals;
  for (std::string text; readWholeLine(in, text);) {
    if (!isPositionLine(text)) continue;
    const EpdRecord r = parse_epd(text);
    if (search::setGameFen(r.fen) == kFenRejected) {
      outputFormat("skipped: %s", text.substr(0, 200).c_str());
      continue;
    }
    ++totals.positions;
    if (verbose) {
      outputFormat("pos= %d", totals.positions);
      output_line(text);
      output_line(boardDiagram(search::gamePosition()));
    }
    search::ttClear();
    search::runToolSearch(limits, settings, pollInput, limits.depth_limit <= kYieldDepth);
    const auto& c = search::control;
    const float seconds = c.elapsed.load();
    const double nodes = static_cast<double>(c.total_nodes);
    const Move best = c.best_line[1];
    if (judgeMove(r, best)) ++totals.correct;
    gradePoints(r, best, totals);
    if (verbose) {
      search::reportFinalInfo(1, c.completed_depth, c.best_score, c.best_line);
      outputFormat("move= %s, time= %0.3f, score= %d, nodes= %0.0f, %0.0fK nps\n", moveToText(best).c_str(), seconds,
                   c.best_score.load(), nodes, nodes / (seconds + 0.001) / 1000);
    }
    writeResult(out, text, r, best, c.best_score.load());
    totals.nodes += nodes;
    totals.seconds += seconds;
    totals.depthSum += c.completed_depth;
    totals.bfSum += search::effectiveBranchingFactor();
    // "quit" ends the run after the position it came during.
    if (search::quit_requested.load()) break;
  }
  printSummary(totals);
  fclose(in);
  fclose(out);
}

}  // namespace tools
