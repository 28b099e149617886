// Seeded randomised run of the book probe and the book maker's PGN reader
// on damaged input, for as long as asked. Probes must answer 0 or a legal
// move; the maker must finish with a whole, sorted book (or, out of its node
// budget, with none). Meant to run under the sanitizers as well.
// Usage: book_fuzz [--seconds S] [--seed N] [--dir D]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "book/book.h"
#include "owned_position.h"
#include "platform/output.h"

namespace {

using namespace board;
using Rng = std::mt19937_64;

using Game = benchutil::OwnedPosition;

bool legal(Position& pos, Move m) {
  MoveEntry list[kMaxMoves];
  const int n = generateLegal(pos, list);
  for (int i = 0; i < n; ++i)
    if (list[i].move == m) return true;
  return false;
}

// A random walk from the start, up to plies moves.
void walk(Game& g, Rng& rng, int plies, std::string* san) {
  g.reset();
  for (int ply = 0; ply < plies; ++ply) {
    MoveEntry list[kMaxMoves];
    const int n = generateLegal(g.pos, list);
    if (!n) return;
    const Move m = list[rng() % n].move;
    if (san) {
      SanTexts t;
      moveToSan(g.pos, m, t);
      if (ply % 2 == 0) *san += std::to_string(ply / 2 + 1) + (rng() % 4 ? ". " : ".");
      *san += std::string(t.san) + (rng() % 16 ? " " : "\n");
    }
    makeMove(g.pos, m);
  }
}

void writeFile(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return;
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

std::string entryBytes(const book::BookEntry& e) {
  uint8_t b[book::kEntryBytes];
  book::encodeEntry(e, b);
  return std::string(reinterpret_cast<char*>(b), sizeof b);
}

// One probe of a damaged book made for a random position.
bool probeRound(Rng& rng, const std::string& path) {
  Game g;
  walk(g, rng, static_cast<int>(rng() % 40), nullptr);
  const uint64_t key = book::bookKey(g.pos);
  std::vector<book::BookEntry> entries;
  const int n = static_cast<int>(rng() % 140);
  for (int i = 0; i < n; ++i) {
    const uint64_t k = rng() % 3 ? key : rng();
    uint16_t move = static_cast<uint16_t>(rng());
    if (rng() % 2) {
      MoveEntry list[kMaxMoves];
      const int count = generateLegal(g.pos, list);
      if (count) move = book::moveToBookMove(g.pos, list[rng() % count].move);
    }
    entries.push_back({k, move, static_cast<uint16_t>(rng() % 4 ? rng() % 100 : 0), static_cast<uint32_t>(rng())});
  }
  if (rng() % 8) std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.key < b.key; });
  std::string bytes;
  for (const auto& e : entries) bytes += entryBytes(e);
  if (rng() % 3 == 0 && !bytes.empty()) bytes.resize(rng() % bytes.size());
  if (rng() % 10 == 0)
    for (auto& c : bytes) c = static_cast<char>(rng());
  writeFile(path, bytes);
  platform::uci_mode = static_cast<int16_t>(rng() % 2);
  const Move m = book::probeBook(g.pos, path, {static_cast<int>(rng() % 101), rng() % 2 == 0});
  platform::uci_mode = 1;
  if (m && !legal(g.pos, m)) {
    fprintf(stderr, "illegal book move %04x in %s\n", m, positionToFen(g.pos, false).c_str());
    return false;
  }
  return true;
}

const char* kFragments[] = {"{", "}", "(", ")", ";", "$1", "[Result \"1-0\"]", "[Result \"0-1\"]", "[Result \"1/2-1/2\"]",
                            "[Result \"*\"]", "\n", "0-0", "O-O-O", "1...", "12.", "e4!?", "\r\n", "[Event \"x\"]", "Z0",
                            "--", "e8=Q", "exd6", "\t"};

