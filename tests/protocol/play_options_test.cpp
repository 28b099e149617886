// Options as a GUI sees them through the real binary: the "uci" listing,
// "setoption" for every option, the configuration file, and the strength
// limit's effect on the search speed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <thread>

#include "protocol/play_helpers.h"

using namespace playtest;
using searchtest::GoReply;
using Lines = std::vector<std::string>;

namespace {

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::string tail(const EngineProcess& engine) {
  const std::string t = engine.transcript();
  return t.size() > 3000 ? "..." + t.substr(t.size() - 3000) : t;
}

// The listing with the given defaults; UCI_Elo's default and maximum are the
// engine's measured maximum, read from the listing itself.
std::string listing(const std::map<std::string, std::string>& defaults, int elo, int eloDefault = 0) {
  auto d = [&](const char* name) { return defaults.at(name); };
  return "id name Vesk 5.00\n"
         "id author Tarvell\n"
         "option name ConfigFilePath type string default " + d("ConfigFilePath") + "\n"
         "option name Hash type spin default " + d("Hash") + " min 0 max 32768\n"
         "option name Threads type spin default " + d("Threads") + " min 1 max 160\n"
         "option name Clear_Hash type button\n"
         "option name NN_File type string default " + d("NN_File") + "\n"
         "option name Use_NN_eval type check default " + d("Use_NN_eval") + "\n"
         "option name OwnBook type check default " + d("OwnBook") + "\n"
         "option name OwnBook_File type string default " + d("OwnBook_File") + "\n"
         "option name OwnBook_Depth type spin default " + d("OwnBook_Depth") + " min 0 max 60\n"
         "option name OwnBook2_File type string default " + d("OwnBook2_File") + "\n"
         "option name OwnBook2_Depth type spin default " + d("OwnBook2_Depth") + " min 0 max 60\n"
         "option name OwnBook_Variety type spin default " + d("OwnBook_Variety") + " min 0 max 100\n"
         "option name SyzygyPath type string default " + d("SyzygyPath") + "\n"
         "option name SyzygyProbeDepth6 type spin default " + d("SyzygyProbeDepth6") + " min -5 max 100\n"
         "option name Log type check default " + d("Log") + "\n"
         "option name Ponder type check default " + d("Ponder") + "\n"
         "option name MultiPV type spin default " + d("MultiPV") + " min 1 max 255\n"
         "option name MoveOverhead type spin default " + d("MoveOverhead") + " min 0 max 5000\n"
         "option name UCI_LimitStrength type check default " + d("UCI_LimitStrength") + "\n"
         "option name UCI_Elo type spin default " + std::to_string(eloDefault ? eloDefault : elo) +
         " min 1500 max " + std::to_string(elo) + "\n"
         "option name Contempt type spin default " + d("Contempt") + " min -150 max 150\n"
         "option name Selectivity type spin default " + d("Selectivity") + " min 0 max 200\n"
         // The options beyond the first 22 follow them.
         "option name UCI_ShowWDL type check default " + d("UCI_ShowWDL") + "\n"
         "option name SyzygyProbeLimit type spin default " + d("SyzygyProbeLimit") + " min 0 max 7\n"
         "uciok\n";
}

const std::map<std::string, std::string> kDefaults = {
    {"ConfigFilePath", ""}, {"Hash", "64"},       {"Threads", "1"},         {"NN_File", "nn.bin"},
    {"Use_NN_eval", "false"}, {"OwnBook", "false"}, {"OwnBook_File", ""},     {"OwnBook_Depth", "24"},
    {"OwnBook2_File", ""},  {"OwnBook2_Depth", "0"}, {"OwnBook_Variety", "25"}, {"SyzygyPath", ""},
    {"SyzygyProbeDepth6", "1"}, {"Log", "false"}, {"Ponder", "true"},       {"MultiPV", "1"},
    {"MoveOverhead", "50"}, {"UCI_LimitStrength", "false"}, {"Contempt", "0"}, {"Selectivity", "100"},
    {"UCI_ShowWDL", "false"}, {"SyzygyProbeLimit", "7"},
};

// Sends "uci" and returns the exact bytes of the answer; elo receives the
// maximum the UCI_Elo line states.
std::string uciAnswer(EngineProcess& engine, int& elo) {
  const size_t from = engine.output().size();
  if (!engine.send("uci\n") || !engine.waitFor("uciok\n", 10.0, from)) return "<no uciok>";
  const std::string text = engine.output().substr(from, engine.output().find("uciok\n", from) + 6 - from);
  const size_t at = text.find("option name UCI_Elo type spin default ");
  int shown = 0;
  elo = 0;
  if (at != std::string::npos)
    sscanf(text.c_str() + at, "option name UCI_Elo type spin default %d min 1500 max %d", &shown, &elo);
  return text;
}

// Waits for the start-up block to end so later output is the commands' own.
void ready(EngineProcess& engine) {
  ASSERT_TRUE(engine.started());
  ASSERT_GE(replyDelay(engine, "isready\n", "readyok\n", 15.0), 0.0) << tail(engine);
}

}  // namespace

