// Fuzzes the command dispatcher: the input is a script of lines run through
// executeLine, in UCI or console mode (chosen by the first byte). After the
// script the game record must still hold a sound position.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "board/attacks.h"
#include "platform/output.h"
#include "protocol/protocol.h"

using namespace board;

namespace {

[[noreturn]] void fail(const char* what) {
  fprintf(stderr, "fuzz_uci: %s: %s\n", what, positionToFen(search::gamePosition(), true).c_str());
  abort();
}

// Commands that would run long are left out: deep perft and searches.
bool runnable(const std::string& line) {
  std::istringstream in(line.substr(0, line.find_first_of("\r\n")));
  std::string word, arg;
  in >> word >> arg;
  if (word == "perft") return atoi(arg.c_str()) <= 3;
  return word != "go" && word != "mv" && word != "an" && word != "self";
}

int scratchDir = -1;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  initAttackTables();
  initZobristKeys();
  search::game = new search::GameRecord{};
  search::game->position.owner = &search::game->history;
  // Replies are not checked here.
  int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, 1);
  // Files the commands write (the log) go to a scratch directory; the fuzzer
  // itself keeps its working directory for corpus and crash files.
  static char dir[] = "/tmp/vesk-fuzz-uci-XXXXXX";
  if (!mkdtemp(dir)) abort();
  atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  });
  scratchDir = open(dir, O_RDONLY | O_DIRECTORY);
  if (scratchDir < 0) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 65536) return 0;
  int home = open(".", O_RDONLY | O_DIRECTORY);
  if (home < 0 || fchdir(scratchDir) != 0) abort();
  platform::uci_mode = data[0] & 1;
  search::quit_requested = 0;
  search::setStartPosition();

  // Lines end at a line feed or a NUL, as the input reader splits them. They
  // wait in the command reader, where the board editor takes its own lines.
  protocol::input = platform::LineReader{};
  protocol::input.endOfInput = true;
  std::string line;
  for (size_t i = 1; i <= size; ++i) {
    char c = i < size ? static_cast<char>(data[i]) : '\n';
    if (c != '\n' && c != '\0') {
      line += c;
      continue;
    }
    if (!line.empty()) protocol::input.lines.push_back(line);
    line.clear();
  }
  // Each input saves and loads its own games.
  unlink("tmp.pgn");
  while (!search::quit_requested && platform::nextLine(protocol::input, line)) {
    if (runnable(line)) protocol::executeLine(line);

    const Position& pos = search::gamePosition();
    Position fresh = pos;
    computeKeys(fresh);
    if (fresh.key != pos.key || fresh.pawnKey != pos.pawnKey) fail("keys out of step");
    if (!validatePosition(pos).empty()) fail("unsound game position");
    const UndoHistory& h = search::game->history;
    if (h.undoCount < 0 || h.undoCount >= kUndoCapacity) fail("history out of bounds");
  }

  // Leave nothing behind for the next input.
  platform::setLogEnabled(false);
  protocol::live_options.Log = 0;
  platform::closeLogFile();
  if (fchdir(home) != 0) abort();
  close(home);
  return 0;
}
