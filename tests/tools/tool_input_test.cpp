// The benchmark and the EPD runner read commands while they search: "quit"
// ends the run after the current position with its summary, "stop" moves
// on to the next position, and commands that would change the game are
// refused, never left to hang the tool.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "protocol/engine_process.h"

using testutil::EngineProcess;

namespace {

int count(const EngineProcess& engine, const std::string& prefix) {
  int n = 0;
  for (const auto& line : engine.lines()) n += line.rfind(prefix, 0) == 0;
  return n;
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string wacSuite() { return std::string(VESK_TEST_DATA) + "/wac.epd"; }

}  // namespace

TEST(ToolInput, QuitEndsTheBenchmarkAndTheEpdRunnerWithTheirSummaries) {
  std::mt19937 rng(12345);
  for (const char* word : {"quit", "position startpos", "go depth 3", "ucinewgame"}) {
    for (int tool = 0; tool < 2; ++tool) {
      SCOPED_TRACE(std::string(word) + (tool ? " -anepd" : " -bench"));
      const std::vector<std::string> args =
          tool ? std::vector<std::string>{"-use_hce", "-anepd", wacSuite(), "-d", "40", "-o", "out.epd"}
               : std::vector<std::string>{"-use_hce", "-bench", "-d", "40"};
      EngineProcess engine(args);
      sleepMs(100 + static_cast<int>(rng() % 300));
      // The game-changing command is refused; "quit" after it still ends the run.
      ASSERT_TRUE(engine.send(std::string(word) + "\n"));
      sleepMs(static_cast<int>(rng() % 100));
      engine.send("quit\n");  // after a first "quit" the engine may be gone already
      ASSERT_EQ(engine.wait(30.0), 0) << engine.transcript();
      // The position being searched is finished and reported.
      if (tool) {
        EXPECT_EQ(count(engine, "pos= "), count(engine, "move= ")) << engine.transcript();
      }
      EXPECT_EQ(count(engine, tool ? "score= " : "total time= "), 1) << "the summary is printed";
      if (std::string(word) != "quit") {
        EXPECT_EQ(count(engine, "info string " + std::string(word).substr(0, std::string(word).find(' '))), 1)
            << engine.transcript();
      }
    }
  }
}

TEST(ToolInput, StopMovesOnToTheNextPosition) {
  for (int tool = 0; tool < 2; ++tool) {
    SCOPED_TRACE(tool ? "-anepd" : "-bench");
    const std::vector<std::string> args =
        tool ? std::vector<std::string>{"-use_hce", "-anepd", wacSuite(), "-d", "60", "-o", "out.epd"}
             : std::vector<std::string>{"-use_hce", "-bench", "-d", "40"};
    EngineProcess engine(args);
    const std::string counted = tool ? "pos= " : "pos ";
    // Each "stop" ends the search of one position; the run goes on.
    for (int i = 0; i < 3; ++i) {
      sleepMs(200);
      ASSERT_TRUE(engine.send("stop\n"));
    }
    sleepMs(200);
    ASSERT_TRUE(engine.send("isready\nquit\n"));
    ASSERT_EQ(engine.wait(30.0), 0) << engine.transcript();
    EXPECT_GE(count(engine, counted), 3) << engine.transcript();
    EXPECT_EQ(count(engine, "readyok"), 1) << "isready is answered during a tool search";
  }
}
