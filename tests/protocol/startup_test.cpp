// Start-up of the real binary: greeting, evaluation choice, calibration,
// command-line switches and exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "protocol/engine_process.h"

using testutil::EngineProcess;
using testutil::runToEnd;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool fileExists(const std::string& path) { return std::ifstream(path).good(); }

bool allDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Reads "info string et= S.SSS, calibration nps= N".
bool parseCalibration(const std::string& line, double& seconds, double& nps) {
  const std::string head = "info string et= ", middle = ", calibration nps= ";
  size_t m = line.find(middle);
  if (line.rfind(head, 0) != 0 || m == std::string::npos) return false;
  std::string s = line.substr(head.size(), m - head.size()), n = line.substr(m + middle.size());
  size_t dot = s.find('.');
  if (dot == std::string::npos || !allDigits(s.substr(0, dot)) || s.size() - dot != 4 || !allDigits(s.substr(dot + 1)) ||
      !allDigits(n))
    return false;
  seconds = std::stod(s);
  nps = std::stod(n);
  return true;
}

}  // namespace

TEST(Startup, HandCraftedStartPrintsGreetingEvaluationAndCalibration) {
  EngineProcess engine({"-use_hce"});
  ASSERT_TRUE(engine.started());
  ASSERT_EQ(runToEnd(engine, ""), 0) << engine.transcript();
  auto lines = engine.lines();
  ASSERT_EQ(lines.size(), 6u) << engine.transcript();
  // The table is allocated before the greeting.
  EXPECT_EQ(lines[0], "info string allocated 64 Mbytes for hash table");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "Hello from Vesk 5.00");
  EXPECT_EQ(lines[3], "") << "the greeting is followed by an empty line";
  EXPECT_EQ(lines[4], "using hand-crafted evaluation");
  double seconds = 0, nps = 0;
  ASSERT_TRUE(parseCalibration(lines[5], seconds, nps)) << lines[5];
  // Calibration runs until the clock shows 0.3 seconds.
  EXPECT_GE(seconds, 0.3);
  EXPECT_LT(seconds, 5.0);
  EXPECT_GT(nps, 0.0);
  EXPECT_EQ(engine.errors(), "");
}

TEST(Startup, MissingNetworkEndsWithStatusOne) {
  // No network file exists in the fresh working directory, nor beside the
  // copy of the engine that runs.
  testutil::TempDir bin;
  const std::string engineCopy = testutil::copyOfEngine(bin);
  ASSERT_FALSE(engineCopy.empty());
  for (std::vector<std::string> args : {std::vector<std::string>{}, {"-use_hce", "-use_nn"}, {"-c"}}) {
    EngineProcess engine(args, {}, false, engineCopy);
    ASSERT_EQ(runToEnd(engine, "isready\n"), 1) << engine.transcript();
    auto lines = engine.lines();
    ASSERT_GE(lines.size(), 5u) << engine.transcript();
    EXPECT_EQ(lines[2], "Hello from Vesk 5.00");
    EXPECT_EQ(engine.countLines("error loading NN"), 1u) << engine.transcript();
    EXPECT_EQ(engine.output().find("calibration"), std::string::npos) << "no command loop after a failed load";
    EXPECT_EQ(engine.countLines("readyok"), 0u);
    EXPECT_EQ(engine.countLines("using hand-crafted evaluation"), 0u);
  }
}

TEST(Startup, ToolModesWithoutActivityEndAfterStartUp) {
  for (const char* mode : {"-bench2", "-mkconfig"}) {
    EngineProcess engine({"-use_hce", mode});
    // Input is ignored: these modes never read commands.
    ASSERT_EQ(runToEnd(engine, "isready\n"), 0) << mode << "\n" << engine.transcript();
    std::vector<std::string> expected = {"info string allocated 64 Mbytes for hash table", "", "Hello from Vesk 5.00", "",
                                         "using hand-crafted evaluation"};
    EXPECT_EQ(engine.lines(), expected) << mode;
  }
}

