// Program entry: start-up order, command-line switches, the chosen activity.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "board/attacks.h"
#include "eval/nn.h"
#include "platform/output.h"
#include "protocol/protocol.h"
#include "tools/tools.h"

namespace protocol {

using namespace board;

namespace {

enum RunMode { kLoop = 1, kEpdTest = 2, kScan1 = 3, kScan4 = 6, kBench = 8, kBench2 = 9, kPBench = 10,
               kMakeBook = 11, kMakeConfig = 12, kMakeTune1 = 13, kMakeTune2 = 14, kTune = 15, kTune2 = 16,
               kTrainData = 17 };

struct Settings {
  int runMode = kLoop;
  std::string inputFile, pgnFile, outputFile;
  const char* modeSwitch = "";
};

// Reads a number or reports why not; exit status 1 on failure.
bool readNumber(const char* sw, const char* text, double& out) {
  char* end = nullptr;
  errno = 0;
  double v = strtod(text, &end);
  if (end == text || *end || errno == ERANGE || !std::isfinite(v)) {
    platform::outputFormat("invalid value for %s: %.100s", sw, text);
    return false;
  }
  out = v;
  return true;
}

// The fixed times "-d" and "-n" give a move, long enough never to decide.
constexpr float kDepthSwitchTime = 10000, kNodeSwitchTime = 1000;

int clampInt(double v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : static_cast<int>(v); }

// Returns -1 to go on, else the exit status.
int parseSwitches(int argc, char** argv, Settings& s) {
  EngineOptions& o = live_options;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char*& out) {
      if (i + 1 >= argc) {
        platform::outputFormat("switch %s needs a value", a.c_str());
        return false;
      }
      out = argv[++i];
      return true;
    };
    auto number = [&](double& out) {
      const char* text;
      return value(text) && readNumber(a.c_str(), text, out);
    };
    const char* text = nullptr;
    double v = 0;
    if (a == "-uci") {
      platform::uci_mode = 1;
    } else if (a == "-c") {
      platform::uci_mode = 0;
    } else if (a == "-log") {
      o.Log = 1;
    } else if (a == "-noise") {
      if (!number(v)) return 1;
      noise = v;
    } else if (a == "-quiet") {
      o.Log = 0;
      noise = search::kNoOutput;
    } else if (a == "-cfg") {
      if (!value(text)) return 1;
      o.ConfigFilePath = std::string(text).substr(0, 143);
    } else if (a == "-d") {
      if (!number(v)) return 1;
      command_line_limits.depth_limit = clampInt(v, 0, search::kMaxDepth);
      command_line_limits.level_moves = 1;
      command_line_limits.level_time = kDepthSwitchTime;
    } else if (a == "-t") {
      if (!number(v)) return 1;
      if (v < 0) v = 0;
      command_line_limits.level_moves = 1;
      command_line_limits.level_time = static_cast<float>(v);
    } else if (a == "-n") {
      if (!number(v)) return 1;
      command_line_limits.level_moves = 1;
      command_line_limits.level_time = kNodeSwitchTime;
      command_line_limits.node_limit = v <= 0 ? 0 : v >= 1e18 ? uint64_t{1000000000000000000} : static_cast<uint64_t>(v);
    } else if (a == "-nps") {
      if (!number(v)) return 1;
      if (v <= 0) {
        platform::output_line("switch -nps needs a positive rate");
        return 1;
      }
      o.UCI_LimitStrength = 1;
      o.UCI_Elo = static_cast<int16_t>(clampInt(std::log(v) * 150 + 1050, 0, 32767));
      printf("Elo= %d\n", o.UCI_Elo);
      fflush(stdout);
    } else if (a == "-hash") {
      if (!number(v)) return 1;
      o.Hash = clampInt(v, 0, 32768);
    } else if (a == "-threads") {
      if (!number(v)) return 1;
      o.Threads = static_cast<int16_t>(clampInt(v, 1, 160));
    } else if (a == "-book") {
      if (!value(text)) return 1;
      o.OwnBook_File = std::string(text).substr(0, 143);
    } else if (a == "-tbpath") {
      if (!value(text)) return 1;
      o.SyzygyPath = std::string(text).substr(0, 143);
    } else if (a == "-tbx") {
      if (o.SyzygyPath.empty())
        platform::output_line("-tbx: no SyzygyPath is set; use -tbpath or the SyzygyPath option");
      else
        platform::outputFormat("-tbx: using SyzygyPath '%s'", o.SyzygyPath.c_str());
    } else if (a == "-use_hce") {
      eval::eval_mode = 0;
    } else if (a == "-use_nn") {
      eval::eval_mode = 1;
    } else if (a == "-train_nn") {
      eval::eval_mode = 2;
    } else if (a == "-dump_epd") {
      eval::eval_mode = 3;
    } else if (a == "-o") {
      if (!value(text)) return 1;
      s.outputFile = text;
    } else if (a == "-anepd") {
      if (!value(text)) return 1;
      s.inputFile = text;
      s.runMode = kEpdTest;
      s.modeSwitch = argv[i - 1];
    } else if (a.find("-scan_pgn") != std::string::npos) {
      if (!value(text)) return 1;
      s.pgnFile = text;
      static const char* kScans[4] = {"-scan_pgn1", "-scan_pgn2", "-scan_pgn3", "-scan_pgn4"};
      for (int k = 0; k < 4; ++k)
        if (a == kScans[k]) {
          s.runMode = kScan1 + k;
          s.modeSwitch = kScans[k];
        }
    } else if (a == "-bench" || a == "-bench2" || a == "-pbench" || a == "-mkconfig") {
      s.runMode = a == "-bench" ? kBench : a == "-bench2" ? kBench2 : a == "-pbench" ? kPBench : kMakeConfig;
      s.modeSwitch = argv[i];
    } else if (a == "-mkbook") {
      if (!value(text)) return 1;
      s.pgnFile = text;
      s.runMode = kMakeBook;
      s.modeSwitch = argv[i - 1];
    } else if (a == "-mktune1" || a == "-mktune2") {
      if (!value(text)) return 1;
      s.inputFile = text;
      s.runMode = a == "-mktune1" ? kMakeTune1 : kMakeTune2;
      s.modeSwitch = argv[i - 1];
    } else if (a == "-mktraindata") {
      if (i + 2 >= argc) return 1;
      s.inputFile = argv[i + 1];
      i += 2;
      s.runMode = kTrainData;
    } else if (a == "-tune" || a == "-tune2") {
      if (i + 3 >= argc) return 1;
      s.inputFile = argv[i + 1];
      i += 3;
      if (i + 1 < argc && (argv[i + 1][0] == '0' || argv[i + 1][0] == '1')) ++i;
      o.Hash = 0;
      s.runMode = a == "-tune" ? kTune : kTune2;
    }
    // anything else is ignored
  }
  return -1;
}

}  // namespace