TEST(PlayOptions, UciListsIdentityAndEveryOptionInOrder) {
  EngineProcess engine(kHce);
  ASSERT_NO_FATAL_FAILURE(ready(engine));
  int elo = 0;
  const std::string answer = uciAnswer(engine, elo);
  EXPECT_EQ(answer, listing(kDefaults, elo));

  // The maximum is the strength the start-up calibration measured.
  double nps = 0;
  for (const std::string& line : engine.lines())
    if (line.rfind("info string et= ", 0) == 0) nps = std::stod(line.substr(line.find("nps= ") + 5));
  ASSERT_GT(nps, 0.0) << tail(engine);
  EXPECT_NEAR(elo, std::floor(std::log(nps) * 150 + 1050), 1.0) << "calibration nps " << nps;

  // Asking again changes nothing.
  int again = 0;
  EXPECT_EQ(uciAnswer(engine, again), answer);
  ASSERT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

TEST(PlayOptions, SetoptionStoresClampedValuesAndSaysSo) {
  testutil::TempDir dir;
  EngineProcess engine(kHce, dir.path());
  ASSERT_NO_FATAL_FAILURE(ready(engine));
  const std::string longText(180, 'p');
  const auto says = [](const std::string& name, int v) {
    return Lines{"info string " + name + " set to " + std::to_string(v)};
  };
  const auto allocated = [](int mb) {
    return Lines{"info string Hash set to " + std::to_string(mb),
                 "info string allocated " + std::to_string(mb) + " Mbytes for hash table", ""};
  };
  struct Case {
    std::string command;
    Lines expected;
  };
  // For each option: valid, out of range, garbage; the last value of each stays.
  const Case cases[] = {
      // Size 0 is a table change like any other and is announced as one.
      {"name Hash value -5", allocated(0)},
      {"name Hash value lots", says("Hash", 0)},
      {"name hAsH value 4", {"info string hAsH set to 4", "info string allocated 4 Mbytes for hash table", ""}},
      {"name Hash value 2", allocated(2)},
      {"name Threads value 0", says("Threads", 1)},
      {"name Threads value 999", says("Threads", 160)},
      {"name Threads value many", says("Threads", 1)},
      {"name Threads value 2", says("Threads", 2)},
      {"name Clear_Hash", {"info string Hash table cleared"}},
      {"name clear_hash value now", {"info string Hash table cleared"}},
      {"name OwnBook value 1", says("OwnBook", 0)},
      {"name OwnBook value TRUE", says("OwnBook", 0)},
      {"name OwnBook value true", says("OwnBook", 1)},
      {"name OwnBook_File value " + longText, {"info string OwnBook_File set to '" + longText.substr(0, 143) + "'"}},
      {"name ownbook_file value /books/main.bin", {"info string OwnBook_File set to '/books/main.bin'"}},
      {"name OwnBook_Depth value 61", says("OwnBook_Depth", 60)},
      {"name OwnBook_Depth value -1", says("OwnBook_Depth", 0)},
      {"name OwnBook_Depth value 30", says("OwnBook_Depth", 30)},
      {"name OwnBook2_File value /books/second.bin", {"info string OwnBook2_File set to '/books/second.bin'"}},
      {"name OwnBook2_Depth value 99", says("OwnBook2_Depth", 60)},
      {"name OwnBook2_Depth value 12", says("OwnBook2_Depth", 12)},
      {"name OwnBook_Variety value 101", says("OwnBook_Variety", 100)},
      {"name OwnBook_Variety value x", says("OwnBook_Variety", 0)},
      {"name OwnBook_Variety value 40", says("OwnBook_Variety", 40)},
      {"name SyzygyProbeDepth6 value -6", says("SyzygyProbeDepth6", -5)},
      {"name SyzygyProbeDepth6 value 101", says("SyzygyProbeDepth6", 100)},
      {"name SyzygyProbeDepth6 value 7", says("SyzygyProbeDepth6", 7)},
      {"name Log value true", says("Log", 1)},
      {"name Log value yes", says("Log", 0)},
      {"name Ponder value false", says("Ponder", 0)},
      {"name Ponder value it is true", says("Ponder", 1)},
      {"name Ponder value off", says("Ponder", 0)},
      {"name MultiPV value 0", says("MultiPV", 1)},
      {"name MultiPV value 300", says("MultiPV", 255)},
      {"name multipv value 3", says("multipv", 3)},
      {"name MoveOverhead value 5001", says("MoveOverhead", 5000)},
      {"name MoveOverhead value -1", says("MoveOverhead", 0)},
      {"name MoveOverhead value 120ms", says("MoveOverhead", 120)},
      {"name UCI_LimitStrength value true", says("UCI_LimitStrength", 1)},
      {"name UCI_LimitStrength value false", says("UCI_LimitStrength", 0)},
      {"name UCI_Elo value 1000", says("UCI_Elo", 1500)},
      {"name UCI_Elo value 4000", says("UCI_Elo", 3300)},
      {"name UCI_Elo value strong", says("UCI_Elo", 1500)},
      {"name UCI_Elo value 2000", says("UCI_Elo", 2000)},
      {"name Contempt value -200", says("Contempt", -150)},
      {"name Contempt value 151", says("Contempt", 150)},
      {"name Contempt value none", says("Contempt", 0)},
      {"name Contempt value -20", says("Contempt", -20)},
      {"name Selectivity value 201", says("Selectivity", 200)},
      {"name Selectivity value -1", says("Selectivity", 0)},
      {"name Selectivity value 80", says("Selectivity", 80)},
      {"name Use_NN_eval value maybe", says("Use_NN_eval", 0)},
      {"name Use_NN_eval value false", says("Use_NN_eval", 0)},
      {"name ConfigFilePath value nowhere.cfg", {"info string ConfigFilePath set to 'nowhere.cfg'"}},
      // Unknown names are ignored.
      {"name Hashes value 8", {}},
      {"name Book value main.bin", {}},
      {"name value 3", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(roundTrip(engine, "setoption " + c.command), c.expected) << c.command;

  // A network file that cannot be read is reported; the evaluation stays.
  Lines r = roundTrip(engine, "setoption name NN_File value missing.bin");
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(r[0], "info string NN_File set to 'missing.bin'");
  EXPECT_EQ(r[1], "info string error loading NN");
  // Without any network, the network evaluation cannot be switched on.
  r = roundTrip(engine, "setoption name Use_NN_eval value true");
  ASSERT_GE(r.size(), 2u);
  EXPECT_EQ(r.back(), "info string Use_NN_eval set to 0");
  // Registering tables may add its own count after the fixed reply.
  r = roundTrip(engine, "setoption name SYZYGYPATH value /nonexistent/tables");
  ASSERT_GE(r.size(), 1u);
  EXPECT_EQ(r[0], "info string SyzygyPath set to '/nonexistent/tables'");
  for (size_t i = 1; i < r.size(); ++i)
    EXPECT_TRUE(r[i].empty() || r[i].rfind("info string found ", 0) == 0) << r[i];

  // The listing shows what was stored last.
  auto stored = kDefaults;
  stored["Hash"] = "2";
  stored["Threads"] = "2";
  stored["OwnBook"] = "true";
  stored["OwnBook_File"] = "/books/main.bin";
  stored["OwnBook_Depth"] = "30";
  stored["OwnBook2_File"] = "/books/second.bin";
  stored["OwnBook2_Depth"] = "12";
  stored["OwnBook_Variety"] = "40";
  stored["SyzygyProbeDepth6"] = "7";
  stored["Ponder"] = "false";
  stored["MultiPV"] = "3";
  stored["MoveOverhead"] = "120";
  stored["Contempt"] = "-20";
  stored["Selectivity"] = "80";
  stored["ConfigFilePath"] = "nowhere.cfg";
  stored["NN_File"] = "missing.bin";
  stored["SyzygyPath"] = "/nonexistent/tables";
  int elo = 0;
  const std::string answer = uciAnswer(engine, elo);
  EXPECT_EQ(answer, listing(stored, elo, 2000));

  // The engine still plays with all of that, on the hand-crafted evaluation.
  EXPECT_EQ(roundTrip(engine, "setoption name OwnBook value false"), says("OwnBook", 0));
  const GoReply reply = searchtest::goAndWait(engine, "position startpos moves e2e4\ngo depth 4\n");
  EXPECT_TRUE(legalAnswer("startpos moves e2e4", reply)) << tail(engine);
  EXPECT_NE(std::find_if(reply.lines.begin(), reply.lines.end(),
                         [](const std::string& l) { return l.rfind("info multipv 3 depth 4 ", 0) == 0; }),
            reply.lines.end())
      << "three lines are searched";
  ASSERT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
  EXPECT_TRUE(std::ifstream(dir.file("vesk.log")).good()) << "Log was on for a while";
}

TEST(PlayOptions, TableAndThreadOptionsWaitForTheSearchToEnd) {
  testutil::TempDir dir;
  writeFile(dir.file("more.cfg"), "MultiPV = 4\n");
  EngineProcess engine(kHce, dir.path());
  ASSERT_NO_FATAL_FAILURE(ready(engine));
  const size_t from = engine.output().size();
  ASSERT_TRUE(engine.send("position startpos\ngo infinite\n"));
  ASSERT_TRUE(engine.waitFor("info depth", 10.0, from)) << tail(engine);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(engine.send("setoption name Hash value 8\nsetoption name Threads value 3\n"
                          "setoption name ConfigFilePath value more.cfg\nsetoption name Clear_Hash\n"
                          "setoption name Contempt value 9\nisready\n"));
  ASSERT_TRUE(engine.waitFor("readyok\n", 10.0, from)) << tail(engine);
  Lines notes;
  for (const std::string& line : engine.lines())
    if (line.rfind("info string", 0) == 0) notes.push_back(line);
  // Only the option that leaves shared structures alone took effect.
  EXPECT_EQ(afterStartup(notes), Lines{"info string Contempt set to 9"});
  EXPECT_EQ(engine.output().find("bestmove", from), std::string::npos);
  const size_t stopFrom = engine.output().size();
  ASSERT_TRUE(engine.send("stop\n"));
  EXPECT_TRUE(legalAnswer("startpos", searchtest::readGoReply(engine, stopFrom, 5.0)));

  auto stored = kDefaults;
  stored["Contempt"] = "9";
  int elo = 0;
  const std::string answer = uciAnswer(engine, elo);
  EXPECT_EQ(answer, listing(stored, elo));
  // Between searches they are taken again.
  EXPECT_EQ(roundTrip(engine, "setoption name Threads value 3"), Lines{"info string Threads set to 3"});
  ASSERT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}

TEST(PlayConfig, FileFromTheCommandLineAndFromSetoption) {
  testutil::TempDir dir;
  // Comments, short lines, Windows line ends and a last line without one.
  writeFile(dir.file("play.cfg"),
            "# Hash = 8\n"
            "Hash = 16 # sixteen megabytes\n"
            "ab\n"
            "x\n"
            "Ponder=false\r\n"
            "OwnBook_File = book.bin\r\n"
            "   # MultiPV = 9\n"
            "Selectivity = 50 # = 70\n"
            "MultiPV   =    2\n"
            "Contempt = 7");
  const Lines loaded = {"info string loading parameters from play.cfg",
                        "info string Hash set to 16",
                        "info string allocated 16 Mbytes for hash table",
                        "",
                        "info string Ponder set to 0",
                        "info string OwnBook_File set to 'book.bin'",
                        "info string Selectivity set to 50",
                        "info string MultiPV set to 2",
                        "info string Contempt set to 7"};
  EngineProcess engine({"-use_hce", "-cfg", "play.cfg"}, dir.path());
  ASSERT_NO_FATAL_FAILURE(ready(engine));
  const Lines all = engine.lines();
  const auto start = std::find(all.begin(), all.end(), loaded[0]);
  ASSERT_NE(start, all.end()) << tail(engine);
  ASSERT_GE(all.end() - start, static_cast<long>(loaded.size()));
  EXPECT_EQ(Lines(start, start + static_cast<long>(loaded.size())), loaded);
  EXPECT_EQ(engine.countLines(loaded[0]), 1u);

  auto stored = kDefaults;
  stored["ConfigFilePath"] = "play.cfg";
  stored["Hash"] = "16";
  stored["Ponder"] = "false";
  stored["OwnBook_File"] = "book.bin";
  stored["Selectivity"] = "50";
  stored["MultiPV"] = "2";
  stored["Contempt"] = "7";
  int elo = 0;
  std::string answer = uciAnswer(engine, elo);
  EXPECT_EQ(answer, listing(stored, elo));

  // A file that names itself is read once, and the engine goes on.
  const std::string self = dir.file("self.cfg");
  writeFile(self, "MoveOverhead = 120\nConfigFilePath = " + self + "\nSelectivity = 80\n");
  size_t from = engine.output().size();
  Lines r = roundTrip(engine, "setoption name ConfigFilePath value " + self);
  ASSERT_GE(r.size(), 4u) << tail(engine);
  EXPECT_EQ(r[0], "info string ConfigFilePath set to '" + self + "'");
  EXPECT_EQ(r[1], "info string loading parameters from " + self);
  EXPECT_EQ(r[2], "info string MoveOverhead set to 120");
  EXPECT_EQ(r.back(), "info string Selectivity set to 80");
  EXPECT_EQ(countOf(engine.output(), "loading parameters", from), 1u);
  EXPECT_GE(replyDelay(engine, "isready\n", "readyok\n"), 0.0);

  // A missing file is passed over in silence.
  EXPECT_EQ(roundTrip(engine, "setoption name ConfigFilePath value " + dir.file("missing.cfg")),
            Lines{"info string ConfigFilePath set to '" + dir.file("missing.cfg") + "'"});
  stored["ConfigFilePath"] = dir.file("missing.cfg");
  stored["MoveOverhead"] = "120";
  stored["Selectivity"] = "80";
  answer = uciAnswer(engine, elo);
  EXPECT_EQ(answer, listing(stored, elo));
  ASSERT_EQ(testutil::runToEnd(engine, "quit\n"), 0);

  // The same at start-up: nothing said, nothing changed.
  EngineProcess missing({"-use_hce", "-cfg", "missing.cfg"}, dir.path());
  ASSERT_NO_FATAL_FAILURE(ready(missing));
  EXPECT_EQ(missing.output().find("loading parameters"), std::string::npos);
  auto defaults = kDefaults;
  defaults["ConfigFilePath"] = "missing.cfg";
  answer = uciAnswer(missing, elo);
  EXPECT_EQ(answer, listing(defaults, elo));
  ASSERT_EQ(testutil::runToEnd(missing, "quit\n"), 0);
}

// UCI_Elo 1800 means exp((1800 - 1050) / 150), about 148 nodes per second.
TEST(PlayStrength, EloLimitHoldsTheSearchNearItsSpeed) {
  EngineProcess engine(kHce);
  ASSERT_NO_FATAL_FAILURE(ready(engine));
  EXPECT_EQ(roundTrip(engine, "setoption name UCI_LimitStrength value true\nsetoption name UCI_Elo value 1800"),
            (Lines{"info string UCI_LimitStrength set to 1", "info string UCI_Elo set to 1800"}));
  const GoReply reply = searchtest::goAndWait(engine, "position startpos\ngo movetime 3000\n");
  ASSERT_TRUE(legalAnswer("startpos", reply)) << tail(engine);
  const double nps = std::atof(searchtest::infoField(reply.finalInfo, "nps").c_str());
  const double target = std::exp((1800.0 - 1050.0) / 150.0);
  EXPECT_NEAR(nps, target, 0.2 * target) << reply.finalInfo;
  EXPECT_GE(std::atof(searchtest::infoField(reply.finalInfo, "time").c_str()), 2900.0) << reply.finalInfo;
  ASSERT_EQ(testutil::runToEnd(engine, "quit\n"), 0);
}
