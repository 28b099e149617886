// Program entry: start-up order, command-line switches, the chosen activity.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "board/attacks.h"
#include "book/book.h"
#include "eval/nn.h"
#include "platform/output.h"
#include "protocol/protocol.h"
#include "syzygy/syzygy.h"
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
  bool bareBench = false;  // "bench": the build farms' benchmark
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
// Depth limits above these turn the tuning tools' searches into quiescence searches.
constexpr int kTune1DepthBound = 10, kTune2DepthBound = 15;

int clampInt(double v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : static_cast<int>(v); }

// How a switch takes its argument.
enum SwitchArg { kNoValue, kNumber, kText, kOwnArgs };

struct SwitchCall {
  Settings& s;
  const char* name;
  double number = 0;         // kNumber
  const char* text = nullptr;  // kText
  int argc;
  char** argv;
  int& index;  // kOwnArgs: the switch's position; moved past what it takes
};

// -1 to go on, else the exit status.
using SwitchAction = int (*)(SwitchCall&);
constexpr int kGoOn = -1;

struct SwitchEntry {
  const char* name;
  SwitchArg arg;
  SwitchAction action;
};

std::string cut143(const char* text) { return std::string(text).substr(0, 143); }

int setMode(SwitchCall& c, int mode) {
  c.s.runMode = mode;
  c.s.modeSwitch = c.name;
  return kGoOn;
}

int fixedDepth(SwitchCall& c) {
  command_line_limits.depth_limit = clampInt(c.number, 0, search::kMaxDepth);
  command_line_limits.level_moves = 1;
  command_line_limits.level_time = kDepthSwitchTime;
  return kGoOn;
}

int fixedTime(SwitchCall& c) {
  command_line_limits.level_moves = 1;
  command_line_limits.level_time = static_cast<float>(c.number < 0 ? 0 : c.number);
  return kGoOn;
}

int fixedNodes(SwitchCall& c) {
  const double v = c.number;
  command_line_limits.level_moves = 1;
  command_line_limits.level_time = kNodeSwitchTime;
  command_line_limits.node_limit = v <= 0 ? 0 : v >= 1e18 ? uint64_t{1000000000000000000} : static_cast<uint64_t>(v);
  return kGoOn;
}

int nodeRate(SwitchCall& c) {
  if (c.number <= 0) {
    platform::output_line("switch -nps needs a positive rate");
    return 1;
  }
  live_options.UCI_LimitStrength = 1;
  live_options.UCI_Elo = static_cast<int16_t>(clampInt(std::log(c.number) * 150 + 1050, 0, 32767));
  platform::outputFormat("Elo= %d", live_options.UCI_Elo);
  return kGoOn;
}

int tablebaseTool(SwitchCall&) {
  const std::string& path = live_options.SyzygyPath;
  if (path.empty()) platform::output_line("-tbx: no SyzygyPath is set; use -tbpath or the SyzygyPath option");
  else platform::outputFormat("-tbx: using SyzygyPath '%s'", path.c_str());
  return kGoOn;
}

// "-mktraindata" in out, "-tune" / "-tune2" with three files and an optional 0/1.
int trainingData(SwitchCall& c) {
  if (c.index + 2 >= c.argc) return 1;
  c.s.inputFile = c.argv[c.index + 1];
  c.index += 2;
  c.s.runMode = kTrainData;
  return kGoOn;
}

int tuner(SwitchCall& c) {
  if (c.index + 3 >= c.argc) return 1;
  c.s.inputFile = c.argv[c.index + 1];
  c.index += 3;
  if (c.index + 1 < c.argc && (c.argv[c.index + 1][0] == '0' || c.argv[c.index + 1][0] == '1')) ++c.index;
  live_options.Hash = 0;
  c.s.runMode = std::string(c.name) == "-tune" ? kTune : kTune2;
  return kGoOn;
}

