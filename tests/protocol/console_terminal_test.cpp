// A person at the console ("-c") through a real terminal: the engine runs in
// a private tmux server and every line is typed with send-keys, each step
// waiting for its answer on the screen. Without tmux the same script runs
// through pipes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "protocol/engine_process.h"
#include "platform/platform.h"
#include "test_util.h"

namespace {

std::string shell(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

struct ConsoleSession {
  testutil::TempDir dir;
  bool tmux = system("tmux -V >/dev/null 2>&1") == 0;
  std::string socket = "vesk-test-" + std::to_string(getpid());
  std::unique_ptr<testutil::EngineProcess> pipe;
  size_t mark = 0;    // output before the last typed lines
  std::string last;  // the transcript as last read

  std::string tmuxCommand(const std::string& args) const { return "tmux -L " + socket + " " + args; }

  void start() {
    if (!tmux) {
      pipe = std::make_unique<testutil::EngineProcess>(std::vector<std::string>{"-c", "-use_hce"}, dir.path());
      return;
    }
    std::ofstream(dir.file("tmux.conf")) << "set -g history-limit 100000\nset -g remain-on-exit on\n";
    system(tmuxCommand("-f " + dir.file("tmux.conf") + " new-session -d -s console -x 100 -y 40 'cd " +
                       dir.path() + " && " + VESK_BINARY + " -c -use_hce; echo engine exit status $?'")
               .c_str());
  }
  ~ConsoleSession() {
    if (tmux) system(tmuxCommand("kill-server 2>/dev/null").c_str());
  }
  // Everything shown so far, without the blank rows below the cursor.
  std::string transcript() {
    if (!tmux) return pipe->output();
    std::string text = shell(tmuxCommand("capture-pane -p -J -S - -t console"));
    text.erase(text.find_last_not_of(" \n") + 1);
    return text;
  }
  std::string screen() { return tmux ? shell(tmuxCommand("capture-pane -p -t console")) : pipe->output(); }
  // Types the lines in one go (a person types ahead while the console is idle).
  void type(const std::vector<std::string>& lines) {
    mark = last.size();
    if (!tmux) {
      std::string text;
      for (const auto& l : lines) text += l + "\n";
      pipe->send(text);
      return;
    }
    std::string keys;
    for (const auto& l : lines) keys += " send-keys -t console -l '" + l + "' \\; send-keys -t console Enter \\;";
    keys.resize(keys.size() - 3);
    system(tmuxCommand(keys).c_str());
  }
  // Waits until text shows after the last typed line.
  bool waitFor(const std::string& text, double seconds = 10) {
    for (const double end = platform::nowSeconds() + seconds; platform::nowSeconds() < end;) {
      last = transcript();
      if (last.size() > mark && last.find(text, mark) != std::string::npos) return true;
      if (!tmux) pipe->waitFor(text, 0.05, mark);
      else usleep(50000);
    }
    return false;
  }
  // True once the engine has exited with status 0.
  bool ended() {
    if (!tmux) return pipe->wait(10) == 0;
    mark = 0;
    return waitFor("engine exit status 0");
  }
};

// The FEN line that heads the last board diagram shown.
std::string lastDiagramFen(const std::string& text) {
  const std::vector<std::string> lines = testutil::splitLines(text);
  for (size_t i = lines.size(); i-- > 1;)
    if (lines[i].size() == 17 && lines[i][0] == ' ' && lines[i - 1].size() != 17) return lines[i - 1];
  return "";
}

struct Step {
  const char* typed;
  const char* answer;  // shown after it ("" when the line answers nothing)
  bool waits = false;  // a search: lines typed while it runs would be ignored
};

// The opening a person might play, in SAN and in coordinates, then the
// commands that walk, judge, search and store the game.
const Step kSession[] = {
    {"e4", "1. move e4"},
    {"e7e5", "1. move e7e5"},
    {"Nf3", "2. move Nf3"},
    {"b8c6", "2. move b8c6"},
    {"Bb5", "3. move Bb5"},
    {"a7a6", "3. move a7a6"},
    {"Ba4", "4. move Ba4"},
    {"g8f6", "4. move g8f6"},
    {"O-O", "5. move O-O"},
    {"f8e7", "5. move f8e7"},
    {"undo", "r1bqkb1r/1ppp1ppp/p1n2n2/4p3/B3P3/5N2/PPPP1PPP/RNBQ1RK1 b kq - "},
    {"]", "5... move f8e7"},
    {"jump 3", "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 4"},
    {"ev", "last move was 2... b8c6"},
    {"sp", "mtl_pawn"},
    {"swap", "sq= e5, swap1="},
    {"pv", "PV: "},
    {"go 8", "ncnt1= ", true},
    {"pv", "PV: "},
    {"mv", "3. move ", true},
    {"set level 40 5:00 2", "set level to 40 moves in 300.00 seconds, inc 2.00"},
    {"set ss 0", "selectivity set to OFF"},
    {"set ss 1", "set default personality"},
    {"save", ""},
    {"load tmp.pgn 1", "loading tmp.pgn, tag 1"},
    {"edit", "b  Pa7 Pb7 Kc7       black, pieces"},
    {"#", ""},
    {"b Ka8", ""},
    {"w Kb6 Qc1", ""},
    {".", "k7/8/1K6/8/8/8/8/2Q5 w - - 0 0"},
    {"set level 0 0:05 0", "set level to 0 moves in 5.00 seconds, inc 0.00"},
    {"self", "game over: 1-0, checkmate", true},
    {"save", ""},
    {"quit", ""},
};

}  // namespace

TEST(ConsoleTerminal, APersonPlaysAnalysesSavesEditsAndWatchesSelfPlay) {
  ConsoleSession s;
  s.start();
  ASSERT_TRUE(s.waitFor("RNBQKBNR w KQkq - 0 0", 15)) << s.transcript();
  std::vector<std::string> batch;
  for (const Step& step : kSession) {
    batch.push_back(step.typed);
    if (!step.waits) continue;
    s.type(batch);
    batch.clear();
    ASSERT_TRUE(s.waitFor(step.answer, 20)) << "typed " << step.typed << "\n" << s.transcript();
  }
  s.type(batch);
  ASSERT_TRUE(s.ended()) << s.transcript();
  const std::string t = s.transcript();
  if (const char* path = getenv("VESK_CONSOLE_SCREEN")) std::ofstream(path) << s.screen();

  // Every answer, in the order of the lines typed.
  size_t at = 0;
  for (const Step& step : kSession) {
    if (!*step.answer) continue;
    const size_t found = t.find(step.answer, at);
    ASSERT_NE(found, std::string::npos) << "no answer to " << step.typed << " after " << t.substr(at, 400);
    at = found + 1;
  }
  // The game loads back to where it was saved.
  const size_t loading = t.find("loading tmp.pgn, tag 1");
  const std::string saved = lastDiagramFen(t.substr(0, loading));
  EXPECT_EQ(lastDiagramFen(t.substr(0, t.find("end edit", loading))), saved);
  EXPECT_NE(saved.find(" b KQkq - "), std::string::npos) << saved;
  // The analysis summary, with the table and tablebase figures.
  EXPECT_NE(t.find("Hash hits: main= "), std::string::npos);
  EXPECT_NE(t.find("TB=0K"), std::string::npos);
  // The table line after "go 8" names moves.
  const size_t pv = t.rfind("PV: ");
  EXPECT_GT(t.find('\n', pv) - pv, 6u) << t.substr(pv, 80);
  // The edited position was played out by the engine and saved with its start.
  std::ifstream in(s.dir.file("tmp.pgn"));
  const std::string pgn((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(pgn.find("[SetUp \"1\"]\n[FEN \"k7/8/1K6/8/8/8/8/2Q5 w - - 0 1\"]\n\nQ"), std::string::npos) << pgn;
  EXPECT_NE(pgn.find("# 1-0\n"), std::string::npos) << pgn;
}
