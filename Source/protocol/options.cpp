// Options: the "uci" option lines, "setoption" and the configuration file.
#include <algorithm>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "eval/nn.h"
#include "platform/output.h"
#include "protocol/protocol.h"
#include "syzygy/syzygy.h"

namespace protocol {

EngineOptions live_options;
EngineOptions saved_options;

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

// Position of a whole word in text, or npos.
size_t findWord(const std::string& text, const char* word, size_t from = 0) {
  size_t n = strlen(word);
  for (size_t p = text.find(word, from); p != std::string::npos; p = text.find(word, p + 1)) {
    bool startOk = p == 0 || text[p - 1] == ' ' || text[p - 1] == '\t';
    bool endOk = p + n == text.size() || text[p + n] == ' ' || text[p + n] == '\t';
    if (startOk && endOk) return p;
  }
  return std::string::npos;
}

std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  size_t b = s.find_last_not_of(" \t");
  return s.substr(a, b - a + 1);
}

// A leading decimal integer (none reads as 0), clamped.
int readClamped(const std::string& value, int lo, int hi) {
  const char* p = value.c_str();
  while (*p == ' ' || *p == '\t') ++p;
  char* end = nullptr;
  long v = strtol(p, &end, 10);
  if (end == p) v = 0;
  return static_cast<int>(std::clamp<long>(v, lo, hi));
}

constexpr int kMinElo = 1500, kMaxElo = 3300;
constexpr int kMostTableMen = 7;

struct SpinOption {
  const char* name;
  int16_t EngineOptions::*field;
  int lo, hi;
};
constexpr SpinOption kSpins[] = {
    {"MoveOverhead", &EngineOptions::MoveOverhead, 0, 5000},
    {"Contempt", &EngineOptions::Contempt, -150, 150},
    {"Selectivity", &EngineOptions::Selectivity, 0, 200},
    {"MultiPV", &EngineOptions::MultiPV, 1, 255},
    {"OwnBook_Variety", &EngineOptions::OwnBook_Variety, 0, 100},
    {"OwnBook_Depth", &EngineOptions::OwnBook_Depth, 0, 60},
    {"OwnBook2_Depth", &EngineOptions::OwnBook2_Depth, 0, 60},
    {"SyzygyProbeDepth6", &EngineOptions::SyzygyProbeDepth6, -5, 100},
    {"UCI_Elo", &EngineOptions::UCI_Elo, kMinElo, kMaxElo},
    {"SyzygyProbeLimit", &EngineOptions::SyzygyProbeLimit, 0, kMostTableMen},
};
// The options listed after the 22 lines every interface has known: their
// defaults come from the record above.
constexpr int kFirstLaterSpin = 9;
struct CheckOption {
  const char* name;
  int16_t EngineOptions::*field;
};
constexpr CheckOption kChecks[] = {
    {"Ponder", &EngineOptions::Ponder},
    {"OwnBook", &EngineOptions::OwnBook},
    {"UCI_LimitStrength", &EngineOptions::UCI_LimitStrength},
    {"UCI_ShowWDL", &EngineOptions::UCI_ShowWDL},
};
constexpr int kFirstLaterCheck = 3;

bool searching() { return search::search_state.load() != search::kIdle; }

bool loadingConfig = false;

}  // namespace

void printOptionLines() {
  const EngineOptions& o = saved_options;
  const char* no = "false";
  const char* yes = "true";
  if (o.UCI_Elo == 0) saved_options.UCI_Elo = live_options.UCI_Elo = static_cast<int16_t>(search::max_elo);
  platform::outputFormat("option name ConfigFilePath type string default %s", o.ConfigFilePath.c_str());
  platform::outputFormat("option name Hash type spin default %d min 0 max 32768", o.Hash);
  platform::outputFormat("option name Threads type spin default %d min 1 max 160", o.Threads);
  platform::output_line("option name Clear_Hash type button");
  platform::outputFormat("option name NN_File type string default %s", live_options.NN_file.c_str());
  platform::outputFormat("option name Use_NN_eval type check default %s", eval::eval_mode ? yes : no);
  platform::outputFormat("option name OwnBook type check default %s", o.OwnBook ? yes : no);
  platform::outputFormat("option name OwnBook_File type string default %s", o.OwnBook_File.c_str());
  platform::outputFormat("option name OwnBook_Depth type spin default %d min 0 max 60", o.OwnBook_Depth);
  platform::outputFormat("option name OwnBook2_File type string default %s", o.OwnBook2_File.c_str());
  platform::outputFormat("option name OwnBook2_Depth type spin default %d min 0 max 60", o.OwnBook2_Depth);
  platform::outputFormat("option name OwnBook_Variety type spin default %d min 0 max 100", o.OwnBook_Variety);
  platform::outputFormat("option name SyzygyPath type string default %s", o.SyzygyPath.c_str());
  platform::outputFormat("option name SyzygyProbeDepth6 type spin default %d min -5 max 100", o.SyzygyProbeDepth6);
  platform::outputFormat("option name Log type check default %s", o.Log ? yes : no);
  platform::outputFormat("option name Ponder type check default %s", o.Ponder ? yes : no);
  platform::outputFormat("option name MultiPV type spin default %d min 1 max 255", o.MultiPV);
  platform::outputFormat("option name MoveOverhead type spin default %d min 0 max 5000", o.MoveOverhead);
  platform::outputFormat("option name UCI_LimitStrength type check default %s", o.UCI_LimitStrength ? yes : no);
  // The machine's strength can fall outside the settable range: the listed
  // bounds stay ordered and the default within them, as GUIs require.
  const int eloMax = std::max(kMinElo, static_cast<int>(search::max_elo));
  platform::outputFormat("option name UCI_Elo type spin default %d min %d max %d", std::clamp<int>(o.UCI_Elo, kMinElo, eloMax),
                kMinElo, eloMax);
  platform::outputFormat("option name Contempt type spin default %d min -150 max 150", o.Contempt);
  platform::outputFormat("option name Selectivity type spin default %d min 0 max 200", o.Selectivity);
  for (size_t i = kFirstLaterCheck; i < std::size(kChecks); ++i)
    platform::outputFormat("option name %s type check default %s", kChecks[i].name, o.*kChecks[i].field ? yes : no);
  for (size_t i = kFirstLaterSpin; i < std::size(kSpins); ++i)
    platform::outputFormat("option name %s type spin default %d min %d max %d", kSpins[i].name, o.*kSpins[i].field,
                           kSpins[i].lo, kSpins[i].hi);
}

