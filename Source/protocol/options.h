// The user-settable options: the record (held twice, live and saved), the
// "uci" option list, "setoption", the configuration file, and what a search
// takes from them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "eval/params.h"
#include "search/limits.h"

namespace protocol {

struct EngineOptions {
  int16_t rebuild = 1;  // reload the evaluation weights at the next search start
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
  int16_t minProbeDepth = 0;  // smallest depth the search probes tablebases at
  int16_t SyzygyProbeDepth6 = 1;
  int16_t SyzygyProbeLimit = 7;  // no table of more men is probed; 0 probes none
  int16_t UCI_ShowWDL = 0;       // info lines carry "wdl W D L"
  int16_t Contempt = 0;
  int16_t Selectivity = 100;
  search::PruningSettings personality = {0, 3, 75, 3, 3, 125, 6, 3, 3};
  eval::Personality personalityPercent = [] {
    eval::Personality p{};
    for (auto& pair : p) pair = {100, 100};
    return p;
  }();
};

// The live record every part reads, and the saved record that "uci" lists.
extern EngineOptions live_options;
extern EngineOptions saved_options;

void printOptionLines();
void apply_option(const std::string& name, const std::string& value);
void splitSetoption(const std::string& args, std::string& name, std::string& value);
// Reads the configuration file named by ConfigFilePath.
void load_config();
// Loads NN_file (or the built-in network when no such file exists and
// none is loaded); on failure keeps the previous network and says why, or
// with failure given, leaves the reason there and prints nothing.
bool loadNetworkOption(bool atStartup, std::string* failure = nullptr);
// Turns logging on or off as the Log option does.
void setLogOption(bool on, bool announce);

// The settings of the next search: the options, with the strength limit
// worked out (a limit the machine cannot go below is switched off, and
// UCI_Elo then shows the machine's strength).
search::SearchSettings settingsForSearch();
// The same without touching the strength options (for reports such as "_show").
search::SearchSettings searchSettings();
// Rebuilds the evaluation weights when a configuration file asked for it.
void rebuildEvalParamsIfMarked();

}  // namespace protocol
