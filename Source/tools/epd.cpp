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
  int positions = 0, correct = 0, pointsScored = 0, pointsPossible = 0;
  double totalNodes = 0, totalSeconds = 0, depthSum = 0, bfSum = 0;
  std::string line;
  for (char buffer[4096]; fgets(buffer, sizeof buffer, in);) {
    line += buffer;
    if (line.back() != '\n' && !feof(in)) continue;  // the rest of a long line follows
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    const std::string text = line;
    line.clear();
    if (text.size() < 10 || text[0] == ' ' || text[0] == '#' || text[0] == ';') continue;
    const EpdRecord r = parse_epd(text);
    if (search::setGameFen(r.fen) == kFenRejected) {
      outputFormat("skipped: %s", text.substr(0, 200).c_str());
      continue;
    }
    ++positions;
    if (verbose) {
      outputFormat("pos= %d", positions);
      output_line(text);
      platform::output_line(boardDiagram(search::gamePosition()));
    }
    search::ttClear();
    search::runToolSearch(limits, settings, pollInput, limits.depth_limit <= kYieldDepth);
    const bool quit = search::quit_requested.load() != 0;
    const auto& c = search::control;
    const float seconds = c.elapsed.load();
    const double nodes = static_cast<double>(c.total_nodes);
    const Move best = c.best_line[1];
    bool ok = false;
    if (!r.bm.empty()) {
      for (const std::string& m : splitAt(r.bm, " ,;\"\n"))
        if (sameMove(m, best)) ok = true;
    } else if (!r.am.empty()) {
      Move avoid;
      const int read = parseMove(search::gamePosition(), r.am, avoid);
      if (read == kMoveAmbiguous) platform::output_line("ambiguous move");
      if (read == kMoveRead) ok = best && best != avoid;
    }
    if (ok) ++correct;
    if (r.c0.find('=') != std::string::npos) {
      int possible = 0;
      for (const std::string& pair : splitAt(r.c0, ", \"\n")) {
        size_t eq = pair.find('=');
        if (eq == std::string::npos) continue;
        const int points = atoi(pair.c_str() + eq + 1);
        possible = std::max(possible, points);
        if (sameMove(pair.substr(0, eq), best)) pointsScored += points;
      }
      pointsPossible += possible;
    }
    if (verbose) {
      search::reportFinalInfo(1, c.completed_depth, c.best_score, c.best_line);
      outputFormat("move= %s, time= %0.3f, score= %d, nodes= %0.0f, %0.0fK nps\n", moveToText(best).c_str(), seconds,
                    c.best_score.load(), nodes, nodes / (seconds + 0.001) / 1000);
    }
    if (best) {
      if (!r.gr.empty())
        fprintf(out, "%s sc %d;\n", text.c_str(), c.best_score.load());
      else
        fprintf(out, "%s bm %s; ce %d;\n", r.fen.c_str(), moveToText(best).c_str(), c.best_score.load());
    }
    totalNodes += nodes;
    totalSeconds += seconds;
    depthSum += c.completed_depth;
    bfSum += search::effectiveBranchingFactor();
    if (quit) break;
  }
  const double n = positions ? positions : 1;
  outputFormat("%d / %d correct best moves", correct, positions);
  outputFormat("total nodes= %0.0f", totalNodes);
  outputFormat("total time= %0.2f seconds", totalSeconds);
  outputFormat("avg depth= %0.1f", positions ? depthSum / n : 0.0);
  outputFormat("avg nodes= %0.1f", positions ? totalNodes / n : 0.0);
  outputFormat("node_rate= %0.0f", totalNodes / (0.001 + totalSeconds));
  outputFormat("avg bf= %0.2f", positions ? bfSum / n : 0.0);
  outputFormat("score= %d / %d", pointsScored, pointsPossible);
  output_line("");
  fclose(in);
  fclose(out);
}

}  // namespace tools