const SwitchEntry kSwitches[] = {
    {"-uci", kNoValue, [](SwitchCall&) { platform::uci_mode = 1; return kGoOn; }},
    {"-c", kNoValue, [](SwitchCall&) { platform::uci_mode = 0; return kGoOn; }},
    {"-log", kNoValue, [](SwitchCall&) { live_options.Log = 1; return kGoOn; }},
    {"-noise", kNumber, [](SwitchCall& c) { noise = c.number; return kGoOn; }},
    {"-quiet", kNoValue, [](SwitchCall&) { live_options.Log = 0; noise = search::kNoOutput; return kGoOn; }},
    {"-cfg", kText, [](SwitchCall& c) { live_options.ConfigFilePath = cut143(c.text); return kGoOn; }},
    {"-d", kNumber, fixedDepth},
    {"-t", kNumber, fixedTime},
    {"-n", kNumber, fixedNodes},
    {"-nps", kNumber, nodeRate},
    {"-hash", kNumber, [](SwitchCall& c) { live_options.Hash = clampInt(c.number, 0, 32768); return kGoOn; }},
    {"-threads", kNumber,
     [](SwitchCall& c) { live_options.Threads = static_cast<int16_t>(clampInt(c.number, 1, 160)); return kGoOn; }},
    {"-book", kText, [](SwitchCall& c) { live_options.OwnBook_File = cut143(c.text); return kGoOn; }},
    {"-tbpath", kText, [](SwitchCall& c) { live_options.SyzygyPath = cut143(c.text); return kGoOn; }},
    {"-tbx", kNoValue, tablebaseTool},
    {"-use_hce", kNoValue, [](SwitchCall&) { eval::eval_mode = eval::kHandCrafted; return kGoOn; }},
    {"-use_nn", kNoValue, [](SwitchCall&) { eval::eval_mode = eval::kNetwork; return kGoOn; }},
    {"-train_nn", kNoValue, [](SwitchCall&) { eval::eval_mode = eval::kTrainingData; return kGoOn; }},
    {"-dump_epd", kNoValue, [](SwitchCall&) { eval::eval_mode = eval::kEpdDump; return kGoOn; }},
    {"-o", kText, [](SwitchCall& c) { c.s.outputFile = c.text; return kGoOn; }},
    {"-anepd", kText, [](SwitchCall& c) { c.s.inputFile = c.text; return setMode(c, kEpdTest); }},
    {"-scan_pgn1", kText, [](SwitchCall& c) { c.s.pgnFile = c.text; return setMode(c, kScan1); }},
    {"-scan_pgn2", kText, [](SwitchCall& c) { c.s.pgnFile = c.text; return setMode(c, kScan1 + 1); }},
    {"-scan_pgn3", kText, [](SwitchCall& c) { c.s.pgnFile = c.text; return setMode(c, kScan1 + 2); }},
    {"-scan_pgn4", kText, [](SwitchCall& c) { c.s.pgnFile = c.text; return setMode(c, kScan4); }},
    {"-bench", kNoValue, [](SwitchCall& c) { return setMode(c, kBench); }},
    {"bench", kNoValue, [](SwitchCall& c) { c.s.bareBench = true; return setMode(c, kBench); }},
    {"-bench2", kNoValue, [](SwitchCall& c) { return setMode(c, kBench2); }},
    {"-pbench", kNoValue, [](SwitchCall& c) { return setMode(c, kPBench); }},
    {"-mkconfig", kNoValue, [](SwitchCall& c) { return setMode(c, kMakeConfig); }},
    {"-mkbook", kText, [](SwitchCall& c) { c.s.pgnFile = c.text; return setMode(c, kMakeBook); }},
    {"-mktune1", kText, [](SwitchCall& c) { c.s.inputFile = c.text; return setMode(c, kMakeTune1); }},
    {"-mktune2", kText, [](SwitchCall& c) { c.s.inputFile = c.text; return setMode(c, kMakeTune2); }},
    {"-mktraindata", kOwnArgs, trainingData},
    {"-tune", kOwnArgs, tuner},
    {"-tune2", kOwnArgs, tuner},
};

const SwitchEntry* findSwitch(const std::string& name) {
  for (const SwitchEntry& e : kSwitches)
    if (name == e.name) return &e;
  return nullptr;
}

// Returns -1 to go on, else the exit status. Unknown switches are ignored;
// another spelling of "-scan_pgn" still takes its file.
int parseSwitches(int argc, char** argv, Settings& s) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const SwitchEntry* e = findSwitch(a);
    const SwitchArg arg = e ? e->arg : a.find("-scan_pgn") != std::string::npos ? kText : kNoValue;
    SwitchCall call{s, argv[i], 0, nullptr, argc, argv, i};
    if (arg == kNumber || arg == kText) {
      if (i + 1 >= argc) {
        platform::outputFormat("switch %s needs a value", a.c_str());
        return 1;
      }
      call.text = argv[++i];
      if (arg == kNumber && !readNumber(a.c_str(), call.text, call.number)) return 1;
    }
    if (!e) continue;
    if (const int status = e->action(call); status != kGoOn) return status;
  }
  return kGoOn;
}

// Fixed-limit runs need little table: the size follows the depth or node limit.
int32_t tableSizeForLimits(const search::SearchLimits& l, int32_t asked) {
  int32_t mb = asked;
  if (l.depth_limit <= 7) mb = 1;
  else if (l.depth_limit <= 12) mb = 1 << (l.depth_limit - 7);
  if (l.node_limit) {
    static constexpr uint64_t kSteps[6] = {32000, 64000, 128000, 256000, 512000, 1024000};
    mb = 64;
    for (int k = 0; k < 6; ++k)
      if (l.node_limit <= kSteps[k]) {
        mb = 1 << k;
        break;
      }
  }
  return mb;
}

// The build farms' benchmark: the network when one loads (else the
// hand-crafted evaluation, said on standard error), one thread.
bool loadNetworkForBench() {
  std::string why;
  if (loadNetworkOption(true, &why)) return true;
  eval::eval_mode = eval::kHandCrafted;
  fprintf(stderr, "bench: no network loaded (%s); searching with the hand-crafted evaluation\n", why.c_str());
  return true;
}

