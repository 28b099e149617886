// Fuzzes the PGN scanner: the first byte picks the variant, the rest is the
// game collection. Every EPD line it writes must set up with our FEN reader.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "board/attacks.h"
#include "tools/tools.h"

namespace {

std::string workDir;

void checkLines(const std::string& path) {
  std::ifstream in(path);
  static board::UndoHistory history;
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    size_t cut = 0;
    for (int spaces = 0; cut < line.size(); ++cut)
      if (line[cut] == ' ' && ++spaces == 4) break;
    board::Position pos{};
    pos.owner = &history;
    if (board::setFromFen(pos, line.substr(0, cut)) == board::kFenRejected) {
      fprintf(stderr, "fuzz_pgn: written line does not set up: %s\n", line.c_str());
      abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  board::initAttackTables();
  board::initZobristKeys();
  char pattern[] = "/tmp/vesk-fuzz-pgn-XXXXXX";
  if (!mkdtemp(pattern) || chdir(pattern) != 0) abort();  // the side file lands here
  workDir = pattern;
  freopen("/dev/null", "w", stdout);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int variant = 1 + data[0] % 4;
  {
    std::ofstream out("in.pgn", std::ios::binary);
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  if (tools::scan_pgn("in.pgn", "out.epd", variant) != 0) abort();
  if (variant != 1) checkLines("out.epd");
  return 0;
}
