// Helpers shared by the pipeline tests: engine set-up, a few self-play games
// at a small node budget, and data files in a temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/engine_process.h"
#include "records.h"
#include "selfplay.h"
#include "test_util.h"

namespace traintest {

// Searches this small keep the games to a fraction of a second each.
constexpr uint64_t kTinySoftNodes = 150;

inline bool setUpEngineOnce() {
  static bool ready = [] {
    std::string why;
    if (train::setUpEngine("", why) != 0) return false;
    testutil::StdoutCapture quiet;  // the table announces itself
    return train::allocateSearchTable(1);
  }();
  return ready;
}

inline train::SelfPlaySettings tinySettings(uint64_t seed) {
  train::SelfPlaySettings s;
  s.seed = seed;
  s.softNodes = kTinySoftNodes;
  s.hashMb = 1;
  return s;
}

// Games first .. first + count - 1 of the series.
inline std::vector<train::PlayedGame> playGames(uint64_t seed, uint64_t first, int count) {
  std::vector<train::PlayedGame> games(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) train::playGame(tinySettings(seed), first + static_cast<uint64_t>(i), games[static_cast<size_t>(i)]);
  return games;
}

// Four games of one series, played once per test binary.
inline const std::vector<train::PlayedGame>& sampleGames() {
  static const std::vector<train::PlayedGame> games = [] {
    setUpEngineOnce();
    return playGames(7, 0, 4);
  }();
  return games;
}

// A data file of the given games, one chunk per group of chunkGames games.
inline bool writeGames(const std::string& path, const std::vector<train::PlayedGame>& games, size_t chunkGames) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = train::writeDataHeader(f, train::makeDataHeader(1, 150, 600, 1, train::kSourceHandCrafted, 0)) == 0;
  for (size_t start = 0; ok && start < games.size(); start += chunkGames) {
    std::vector<train::PackedRecord> records;
    const size_t end = std::min(games.size(), start + chunkGames);
    for (size_t g = start; g < end; ++g) records.insert(records.end(), games[g].records.begin(), games[g].records.end());
    ok = train::writeChunk(f, start, static_cast<uint32_t>(end - start), records.data(), records.size()) == 0;
  }
  return fclose(f) == 0 && ok;
}

inline std::vector<train::PackedRecord> allRecords(const std::vector<train::PlayedGame>& games) {
  std::vector<train::PackedRecord> out;
  for (const auto& g : games) out.insert(out.end(), g.records.begin(), g.records.end());
  return out;
}

inline bool sameRecords(const std::vector<train::PackedRecord>& a, const std::vector<train::PackedRecord>& b) {
  return a.size() == b.size() && (a.empty() || memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
}

inline std::string fileBytes(const std::string& path) {
  std::string out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  fclose(f);
  return out;
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

// Runs vesk-train with args in dir; its exit status.
inline int runTool(const std::vector<std::string>& args, const std::string& dir, std::string& output,
                   double timeout = 60) {
  testutil::EngineProcess tool(args, dir, true, VESK_TRAIN_BINARY);
  if (!tool.started()) return -1;
  const int status = tool.wait(timeout);
  output = tool.output() + tool.errors();
  return status;
}

}  // namespace traintest