TEST(Startup, TrainingSwitchesAreRefused) {
  const std::vector<std::vector<std::string>> refused = {
      {"-use_hce", "-train_nn"},
      {"-use_hce", "-tune", "data.epd", "0.5", "100"},
      {"-use_hce", "-tune2", "data.epd", "0.5", "100", "1"},
      {"-use_hce", "-mktraindata", "data.pgn", "5"},
  };
  for (const auto& args : refused) {
    EngineProcess engine(args);
    EXPECT_EQ(runToEnd(engine, ""), 1) << args[1] << "\n" << engine.transcript();
    EXPECT_EQ(engine.countLines("Need to compile with 'make ttune'"), 1u) << args[1] << "\n" << engine.transcript();
    EXPECT_EQ(engine.output().find("Hello from"), std::string::npos) << "refused before the greeting";
  }
}

TEST(Startup, TuningSwitchesWithTooFewValuesEndWithStatusOne) {
  const std::vector<std::vector<std::string>> tooFew = {
      {"-use_hce", "-tune"},
      {"-use_hce", "-tune", "data.epd"},
      {"-use_hce", "-tune", "data.epd", "0.5"},
      {"-use_hce", "-tune2", "data.epd", "0.5"},
      {"-use_hce", "-mktraindata"},
  };
  for (const auto& args : tooFew) {
    EngineProcess engine(args);
    EXPECT_EQ(runToEnd(engine, ""), 1) << args.size() << " arguments\n" << engine.transcript();
    EXPECT_EQ(engine.output().find("Hello from"), std::string::npos);
  }
}

TEST(Startup, ValueSwitchGivenLastIsReportedAndEndsWithStatusOne) {
  for (const char* sw : {"-hash", "-threads", "-noise", "-cfg", "-d", "-t", "-n", "-nps", "-book", "-tbpath", "-o",
                         "-anepd", "-mkbook", "-mktune1", "-mktune2", "-scan_pgn1"}) {
    EngineProcess engine({"-use_hce", sw});
    EXPECT_EQ(runToEnd(engine, "quit\n"), 1) << sw << "\n" << engine.transcript();
    EXPECT_NE(engine.output().find(sw), std::string::npos) << "the message names the switch\n" << engine.transcript();
    EXPECT_EQ(engine.output().find("Hello from"), std::string::npos) << sw;
  }
}

TEST(Startup, MalformedNumbersAreRefused) {
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"-hash", "abc"}, {"-hash", "12x"},  {"-hash", ""},       {"-threads", "two"}, {"-noise", "nan"},
      {"-t", "inf"},    {"-d", "1e999"},   {"-n", "--5"},       {"-nps", "0"},       {"-nps", "-5"},
  };
  for (const auto& [sw, value] : bad) {
    EngineProcess engine({"-use_hce", sw, value, "-bench2"});
    EXPECT_EQ(runToEnd(engine, ""), 1) << sw << " '" << value << "'\n" << engine.transcript();
    EXPECT_NE(engine.output().find(sw), std::string::npos) << "the message names the switch\n" << engine.transcript();
    EXPECT_EQ(engine.output().find("Hello from"), std::string::npos) << sw << " " << value;
  }
}

TEST(Startup, NumbersOutsideTheirRangeAreClampedNotRefused) {
  EngineProcess engine({"-use_hce", "-hash", "100000", "-threads", "0", "-d", "500", "-n", "100000", "-t", "-3",
                        "-noise", "0.5", "-hash", "-5", "-threads", "500", "-bench2"});
  EXPECT_EQ(runToEnd(engine, ""), 0) << engine.transcript();
  EXPECT_EQ(engine.countLines("using hand-crafted evaluation"), 1u);
}

TEST(Startup, NpsSwitchPrintsTheMatchingElo) {
  EngineProcess engine({"-nps", "1000", "-use_hce", "-bench2"});
  ASSERT_EQ(runToEnd(engine, ""), 0) << engine.transcript();
  auto lines = engine.lines();
  ASSERT_FALSE(lines.empty());
  // ln(1000) * 150 + 1050 = 2086.16, truncated.
  EXPECT_EQ(lines[0], "Elo= 2086");
}

