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
#include "search/limits.h"

namespace protocol {

constexpr const char* kEngineName = "Vesk 5.00";
constexpr const char* kEngineAuthor = "Tarvell";

// The user-settable options; held twice (live and saved).
struct EngineOptions {
  int16_t rebuild = 1;
  int32_t Hash = 64;
  int16_t Threads = 1;
  int16_t MoveOverhead = 50;
  int16_t Ponder = 1;
  int16_t MultiPV = 1;
  int16_t UCI_LimitStrength = 0;
  int16_t UCI_Elo = 0;
  int16_t Log = 0;
  int16_t OwnBook = 0;
  int16_t OwnBook_Variety = 25;
  int16_t OwnBook_Depth = 24;
  int16_t OwnBook2_Depth = 0;
  int16_t evalNoise = 0;
  std::string paramFile = "params.txt";
  std::string NN_file = "nn.bin";
  std::string ConfigFilePath;
  std::string OwnBook_File;
  std::string OwnBook2_File;
  std::string SyzygyPath;
  int16_t minProbeDepth = 0;
  int16_t SyzygyProbeDepth6 = 1;
  int16_t Contempt = 0;
  int16_t Selectivity = 100;
  std::array<int16_t, 9> personality = {0, 3, 75, 3, 3, 125, 6, 3, 3};
  std::array<std::array<int16_t, 2>, 13> personalityPercent = [] {
    std::array<std::array<int16_t, 2>, 13> p{};
    for (auto& pair : p) pair = {100, 100};
    return p;
  }();
};

extern EngineOptions live_options;
extern EngineOptions saved_options;

// Search states shared with the search thread.
enum SearchState : uint8_t { kIdle = 0, kGoReceived = 1, kGoPonderReceived = 2, kSearching = 3, kPondering = 4,
                             kToolSearch = 5, kFinishedFlag = 16 };
extern std::atomic<uint8_t> search_state;
extern std::atomic<uint8_t> stop_requested;
extern std::atomic<uint8_t> quit_requested;

extern search::SearchLimits limits;
// Limits given on the command line; every "go" starts from these.
extern search::SearchLimits command_line_limits;
extern double noise;
extern int eval_mode;  // 0 hand-crafted, 1 network, 2 training, 3 EPD dump
extern bool command_echo;

// The game record: the game position and its history.
struct GameRecord {
  board::UndoHistory history;
  board::Position position;
  std::unique_ptr<eval::EvalState> evalState = std::make_unique<eval::EvalState>();
};
extern GameRecord* game;
board::Position& game_position();

// Game-level helpers.
void set_start_position();
// Sets the game position from FEN; returns setFromFen's code.
int set_game_fen(const std::string& fen);
// Makes a move on the game record, keeping the history bounded.
void game_play_move(board::Move move);
// Finds the legal move written in coordinate form (with promotion letter).
board::Move find_coordinate_move(const std::string& token);

// Options (options.cpp).
void print_option_lines();
void apply_option(const std::string& name, const std::string& value);
void split_setoption(const std::string& args, std::string& name, std::string& value);
// Loads NN_file; on failure keeps the previous network and says why.
bool load_network_option(bool atStartup);
// Turns logging on or off as the Log option does.
void set_log_option(bool on, bool announce);

// UCI loop (uci.cpp).
extern platform::LineReader input;
void execute_line(const std::string& line);
void handle_uci_command(const std::string& command);
void poll_command();
void command_loop();
void stop_and_wait();

// Console (console.cpp).
void run_console_command(const std::string& line);

// Start-up (startup.cpp): the whole program; returns the exit status.
int run_engine(int argc, char** argv);

}  // namespace protocol
