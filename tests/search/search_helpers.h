// Helpers for the search tests: the engine state an in-process search needs,
// brute-force move facts to check the engine against, and a reader for the
// replies of the real binary.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "eval/eval.h"
#include "eval/params.h"
#include "protocol/engine_process.h"
#include "protocol/game_fixture.h"
#include "search/search.h"
#include "test_util.h"

namespace searchtest {

// Everything an in-process search touches, set up fresh per test: tables,
// hand-crafted evaluation, a 1 MB table, a game record, fixed limits and no
// search output.
class InProcessSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::initTables();
    static bool once = [] {
      eval::initKpk();
      search::initSearchTables();
      return true;
    }();
    (void)once;
    platform::uci_mode = 1;
    eval::eval_mode = 0;
    search::threadCount = 1;
    protocol::live_options = protocol::EngineOptions{};
    protocol::live_options.rebuild = 0;
    search::calibration_nps = 0;
    eval::init_eval_params(protocol::live_options.personalityPercent, nullptr);
    search::ttSetEnabled(true);
    {
      testutil::StdoutCapture quiet;  // the allocation announces itself
      ASSERT_EQ(search::ttAllocate(1), 1);
    }
    ASSERT_TRUE(search::createGameRecord());
    search::search_state = search::kIdle;
    search::stop_requested = 0;
    limits = search::SearchLimits{};
    limits.level_moves = 1;
    limits.level_time = 1e7f;
    settings = search::SearchSettings{};
    settings.noise = search::kNoOutput;
  }
  void TearDown() override {
    search::releaseThreads();
    search::releaseGameRecord();
    search::ttRelease();
    search::search_state = search::kIdle;
    search::stop_requested = 0;
  }

  // What the next in-process search is given.
  search::SearchLimits limits;
  search::SearchSettings settings;

  board::Position& gamePosition() { return search::game->position; }
  void setFen(const std::string& fen) { ASSERT_EQ(board::setFromFen(gamePosition(), fen), board::kFenOk) << fen; }

  // Searches the game position to depth on the calling thread.
  void searchTo(int depth) {
    limits.depth_limit = depth;
    search::prepareSearch(limits, settings);
    search::runMainThreadSearch();
  }
  board::Move bestMove() const { return search::control.best_line[1]; }
  int bestScore() const { return search::control.best_score; }
};

// "moves" joined by spaces, `times` over.
inline std::string repeat(const std::string& moves, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text.append(i ? " " : "").append(moves);
  return text;
}

inline std::set<std::string> legalMoveTexts(board::Position& pos) {
  board::MoveEntry list[board::kMaxMoves];
  const int n = board::generateLegal(pos, list);
  std::set<std::string> texts;
  for (int i = 0; i < n; ++i) texts.insert(board::moveToText(list[i].move));
  return texts;
}

// Plays coordinate moves on b; false at the first that is not legal.
inline bool playMoves(testutil::Board& b, const std::vector<std::string>& moves) {
  for (const std::string& text : moves) {
    board::MoveEntry list[board::kMaxMoves];
    const int n = board::generateLegal(b.pos, list);
    bool found = false;
    for (int i = 0; i < n && !found; ++i)
      if (board::moveToText(list[i].move) == text) {
        board::makeMove(b.pos, list[i].move);
        found = true;
      }
    if (!found) return false;
  }
  return true;
}

// Brute-force mate facts, independent of the search. forcesMate: the side to
// move mates within n of its own moves. cannotEscape: the side to move is
// mated now, or every move it has allows such a mate within n moves.
bool forcesMate(board::Position& pos, int n);
inline bool cannotEscape(board::Position& pos, int n) {
  board::MoveEntry list[board::kMaxMoves];
  const int count = board::generateLegal(pos, list);
  if (count == 0) return board::inCheck(pos, pos.sideToMove);
  if (n == 0) return false;
  for (int i = 0; i < count; ++i) {
    board::makeMove(pos, list[i].move);
    const bool lost = forcesMate(pos, n);
    board::unmakeMove(pos);
    if (!lost) return false;
  }
  return true;
}
inline bool forcesMate(board::Position& pos, int n) {
  if (n <= 0) return false;
  board::MoveEntry list[board::kMaxMoves];
  const int count = board::generateLegal(pos, list);
  // Checks first: they settle most mating lines early.
  for (int pass = 0; pass < 2; ++pass)
    for (int i = 0; i < count; ++i) {
      if (board::givesCheck(pos, list[i].move) != (pass == 0)) continue;
      board::makeMove(pos, list[i].move);
      const bool mates = cannotEscape(pos, n - 1);
      board::unmakeMove(pos);
      if (mates) return true;
    }
  return false;
}

// One "go" answered by the binary: the bestmove line and the info line just
// before it (empty when there was none).
struct GoReply {
  bool answered = false;
  std::string best, ponder, finalInfo;
  std::vector<std::string> lines;  // everything printed for this search
};

inline std::vector<std::string> splitWords(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// Reads the engine's output from `from` until a complete "bestmove" line.
inline GoReply readGoReply(testutil::EngineProcess& engine, size_t from, double timeout) {
  GoReply reply;
  if (!engine.waitFor("bestmove", timeout, from)) return reply;
  const size_t at = engine.output().find("bestmove", from);
  if (!engine.waitFor("\n", 2.0, at)) return reply;
  std::istringstream in(engine.output().substr(from, engine.output().find('\n', at) - from));
  for (std::string line; std::getline(in, line);) reply.lines.push_back(line);
  if (reply.lines.empty()) return reply;
  const auto words = splitWords(reply.lines.back());
  if (words.size() < 2 || words[0] != "bestmove") return reply;
  reply.answered = true;
  reply.best = words[1];
  if (words.size() >= 4 && words[2] == "ponder") reply.ponder = words[3];
  if (reply.lines.size() >= 2 && reply.lines[reply.lines.size() - 2].rfind("info depth", 0) == 0)
    reply.finalInfo = reply.lines[reply.lines.size() - 2];
  return reply;
}

// Sends commands ending in a "go" and waits for its "bestmove".
inline GoReply goAndWait(testutil::EngineProcess& engine, const std::string& commands, double timeout = 20.0) {
  const size_t from = engine.output().size();
  if (!engine.send(commands)) return {};
  return readGoReply(engine, from, timeout);
}

// The value after `key` in an info line ("" when absent).
inline std::string infoField(const std::string& info, const std::string& key) {
  const auto words = splitWords(info);
  for (size_t i = 0; i + 1 < words.size(); ++i)
    if (words[i] == key) return key == "score" && i + 2 < words.size() ? words[i + 1] + " " + words[i + 2] : words[i + 1];
  return "";
}

}  // namespace searchtest