std::string randomPgn(Rng& rng) {
  std::string text;
  const int games = static_cast<int>(rng() % 12);
  Game g;
  for (int i = 0; i < games; ++i) {
    static const char* results[] = {"1-0", "0-1", "1/2-1/2", "*"};
    const char* r = results[rng() % 4];
    text += std::string("[Event \"f\"]\n[Result \"") + r + "\"]\n\n";
    walk(g, rng, static_cast<int>(rng() % 80), &text);
    text += std::string(" ") + r + "\n\n";
  }
  // Damage: fragments in, bytes flipped, cut, or a very long line.
  const int edits = static_cast<int>(rng() % 20);
  for (int e = 0; e < edits && !text.empty(); ++e) {
    const size_t at = rng() % text.size();
    switch (rng() % 5) {
      case 0: text.insert(at, kFragments[rng() % (sizeof kFragments / sizeof *kFragments)]); break;
      case 1: text[at] = static_cast<char>(rng()); break;
      case 2: text.erase(at, rng() % 64); break;
      case 3: text.insert(at, std::string(rng() % 2 ? 100000 : 3000, rng() % 2 ? 'N' : ' ')); break;
      default: text.insert(at, 1, '\0'); break;
    }
  }
  if (rng() % 20 == 0)
    for (int i = 0; i < 50000; ++i) text += static_cast<char>(rng());
  return text;
}

bool makerRound(Rng& rng, const std::string& pgnPath, const std::string& bookPath) {
  writeFile(pgnPath, randomPgn(rng));
  const size_t budget = rng() % 8 == 0 ? rng() % 50 + 1 : 0;
  std::filesystem::remove(bookPath);
  const int status = book::makeBook(pgnPath, bookPath, budget);
  std::error_code ec;
  if (status != 0) {
    // Only a node budget may fail the run, and then there is no book.
    if (!budget || std::filesystem::exists(bookPath, ec)) {
      fprintf(stderr, "maker failed (status %d, budget %zu)\n", status, budget);
      return false;
    }
    return true;
  }
  FILE* f = fopen(bookPath.c_str(), "rb");
  if (!f) return false;
  uint8_t b[book::kEntryBytes];
  book::BookEntry last{};
  bool first = true, ok = true;
  size_t got;
  while ((got = fread(b, 1, sizeof b, f)) == sizeof b) {
    const book::BookEntry e = book::decodeEntry(b);
    if (!first && (e.key < last.key || (e.key == last.key && e.weight > last.weight))) ok = false;
    last = e;
    first = false;
  }
  fclose(f);
  if (got != 0 || !ok) fprintf(stderr, "book %s\n", got ? "torn" : "unsorted");
  return got == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 60;
  uint64_t seed = 1;
  std::string dir = "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--seconds")) seconds = atof(argv[i + 1]);
    else if (!strcmp(argv[i], "--seed")) seed = strtoull(argv[i + 1], nullptr, 10);
    else if (!strcmp(argv[i], "--dir")) dir = argv[i + 1];
  }
  initAttackTables();
  initZobristKeys();
  // The probe's and the maker's lines are not what is checked here.
  const int realOut = dup(1);
  if (!freopen("/dev/null", "w", stdout)) return 2;
  const std::string tag = dir + "/book-fuzz-" + std::to_string(getpid());
  Rng rng(seed);
  srand(static_cast<unsigned>(seed));
  long probes = 0, makes = 0;
  const auto start = std::chrono::steady_clock::now();
  bool ok = true;
  while (ok && std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) {
    ok = probeRound(rng, tag + ".bin");
    ++probes;
    if (ok && probes % 4 == 0) {
      ok = makerRound(rng, tag + ".pgn", tag + "-made.bin");
      ++makes;
    }
  }
  for (const char* suffix : {".bin", ".pgn", "-made.bin"}) std::filesystem::remove(tag + suffix);
  dprintf(realOut, "seed %llu: %ld probes, %ld book makings in %.0f s: %s\n", static_cast<unsigned long long>(seed),
          probes, makes, seconds, ok ? "no fault" : "FAULT");
  return ok ? 0 : 1;
}