int runEngine(int argc, char** argv) {
  platform::ignoreSigpipe();
  srand(static_cast<unsigned>(static_cast<long long>(platform::nowSeconds() * 1000)));
  if (!search::createGameRecord()) return 1;
  initAttackTables();
  eval::initKpk();
  search::initSearchTables();

  live_options = EngineOptions{};
  saved_options = live_options;
  command_line_limits = search::SearchLimits{};
  noise = 0;
  eval::eval_mode = 1;
  platform::uci_mode = 1;

  Settings settings;
  if (int status = parseSwitches(argc, argv, settings); status >= 0) return status;
  if (settings.runMode == kTune || settings.runMode == kTune2 || settings.runMode == kTrainData || eval::eval_mode == 2) {
    platform::output_line("Need to compile with 'make ttune'\n");
    return 1;
  }
  go_limits = command_line_limits;
  search::threadCount = live_options.Threads;
  // Fixed-limit runs need little table.
  EngineOptions& o = live_options;
  if (go_limits.depth_limit <= 7) o.Hash = 1;
  else if (go_limits.depth_limit <= 12) o.Hash = 1 << (go_limits.depth_limit - 7);
  if (go_limits.node_limit) {
    static constexpr uint64_t kSteps[6] = {32000, 64000, 128000, 256000, 512000, 1024000};
    o.Hash = 64;
    for (int k = 0; k < 6; ++k)
      if (go_limits.node_limit <= kSteps[k]) {
        o.Hash = 1 << k;
        break;
      }
  }
  if (!search::ttAllocate(o.Hash)) o.Hash = static_cast<int32_t>(search::ttSizeMb());
  if (o.Log) setLogOption(true, false);
  saved_options = live_options;
  if (!o.ConfigFilePath.empty()) load_config();

  eval::init_eval_params(live_options.personalityPercent, live_options.paramFile.c_str());
  platform::outputFormat("Hello from %s\n", platform::kEngineName);
  live_options.rebuild = 0;
  if (eval::eval_mode != 0 && o.NN_file.size() > 4) {
    if (!loadNetworkOption(true)) return 1;
  } else {
    eval::eval_mode = 0;
    platform::output_line("using hand-crafted evaluation");
  }

  int status = 0;
  switch (settings.runMode) {
    case kLoop:
      search::setStartPosition();
      search::calibrateSpeed();
      search::setStartPosition();
      if (!platform::uci_mode) platform::output_line(boardDiagram(search::gamePosition()));
      live_options.evalNoise = 1;
      search::quit_requested = 0;
      command_loop();
      break;
    case kEpdTest:
      tools::run_epd_test(settings.inputFile, settings.outputFile, go_limits, settingsForSearch(), poll_command);
      break;
    case kBench:
    case kPBench:
      tools::run_bench(settings.runMode == kBench ? 20 : 10, settings.runMode == kPBench, go_limits,
                       settingsForSearch(), poll_command);
      break;
    case kBench2:
    case kMakeConfig:
      break;
    default:
      platform::outputFormat("%s is not available in this build yet", settings.modeSwitch);
      break;
  }
  stopAndWait();
  platform::closeLogFile();
  search::releaseThreads();
  search::ttRelease();
  search::releaseGameRecord();
  return status;
}

}  // namespace protocol
