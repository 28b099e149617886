// Tools run from the command line: the EPD test runner and the benchmark.
#pragma once

#include <string>

#include "search/search.h"

namespace tools {

struct EpdRecord {
  std::string fen;
  std::string bm, am, ce, sc, gr, id, c0;
};

// Splits an EPD line into its FEN part and the operations we keep.
EpdRecord parse_epd(const std::string& line);
// Searches every position of an EPD suite; the output defaults to "analysis.epd".
// pollInput reads commands between the time checks ("stop" moves on, "quit"
// ends the run after the current position).
void run_epd_test(const std::string& inputFile, const std::string& outputFile, const search::SearchLimits& limits,
                  const search::SearchSettings& settings, search::InputPoll pollInput);
// Searches the benchmark positions (20, or 10 on the main thread).
void run_bench(int count, bool mainThread, const search::SearchLimits& limits, const search::SearchSettings& settings,
               search::InputPoll pollInput);

}  // namespace tools
