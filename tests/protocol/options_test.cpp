// "setoption" argument splitting and the option handler.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "protocol/engine_process.h"
#include "protocol/game_fixture.h"
#include "platform/output.h"

namespace {

std::pair<std::string, std::string> split(const std::string& args) {
  std::string name = "stale", value = "stale";
  protocol::splitSetoption(args, name, value);
  return {name, value};
}

using Pair = std::pair<std::string, std::string>;

}  // namespace

TEST(SplitSetoption, NameAndValue) {
  EXPECT_EQ(split("name Hash value 128"), Pair("Hash", "128"));
  EXPECT_EQ(split("name   Hash    value    128   "), Pair("Hash", "128"));
  EXPECT_EQ(split("\tname\tHash\tvalue\t128"), Pair("Hash", "128"));
  // Names and values may contain spaces; only the ends are trimmed.
  EXPECT_EQ(split("name Clear Hash Now value a  b c "), Pair("Clear Hash Now", "a  b c"));
  EXPECT_EQ(split("name SyzygyPath value /tb/three:/tb/four five"), Pair("SyzygyPath", "/tb/three:/tb/four five"));
  // Only whole words count as the keywords.
  EXPECT_EQ(split("name Book valueX value 3"), Pair("Book valueX", "3"));
  EXPECT_EQ(split("name nameless value values"), Pair("nameless", "values"));
  // The first "value" after the name starts the value; later ones belong to it.
  EXPECT_EQ(split("name X value a value b"), Pair("X", "a value b"));
}

TEST(SplitSetoption, NameWithoutValue) {
  EXPECT_EQ(split("name Clear_Hash"), Pair("Clear_Hash", ""));
  EXPECT_EQ(split("name   Clear_Hash   "), Pair("Clear_Hash", ""));
  EXPECT_EQ(split("name Clear_Hash value"), Pair("Clear_Hash", ""));
  EXPECT_EQ(split("name Clear_Hash value    "), Pair("Clear_Hash", ""));
  EXPECT_EQ(split("name"), Pair("", ""));
}

TEST(SplitSetoption, MissingOrMisplacedNameGivesNothing) {
  EXPECT_EQ(split(""), Pair("", ""));
  EXPECT_EQ(split("   "), Pair("", ""));
  EXPECT_EQ(split("Hash value 128"), Pair("", ""));
  EXPECT_EQ(split("names Hash value 128"), Pair("", ""));
  EXPECT_EQ(split("value 128 name Hash"), Pair("", ""));
  EXPECT_EQ(split("value 128"), Pair("", ""));
}

TEST(SplitSetoption, LengthsAreBounded) {
  std::string longName(500, 'n'), longValue(500, 'v');
  auto [name, value] = split("name " + longName + " value " + longValue);
  EXPECT_EQ(name, std::string(100, 'n'));
  EXPECT_EQ(value, std::string(200, 'v'));
  EXPECT_EQ(split("name " + longName).first, std::string(100, 'n'));
}

namespace {

// Runs the handler inside a temporary working directory so a log file
// created by it never lands in the source tree.
class ApplyOption : public testutil::GameFixture {
 protected:
  void SetUp() override {
    GameFixture::SetUp();
    ASSERT_NE(getcwd(oldDir_, sizeof oldDir_), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override {
    platform::setLogEnabled(false);
    platform::closeLogFile();
    protocol::live_options = protocol::EngineOptions{};
    protocol::saved_options = protocol::live_options;
    EXPECT_EQ(chdir(oldDir_), 0);
    GameFixture::TearDown();
  }
  testutil::TempDir dir_;
  char oldDir_[4096] = {};
};

}  // namespace

TEST_F(ApplyOption, UnknownNamesAreSilent) {
  protocol::EngineOptions before = protocol::live_options;
  EXPECT_EQ(uci("setoption name NoSuchOption value 5"), std::vector<std::string>{});
  EXPECT_EQ(uci("setoption value 5 name Log"), std::vector<std::string>{});
  EXPECT_EQ(uci("setoption"), std::vector<std::string>{});
  EXPECT_EQ(protocol::live_options.Log, before.Log);
  EXPECT_FALSE(std::ifstream(dir_.file("vesk.log")).good());
}

TEST_F(ApplyOption, LogIsACheckOptionMatchedWithoutCase) {
  EXPECT_EQ(uci("setoption name LOG value it is true"), std::vector<std::string>{"info string LOG set to 1"});
  EXPECT_EQ(protocol::live_options.Log, 1);
  EXPECT_EQ(protocol::saved_options.Log, 1) << "setoption copies the live record into the saved one";
  EXPECT_TRUE(std::ifstream(dir_.file("vesk.log")).good());
  // "uci" lists the saved value as the default.
  auto reply = uci("uci");
  EXPECT_NE(std::find(reply.begin(), reply.end(), "option name Log type check default true"), reply.end());

  EXPECT_EQ(uci("setoption name log value TRUE"), std::vector<std::string>{"info string log set to 0"})
      << "only the lower-case word switches a check on";
  EXPECT_EQ(protocol::live_options.Log, 0);
  EXPECT_EQ(uci("setoption name Log value false"), std::vector<std::string>{"info string Log set to 0"});
  EXPECT_EQ(uci("setoption name Log"), std::vector<std::string>{"info string Log set to 0"});
}
