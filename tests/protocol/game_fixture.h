// In-process fixture for the protocol handlers: a fresh game record per test
// and the engine's standard output captured, so replies and the game position
// can both be inspected.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "protocol/protocol.h"
#include "test_util.h"

namespace testutil {

class GameFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    initTables();
    platform::uci_mode = 1;
    search::quit_requested = 0;
    ASSERT_TRUE(search::createGameRecord());
    search::setStartPosition();
  }
  void TearDown() override {
    search::releaseGameRecord();
    platform::uci_mode = 1;
    search::quit_requested = 0;
  }

  // Runs one UCI command and returns its output lines.
  std::vector<std::string> uci(const std::string& command) {
    StdoutCapture capture;
    protocol::handleUciCommand(command);
    return splitLines(capture.finish());
  }
  // Runs one line through the dispatcher of the current mode.
  std::vector<std::string> line(const std::string& text) {
    StdoutCapture capture;
    protocol::executeLine(text);
    return splitLines(capture.finish());
  }
  std::vector<std::string> console(const std::string& command) {
    StdoutCapture capture;
    protocol::run_console_command(command);
    return splitLines(capture.finish());
  }


  board::Position& pos() { return search::gamePosition(); }
  // FEN with the halfmove counter and the number of plies in the game history.
  std::string fen() { return board::positionToFen(pos(), true); }
  int historyLength() { return search::game->history.undoCount; }
};

}  // namespace testutil
