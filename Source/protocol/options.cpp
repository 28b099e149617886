// Options: the record, the "uci" option lines and "setoption".
#include <cstring>

#include "eval/nn.h"
#include "protocol/output.h"
#include "protocol/protocol.h"

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

}  // namespace

void print_option_lines() {
  output_format("option name NN_File type string default %s", live_options.NN_file.c_str());
  output_format("option name Use_NN_eval type check default %s", eval_mode ? "true" : "false");
  output_format("option name Log type check default %s", saved_options.Log ? "true" : "false");
}

void set_log_option(bool on, bool announce) {
  if (announce) output_format("info string %s set to %d", "Log", on ? 1 : 0);
  if (!on) {
    live_options.Log = 0;
    set_log_enabled(false);
    return;
  }
  if (!open_log_file()) {
    output_line("log file in use.");
    live_options.Log = 0;
    set_log_enabled(false);
    return;
  }
  live_options.Log = 1;
  set_log_enabled(true);
}

bool load_network_option(bool atStartup) {
  std::string why;
  if (!eval::load_network(live_options.NN_file, &why)) {
    output_line(atStartup ? "error loading NN" : "info string error loading NN");
    output_format("%s%s", atStartup ? "" : "info string ", why.c_str());
    return false;
  }
  if (atStartup) output_line("loaded NN");
  return true;
}

void apply_option(const std::string& rawName, const std::string& rawValue) {
  std::string name = rawName.substr(0, 100), value = rawValue.substr(0, 200);
  std::string key = lower(name);
  if (key == "nn_file") {
    stop_and_wait();
    live_options.NN_file = value.substr(0, 149);
    output_format("info string NN_path set to '%s'", live_options.NN_file.c_str());
    if (load_network_option(false)) game->evalState->clearCaches();
    return;
  }
  if (key == "use_nn_eval") {
    stop_and_wait();
    bool on = value.find("true") != std::string::npos;
    if (on && eval::network_count == 0 && !load_network_option(false)) {
      output_line("info string Use_NN_eval needs a network; staying with the hand-crafted evaluation");
      on = false;
    }
    eval_mode = on ? 1 : 0;
    // Both evaluations share the evaluation cache.
    game->evalState->clearCaches();
    output_format("info string %s set to %d", name.c_str(), on ? 1 : 0);
    return;
  }
  if (key == "log") {
    bool on = value.find("true") != std::string::npos;
    output_format("info string %s set to %d", name.c_str(), on ? 1 : 0);
    set_log_option(on, false);
  }
}

void split_setoption(const std::string& args, std::string& name, std::string& value) {
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

}  // namespace protocol
