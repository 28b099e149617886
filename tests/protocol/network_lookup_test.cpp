// Where the network file is found: the working directory first, then
// beside the executable (where the build puts a shipped network).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/platform.h"
#include "protocol/engine_process.h"

using testutil::EngineProcess;
using testutil::runToEnd;

namespace {

// The smallest network the engine loads: 896 + 42 inputs, one neuron per
// layer, every weight zero.
void writeZeroNetwork(const std::string& path) {
  const uint16_t header[9] = {0, 1, 896, 42, 1, 1, 1, 0, 0};
  const size_t floats = (896 + 42) + 1 + 1 + 1 + 8;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(header), sizeof header);
  const std::vector<float> zeros(floats, 0.0f);
  out.write(reinterpret_cast<const char*>(zeros.data()), static_cast<std::streamsize>(floats * sizeof(float)));
}

// Runs the body with the working directory moved to dir.
template <typename Body>
void inDirectory(const std::string& dir, Body body) {
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  body();
  std::filesystem::current_path(saved);
}

TEST(NetworkLookup, RelativeNameMissingHereIsLookedForBesideTheExecutable) {
  const std::string exeDir = platform::executableDirectory();
  ASSERT_FALSE(exeDir.empty());
  const std::string name = "vesk-lookup-" + std::to_string(getpid()) + ".bin";
  const std::string beside = exeDir + "/" + name;
  testutil::TempDir work;
  std::ofstream(beside) << "x";
  inDirectory(work.path(), [&] {
    EXPECT_EQ(platform::findDataFile(name), beside);
    EXPECT_EQ(platform::findDataFile("/nowhere/" + name), "/nowhere/" + name) << "absolute names stay";
    EXPECT_EQ(platform::findDataFile("other-" + name), "other-" + name) << "in neither place: unchanged";
    std::ofstream(name) << "here";
    EXPECT_EQ(platform::findDataFile(name), name) << "the working directory comes first";
  });
  std::filesystem::remove(beside);
}

TEST(NetworkLookup, EngineLoadsTheNetworkBesideItAndFailsWithoutOne) {
  testutil::TempDir bin;
  const std::string engineCopy = testutil::copyOfEngine(bin);
  ASSERT_FALSE(engineCopy.empty());
  {
    EngineProcess engine({}, {}, false, engineCopy);
    EXPECT_EQ(runToEnd(engine, "isready\n"), 1) << engine.transcript();
    EXPECT_EQ(engine.countLines("error loading NN"), 1u) << engine.transcript();
  }
  writeZeroNetwork(bin.file("nn.bin"));
  {
    // The working directory is a fresh one without a network.
    EngineProcess engine({"-c"}, {}, false, engineCopy);
    ASSERT_EQ(runToEnd(engine, "ev\nquit\n"), 0) << engine.transcript();
    EXPECT_EQ(engine.countLines("loaded NN"), 1u) << engine.transcript();
    EXPECT_NE(engine.transcript().find("NN eval= 0"), std::string::npos) << engine.transcript();
  }
  {
    // A broken network in the working directory is not passed over for the good one.
    testutil::TempDir work;
    std::ofstream(work.file("nn.bin")) << "broken";
    EngineProcess engine({}, work.path(), false, engineCopy);
    EXPECT_EQ(runToEnd(engine, "isready\n"), 1) << engine.transcript();
    EXPECT_EQ(engine.countLines("error loading NN"), 1u) << engine.transcript();
  }
}

}  // namespace
