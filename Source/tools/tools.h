// Tools run from the command line: the EPD test runner, the benchmark, the
// PGN scanner and the tuning-data generator.
#pragma once

#include <cstdint>
#include <cstdio>
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
// What a benchmark run searched: its node total and seconds.
struct BenchTotals {
  uint64_t nodes = 0;
  double seconds = 0;
};
// Searches the benchmark positions (20, or 10 on the main thread).
BenchTotals run_bench(int count, bool mainThread, const search::SearchLimits& limits, const search::SearchSettings& settings,
               search::InputPoll pollInput);

// Reads one whole line of any length (without its line end); false at the end.
bool readWholeLine(FILE* in, std::string& line);

// ---------------------------------------------------------------- PGN scanner
// Move scores the scanner records: no comment, a comment without a score,
// and the score of a mate ("+M"/"-M").
constexpr int kUnscoredMove = -30000;
constexpr int kNoCommentScore = -29999;
constexpr int kCommentMateScore = 9000;
// The score a move's comment gives, from the mover's view: "book" 0, "eval N"
// and TCEC's "wv=P" (white's view, turned when black moved), else the word
// before the first "/" (cutechess "+0.45/18"), "+M"/"-M" a mate.
int commentScore(const std::string& text, bool blackMoved);
// Variant 1 annotates games (and writes "tmpX.epd"), 2 writes result-labelled
// positions, 3 best moves, 4 rook endings with one pawn. The output defaults
// to "tmp.epd". Returns the exit status.
int scan_pgn(const std::string& pgnFile, const std::string& outputFile, int variant);

// ---------------------------------------------------------------- tuning data
// Searches every position of an EPD file (variant 1: writes the quiet end of
// the principal variation; variant 2: the position with its search score).
// The output defaults to "tune_new.epd". Returns the exit status.
int make_tune_data(const std::string& inputFile, const std::string& outputFile, int variant,
                   const search::SearchLimits& limits, const search::SearchSettings& settings,
                   search::InputPoll pollInput);

}  // namespace tools