TEST(Startup, UnknownArgumentsAreIgnored) {
  EngineProcess engine({"-foo", "bar", "-use_hce", "--bench2", "-bench2"});
  EXPECT_EQ(runToEnd(engine, ""), 0) << engine.transcript();
}

TEST(Startup, TablebaseShortcutWithoutPathSaysSo) {
  EngineProcess engine({"-tbx", "-use_hce", "-bench2"});
  EXPECT_EQ(runToEnd(engine, ""), 0) << engine.transcript();
  EXPECT_NE(engine.output().find("-tbx"), std::string::npos) << engine.transcript();
  EXPECT_EQ(engine.output().find("C:\\"), std::string::npos) << "no Windows directory on this platform";
}

TEST(Startup, LogSwitchReplacesAnOldLogAndRecordsTheSession) {
  testutil::TempDir dir;
  {
    std::ofstream old(dir.file("vesk.log"));
    old << "stale content from an earlier run\n";
  }
  EngineProcess engine({"-log", "-use_hce"}, dir.path());
  ASSERT_EQ(runToEnd(engine, "isready\n"), 0) << engine.transcript();
  EXPECT_EQ(engine.countLines("readyok"), 1u);
  EXPECT_EQ(engine.output().find("CMD:"), std::string::npos) << "the command echo goes to the log only";
  std::string log = readFile(dir.file("vesk.log"));
  EXPECT_EQ(log.find("stale content"), std::string::npos) << log;
  EXPECT_NE(log.find("Hello from Vesk 5.00\n"), std::string::npos) << log;
  EXPECT_NE(log.find("CMD: isready\n"), std::string::npos) << log;
  EXPECT_NE(log.find("readyok\n"), std::string::npos) << log;
}

TEST(Startup, LaterSwitchesOverrideEarlierOnes) {
  {
    // "-quiet" turns the log off again.
    testutil::TempDir dir;
    EngineProcess engine({"-log", "-quiet", "-use_hce", "-bench2"}, dir.path());
    EXPECT_EQ(runToEnd(engine, ""), 0) << engine.transcript();
    EXPECT_FALSE(fileExists(dir.file("vesk.log")));
  }
  {
    // "-uci" after "-c": UCI commands are understood.
    EngineProcess engine({"-c", "-uci", "-use_hce"});
    EXPECT_EQ(runToEnd(engine, "isready\n"), 0) << engine.transcript();
    EXPECT_EQ(engine.countLines("readyok"), 1u) << engine.transcript();
  }
}

// The default start loads "nn.bin" from the working directory, evaluates
// with it ("ev" in the console shows the network's score), and a broken file
// stops the start with status 1.
TEST(Startup, DefaultStartLoadsTheNetworkFile) {
  testutil::TempDir dir;
  {
    // Smallest valid network: 896 + 42 inputs, 1 x 1 hidden, one output,
    // all weights zero, so every position scores 0.
    const uint16_t header[9] = {0, 1, 896, 42, 1, 1, 1, 0, 0};
    const size_t floats = (896 + 42) * 1 + 1 * 1 + 1 * 1 + 1 + 8;
    std::ofstream out(dir.file("nn.bin"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(header), 18);
    std::vector<float> zeros(floats, 0.0f);
    out.write(reinterpret_cast<const char*>(zeros.data()), static_cast<std::streamsize>(floats * 4));
  }
  EngineProcess engine({"-c"}, dir.path());
  ASSERT_TRUE(engine.started());
  ASSERT_EQ(runToEnd(engine, "ev\nquit\n"), 0) << engine.transcript();
  auto lines = engine.lines();
  ASSERT_GE(lines.size(), 5u) << engine.transcript();
  EXPECT_EQ(lines[4], "loaded NN");
  EXPECT_NE(engine.transcript().find("NN eval= 0"), std::string::npos) << engine.transcript();

  // A file cut short is refused.
  std::filesystem::resize_file(dir.file("nn.bin"), 100);
  EngineProcess broken({}, dir.path());
  ASSERT_TRUE(broken.started());
  EXPECT_EQ(runToEnd(broken, ""), 1) << broken.transcript();
  EXPECT_NE(broken.transcript().find("error loading NN"), std::string::npos);
}
