// Protocol layer: the limits of the next search, and the entry points of the
// UCI loop, the console and the start-up.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "board/board.h"
#include "eval/eval.h"
#include "platform/platform.h"
#include "protocol/options.h"
#include "search/search.h"

namespace protocol {


// Limits given on the command line; every "go" starts from these.
extern search::SearchLimits command_line_limits;
// The limits of the next search, written by "go", "ucinewgame" and the console.
extern search::SearchLimits go_limits;
// Seconds before search output starts ("-noise", "-quiet"); kNoOutput = never.
extern double noise;
extern bool command_echo;


// UCI loop (uci.cpp).
extern platform::LineReader input;
void executeLine(const std::string& line);
void handleUciCommand(const std::string& command);
void poll_command();
void command_loop();
// Stops a running search and waits for it (no "bestmove"); a search that has
// already ended by itself is reported first. During a tool search it only
// asks the search to stop: the tool's loop waits for it.
void stopAndWait();
// A tool (benchmark, EPD runner) is searching.
bool toolRunning();
// Starts the search a "go" asked for (state 1 or 2).
void startRequestedSearch();
// Prints the final information and "bestmove" (or the console summary).
void reportFinishedSearch();

// Search trace of the console (trace.cpp): plies of the tree written to
// "trace.txt" while searching; 0 switches it off.
void setTraceLimit(int plies);

// Console (console.cpp): the settings kept beside the shared state.
struct ConsoleState {
  uint8_t evalDisplay = 0;  // every board display after a move is preceded by the evaluation
  int32_t selfPlay = 0;     // the engine plays both sides
  bool engineMove = false;  // "mv": the search's move is played on the game
  uint64_t searchedKey = 0; // the position the last console search ran from
};
extern ConsoleState console_state;
void run_console_command(const std::string& line);
// The summary the console prints instead of "bestmove".
void printSearchSummary();
// After a console search was reported: the engine's move is played for "mv"
// and in self-play, where the next search then starts.
void continueConsoleGame();

// Start-up (startup.cpp): the whole program; returns the exit status.
int runEngine(int argc, char** argv);

}  // namespace protocol