void setLogOption(bool on, bool announce) {
  if (announce) platform::outputFormat("info string %s set to %d", "Log", on ? 1 : 0);
  if (!on) {
    live_options.Log = 0;
    platform::setLogEnabled(false);
    return;
  }
  if (!platform::openLogFile()) {
    platform::output_line("log file in use.");
    live_options.Log = 0;
    platform::setLogEnabled(false);
    return;
  }
  live_options.Log = 1;
  platform::setLogEnabled(true);
}

bool loadNetworkOption(bool atStartup, std::string* failure) {
  std::string why;
  // A shipped network lies beside the executable when the working directory
  // has none; a network built into the binary stands in when neither has one
  // and none is loaded yet.
  const std::string path = platform::findDataFile(live_options.NN_file);
  const bool builtIn = eval::network_count == 0 && eval::embedded_network_size > 0 && !platform::fileExists(path);
  if (!(builtIn ? eval::load_embedded_network(&why) : eval::load_network(path, &why))) {
    if (failure) {
      *failure = why;
      return false;
    }
    platform::output_line(atStartup ? "error loading NN" : "info string error loading NN");
    platform::outputFormat("%s%s", atStartup ? "" : "info string ", why.c_str());
    return false;
  }
  if (atStartup) platform::output_line("loaded NN");
  return true;
}

void load_config() {
  // A configuration file naming a configuration file is not read again.
  if (loadingConfig) return;
  FILE* f = fopen(live_options.ConfigFilePath.c_str(), "r");
  if (!f) return;
  loadingConfig = true;
  platform::outputFormat("info string loading parameters from %s", live_options.ConfigFilePath.c_str());
  char buffer[256];
  while (fgets(buffer, sizeof buffer, f)) {
    std::string line = buffer;
    if (!line.empty() && line.back() != '\n' && !feof(f)) {
      // Longer than a line may be: skip the rest of it.
      int c;
      while ((c = fgetc(f)) != EOF && c != '\n') {
      }
      continue;
    }
    if (line.size() <= 3) continue;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = line.substr(0, line.find('#'));
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = line.substr(0, eq);
    name.erase(name.find_last_not_of(" \t") + 1);
    std::string value = line.substr(eq + 1);
    value.erase(0, value.find_first_not_of(" \t") == std::string::npos ? value.size() : value.find_first_not_of(" \t"));
    apply_option(name.substr(0, 100), value.substr(0, 200));
  }
  fclose(f);
  loadingConfig = false;
  live_options.rebuild = 1;
  saved_options = live_options;
}

