// Protocol layer: shared control state, options, the game record, and the
// entry points of the UCI loop and the console.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "board/board.h"
#include "eval/eval.h"
#include "platform/platform.h"
#include "search/search.h"

namespace protocol {


using search::EngineOptions;
using search::live_options;
using search::saved_options;

// Shared search state lives with the search; the protocol layer uses it by name.
using search::kFinishedFlag;
using search::kGoPonderReceived;
using search::kGoReceived;
using search::kIdle;
using search::kPondering;
using search::kSearching;
using search::kToolSearch;
using search::calibration_nps;
using search::eval_mode;
using search::max_elo;
using search::limits;
using search::noise;
using search::quit_requested;
using search::search_state;
using search::stop_requested;

// Limits given on the command line; every "go" starts from these.
extern search::SearchLimits command_line_limits;
extern bool command_echo;


// Options (options.cpp).
void printOptionLines();
void apply_option(const std::string& name, const std::string& value);
void splitSetoption(const std::string& args, std::string& name, std::string& value);
// Reads the configuration file named by ConfigFilePath.
void load_config();
// Loads NN_file; on failure keeps the previous network and says why.
bool loadNetworkOption(bool atStartup);
// Turns logging on or off as the Log option does.
void setLogOption(bool on, bool announce);

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

// Console (console.cpp).
void run_console_command(const std::string& line);

// Start-up (startup.cpp): the whole program; returns the exit status.
int runEngine(int argc, char** argv);

}  // namespace protocol