// Table, log, configuration, weights and the chosen evaluation; false when
// the network cannot be loaded.
bool prepareEngine(const Settings& settings) {
  EngineOptions& o = live_options;
  go_limits = command_line_limits;
  search::threadCount = o.Threads;
  o.Hash = tableSizeForLimits(go_limits, o.Hash);
  if (!search::ttAllocate(o.Hash)) o.Hash = static_cast<int32_t>(search::ttSizeMb());
  if (o.Log) setLogOption(true, false);
  saved_options = live_options;
  if (!o.ConfigFilePath.empty()) load_config();
  eval::init_eval_params(o.personalityPercent, o.paramFile.c_str());
  platform::outputFormat("Hello from %s\n", platform::kEngineName);
  o.rebuild = 0;
  if (eval::eval_mode != eval::kHandCrafted && o.NN_file.size() > 4)
    return settings.bareBench ? loadNetworkForBench() : loadNetworkOption(true);
  eval::eval_mode = eval::kHandCrafted;
  platform::output_line("using hand-crafted evaluation");
  return true;
}

void runCommandLoop() {
  search::setStartPosition();
  search::calibrateSpeed();
  syzygy::initTablebases(live_options.SyzygyPath);
  search::setStartPosition();
  if (!platform::uci_mode) platform::output_line(boardDiagram(search::gamePosition()));
  live_options.evalNoise = 1;
  search::quit_requested = 0;
  command_loop();
}

// The tuning tools search to a fixed depth only when one is asked for
// within their bound; otherwise every search is a quiescence search.
int makeTuneData(const Settings& settings, int variant, int depthBound) {
  if (go_limits.depth_limit > depthBound) go_limits.depth_limit = 0;
  noise = search::kNoOutput;
  if (variant == 2) {
    const std::string& path = live_options.SyzygyPath;
    if (path.empty()) platform::output_line("-mktune2: no SyzygyPath is set; scores are not corrected by tablebases");
    else platform::outputFormat("-mktune2: using SyzygyPath '%s'", path.c_str());
    syzygy::initTablebases(path);
  }
  return tools::make_tune_data(settings.inputFile, settings.outputFile, variant, go_limits, settingsForSearch(),
                               poll_command);
}

// The exit status of the activity.
int runActivity(const Settings& settings) {
  switch (settings.runMode) {
    case kMakeBook:
      return book::makeBook(settings.pgnFile);
    case kLoop:
      runCommandLoop();
      break;
    case kScan1:
    case kScan1 + 1:
    case kScan1 + 2:
    case kScan4:
      setLogOption(false, false);
      return tools::scan_pgn(settings.pgnFile, settings.outputFile, settings.runMode - kScan1 + 1);
    case kMakeTune1:
      return makeTuneData(settings, 1, kTune1DepthBound);
    case kMakeTune2:
      return makeTuneData(settings, 2, kTune2DepthBound);
    case kEpdTest:
      tools::run_epd_test(settings.inputFile, settings.outputFile, go_limits, settingsForSearch(), poll_command);
      break;
    case kBench:
    case kPBench: {
      const tools::BenchTotals totals = tools::run_bench(settings.runMode == kBench ? 20 : 10,
                                                         settings.runMode == kPBench, go_limits, settingsForSearch(),
                                                         poll_command);
      // The line the build farms read: nothing follows it.
      if (settings.bareBench)
        platform::outputFormat("%llu nodes %.0f nps", static_cast<unsigned long long>(totals.nodes),
                               static_cast<double>(totals.nodes) / totals.seconds);
      break;
    }
    case kBench2:
    case kMakeConfig:
      break;
    default:
      platform::outputFormat("%s is not available in this build yet", settings.modeSwitch);
      break;
  }
  return 0;
}

bool isDataTool(int mode) {
  return (mode >= kScan1 && mode <= kScan4) || mode == kMakeTune1 || mode == kMakeTune2 || mode == kMakeBook;
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
  eval::eval_mode = eval::kNetwork;
  platform::uci_mode = 1;

  Settings settings;
  if (int status = parseSwitches(argc, argv, settings); status >= 0) return status;
  if (settings.runMode == kTune || settings.runMode == kTune2 || settings.runMode == kTrainData ||
      eval::eval_mode == eval::kTrainingData) {
    platform::output_line("Need to compile with 'make ttune'\n");
    return 1;
  }
  // The data tools and the book maker need no network.
  if (isDataTool(settings.runMode)) eval::eval_mode = eval::kHandCrafted;
  if (settings.bareBench) live_options.Threads = 1;
  if (!prepareEngine(settings)) return 1;
  const int status = runActivity(settings);
  stopAndWait();
  platform::closeLogFile();
  search::releaseThreads();
  search::ttRelease();
  search::releaseGameRecord();
  return status;
}

}  // namespace protocol
