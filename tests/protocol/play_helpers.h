// Helpers for driving the engine the way a chess GUI does: reply timing that
// tolerates a loaded machine, and legality of the moves it answers with.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "protocol/engine_process.h"
#include "search/search_helpers.h"

namespace playtest {

using testutil::EngineProcess;
using Clock = std::chrono::steady_clock;

inline const std::vector<std::string> kHce = {"-use_hce"};

using testutil::kSanitized;

inline double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds from writing `command` until `reply` shows up after it; -1 when it
// never came within the timeout.
inline double replyDelay(EngineProcess& engine, const std::string& command, const std::string& reply,
                         double timeout = 10.0) {
  const size_t from = engine.output().size();
  const auto start = Clock::now();
  if (!engine.send(command)) return -1;
  if (!engine.waitFor(reply, timeout, from)) return -1;
  return secondsSince(start);
}

// A single slow sample says more about the machine than about the engine.
inline double median(std::vector<double> samples) {
  if (samples.empty()) return -1;
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

inline std::string join(const std::vector<double>& samples) {
  std::string text;
  for (double s : samples) text += std::to_string(static_cast<int>(s * 1000)) + "ms ";
  return text;
}

using testutil::afterStartup;

// Lines printed between `from` and the next "readyok" (exclusive).
inline std::vector<std::string> linesUntilReady(EngineProcess& engine, size_t from, double timeout = 10.0) {
  if (!engine.waitFor("readyok\n", timeout, from)) return {"<no readyok>"};
  const std::string& out = engine.output();
  std::vector<std::string> lines;
  size_t at = from;
  for (;;) {
    const size_t end = out.find('\n', at);
    if (end == std::string::npos) return lines;
    std::string line = out.substr(at, end - at);
    if (line == "readyok") return lines;
    lines.push_back(line);
    at = end + 1;
  }
}

// Sends a command followed by "isready" and returns what the command printed.
inline std::vector<std::string> roundTrip(EngineProcess& engine, const std::string& command) {
  const size_t from = engine.output().size();
  if (!engine.send(command + "\nisready\n")) return {"<send failed>"};
  return linesUntilReady(engine, from);
}

// Starts the engine with the given search thread count and waits until it
// takes commands.
inline void startWithThreads(EngineProcess& engine, int threads) {
  ASSERT_TRUE(engine.started());
  const auto reply = roundTrip(engine, "setoption name Threads value " + std::to_string(threads));
  ASSERT_EQ(afterStartup(reply), std::vector<std::string>{"info string Threads set to " + std::to_string(threads)})
      << engine.transcript();
}

// The root described by the arguments of a "position" command.
inline std::unique_ptr<testutil::Board> rootOf(const std::string& args) {
  testutil::initTables();
  const size_t movesAt = args.find(" moves ");
  const std::string head = args.substr(0, movesAt);
  auto b = std::make_unique<testutil::Board>(head == "startpos" ? std::string(board::kStartFen) : head.substr(4));
  if (movesAt != std::string::npos) {
    EXPECT_TRUE(searchtest::playMoves(*b, searchtest::splitWords(args.substr(movesAt + 7)))) << args.substr(0, 200);
  }
  return b;
}

// The answer is legal at the root, and so is the ponder move after it.
inline testing::AssertionResult legalAnswer(const std::string& positionArgs, const searchtest::GoReply& reply) {
  if (!reply.answered) return testing::AssertionFailure() << "no bestmove";
  platform::uci_mode = 1;
  auto root = rootOf(positionArgs);
  if (!searchtest::legalMoveTexts(root->pos).count(reply.best))
    return testing::AssertionFailure() << "bestmove " << reply.best << " is not legal after position "
                                       << positionArgs.substr(0, 200);
  if (!reply.ponder.empty()) {
    searchtest::playMoves(*root, {reply.best});
    if (!searchtest::legalMoveTexts(root->pos).count(reply.ponder))
      return testing::AssertionFailure() << "ponder " << reply.ponder << " is not legal after " << reply.best;
  }
  return testing::AssertionSuccess();
}

inline size_t countOf(const std::string& text, const std::string& word, size_t from = 0) {
  size_t n = 0;
  for (size_t at = text.find(word, from); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

}  // namespace playtest
