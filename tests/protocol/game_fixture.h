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

// Sends file descriptor 1 to a temporary file while alive.
class StdoutCapture {
 public:
  StdoutCapture() {
    fflush(stdout);
    file_ = tmpfile();
    saved_ = dup(1);
    if (file_) dup2(fileno(file_), 1);
  }
  ~StdoutCapture() {
    finish();
    if (file_) fclose(file_);
  }
  // Restores the real stdout and returns everything written meanwhile.
  std::string finish() {
    if (saved_ >= 0) {
      fflush(stdout);
      dup2(saved_, 1);
      close(saved_);
      saved_ = -1;
      if (file_) {
        rewind(file_);
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file_)) > 0) text_.append(buffer, n);
      }
    }
    return text_;
  }

 private:
  FILE* file_ = nullptr;
  int saved_ = -1;
  std::string text_;
};

class GameFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    initTables();
    platform::uci_mode = 1;
    search::quit_requested = 0;
    search::game = new search::GameRecord{};
    search::game->position.owner = &search::game->history;
    search::setStartPosition();
  }
  void TearDown() override {
    delete search::game;
    search::game = nullptr;
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

  static std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l)) lines.push_back(l);
    return lines;
  }

  board::Position& pos() { return search::gamePosition(); }
  // FEN with the halfmove counter and the number of plies in the game history.
  std::string fen() { return board::positionToFen(pos(), true); }
  int historyLength() { return search::game->history.undoCount; }
};

}  // namespace testutil