void apply_option(const std::string& rawName, const std::string& rawValue) {
  const std::string name = rawName.substr(0, 100), value = rawValue.substr(0, 200);
  const std::string key = lower(name);
  const bool on = value.find("true") != std::string::npos;
  EngineOptions& o = live_options;
  auto says = [&](int v) { platform::outputFormat("info string %s set to %d", name.c_str(), v); };

  if (key == "configfilepath") {
    if (searching()) return;
    o.ConfigFilePath = value.substr(0, 143);
    platform::outputFormat("info string ConfigFilePath set to '%s'", o.ConfigFilePath.c_str());
    load_config();
  } else if (key == "hash") {
    if (searching()) return;
    o.Hash = readClamped(value, 0, 32768);
    says(o.Hash);
    if (o.Hash != search::ttSizeMb() || (o.Hash > 0 && !search::ttEntryCount())) {
      // A size the machine cannot give keeps the table in use (the reply says which).
      if (!search::ttAllocate(o.Hash)) o.Hash = static_cast<int32_t>(search::ttSizeMb());
    }
  } else if (key == "threads") {
    if (searching()) return;
    o.Threads = static_cast<int16_t>(readClamped(value, 1, 160));
    search::threadCount = o.Threads;
    says(o.Threads);
  } else if (key == "clear_hash") {
    if (searching()) return;
    search::ttClear();
    platform::output_line("info string Hash table cleared");
  } else if (key == "nn_file" || key == "evalfile") {  // EvalFile: the name match managers use
    stopAndWait();
    o.NN_file = value.substr(0, 149);
    platform::outputFormat("info string NN_File set to '%s'", o.NN_file.c_str());
    if (loadNetworkOption(false)) search::game->evalState.clearCaches();
  } else if (key == "use_nn_eval") {
    stopAndWait();
    bool want = on;
    if (want && eval::network_count == 0 && !loadNetworkOption(false)) {
      platform::output_line("info string Use_NN_eval needs a network; staying with the hand-crafted evaluation");
      want = false;
    }
    eval::eval_mode = want ? 1 : 0;
    // Both evaluations share the evaluation cache.
    search::game->evalState.clearCaches();
    says(want ? 1 : 0);
  } else if (key == "log") {
    says(on ? 1 : 0);
    setLogOption(on, false);
  } else if (key == "ownbook_file" || key == "ownbook2_file") {
    std::string& field = key == "ownbook_file" ? o.OwnBook_File : o.OwnBook2_File;
    field = value.substr(0, 143);
    platform::outputFormat("info string %s set to '%s'", key == "ownbook_file" ? "OwnBook_File" : "OwnBook2_File",
                  field.c_str());
  } else if (key == "syzygypath") {
    stopAndWait();
    // A tool's search may still be probing the tables it would unmap.
    if (toolRunning()) {
      platform::output_line("info string SyzygyPath cannot change while a tool searches");
      return;
    }
    o.SyzygyPath = value.substr(0, 143);
    platform::outputFormat("info string SyzygyPath set to '%s'", o.SyzygyPath.c_str());
    syzygy::initTablebases(o.SyzygyPath);
  } else {
    for (const SpinOption& s : kSpins)
      if (key == lower(s.name)) {
        o.*s.field = static_cast<int16_t>(readClamped(value, s.lo, s.hi));
        says(o.*s.field);
        return;
      }
    for (const CheckOption& c : kChecks)
      if (key == lower(c.name)) {
        o.*c.field = on ? 1 : 0;
        says(on ? 1 : 0);
        return;
      }
  }
}

void splitSetoption(const std::string& args, std::string& name, std::string& value) {
  name.clear();
  value.clear();
  size_t n = findWord(args, "name");
  if (n == std::string::npos) return;
  size_t v = findWord(args, "value", n + 4);
  if (v == std::string::npos) {
    if (findWord(args, "value") != std::string::npos) return;  // "value" before "name"
    name = trim(args.substr(n + 4)).substr(0, 100);
    return;
  }
  name = trim(args.substr(n + 4, v - (n + 4))).substr(0, 100);
  value = trim(args.substr(v + 5)).substr(0, 200);
}

search::SearchSettings searchSettings() {
  const EngineOptions& o = live_options;
  search::SearchSettings s;
  s.move_overhead_ms = o.MoveOverhead;
  s.ponder = o.Ponder != 0;
  s.multi_pv = o.MultiPV;
  s.contempt = o.Contempt;
  s.eval_noise = o.evalNoise != 0;
  s.elo = o.UCI_Elo;
  s.target_nps = search::calibration_nps;
  s.noise = noise;
  s.selectivity = o.Selectivity;
  s.tb_min_depth = o.minProbeDepth;
  s.tb_probe_depth6 = o.SyzygyProbeDepth6;
  s.tb_probe_limit = o.SyzygyProbeLimit;
  s.show_wdl = o.UCI_ShowWDL != 0;
  s.personality = o.personality;
  return s;
}

search::SearchSettings settingsForSearch() {
  EngineOptions& o = live_options;
  const int fullStrength = static_cast<int>(search::max_elo);
  double rate = search::calibration_nps;
  if (o.UCI_LimitStrength && o.UCI_Elo > 0) {
    rate = search::npsForElo(o.UCI_Elo);
    // A limit at or above what the machine plays anyway is no limit.
    if (rate > search::calibration_nps - 30) {
      o.UCI_LimitStrength = 0;
      o.UCI_Elo = static_cast<int16_t>(fullStrength);
      rate = search::calibration_nps;
    }
  } else {
    o.UCI_Elo = static_cast<int16_t>(fullStrength);
  }
  search::SearchSettings s = searchSettings();
  s.target_nps = rate;
  return s;
}

void rebuildEvalParamsIfMarked() {
  if (!live_options.rebuild) return;
  platform::output_line("info string setting eval params...");
  eval::init_eval_params(live_options.personalityPercent, live_options.paramFile.c_str());
  live_options.rebuild = 0;
}

}  // namespace protocol
