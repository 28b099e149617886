// Lists, for positions of seeded random games, what our book probe reads
// from a Polyglot book: one line per position with the FEN, our key and the
// entries (raw move and weight, in file order). bench/book_oracle.py reads
// the same book on its own and compares. Games follow book moves most of the
// time so that most positions are in the book.
// Usage: book_oracle BOOK [--games N] [--plies P] [--seed S]
//        book_oracle --extract BOOK OUT FEN...   (the entries of those positions, as a small book)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "book/book.h"
#include "owned_position.h"

namespace {

using namespace board;

using Game = benchutil::OwnedPosition;

// Chance in ten that a position in the book is left by one of its moves.
constexpr unsigned kFollowBookInTen = 8;

int listPositions(const char* path, int games, int plies, unsigned seed) {
  std::mt19937 rng(seed);
  Game g;
  long positions = 0, inBook = 0;
  for (int game = 0; game < games; ++game) {
    g.reset();
    for (int ply = 0; ply < plies; ++ply) {
      book::BookEntry entries[book::kMaxBookEntries];
      const uint64_t key = book::bookKey(g.pos);
      const int n = book::readBookEntries(path, key, entries);
      printf("%s\t%016llx\t", positionToFen(g.pos, false).c_str(), static_cast<unsigned long long>(key));
      for (int i = 0; i < n; ++i) printf("%s%u:%u", i ? " " : "", entries[i].move, entries[i].weight);
      printf("\n");
      ++positions;
      inBook += n > 0;
      MoveEntry legal[kMaxMoves];
      const int count = generateLegal(g.pos, legal);
      if (!count) break;
      Move next = legal[rng() % count].move;
      if (n && rng() % 10 < kFollowBookInTen) {
        const Move m = book::bookMoveToMove(g.pos, entries[rng() % n].move);
        for (int i = 0; i < count; ++i)
          if (legal[i].move == m) next = m;
      }
      makeMove(g.pos, next);
    }
  }
  fprintf(stderr, "positions %ld, in the book %ld\n", positions, inBook);
  return 0;
}

int extract(const char* path, const char* out, int count, char** fens) {
  FILE* f = fopen(out, "wb");
  if (!f) return 2;
  Game g;
  g.reset();
  // Written in key order, as a book must be.
  std::vector<uint64_t> keys;
  for (int i = 0; i < count; ++i) {
    if (setFromFen(g.pos, fens[i]) == kFenRejected) return 2;
    keys.push_back(book::bookKey(g.pos));
  }
  std::sort(keys.begin(), keys.end());
  for (uint64_t key : keys) {
    book::BookEntry entries[book::kMaxBookEntries];
    const int n = book::readBookEntries(path, key, entries);
    for (int i = 0; i < n; ++i) {
      uint8_t bytes[book::kEntryBytes];
      book::encodeEntry(entries[i], bytes);
      fwrite(bytes, 1, sizeof bytes, f);
    }
  }
  return fclose(f) == 0 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  initAttackTables();
  initZobristKeys();
  if (argc >= 4 && !strcmp(argv[1], "--extract")) return extract(argv[2], argv[3], argc - 4, argv + 4);
  if (argc < 2) {
    fprintf(stderr, "usage: book_oracle BOOK [--games N] [--plies P] [--seed S]\n");
    return 2;
  }
  int games = 2000, plies = 20;
  unsigned seed = 1;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--games")) games = atoi(argv[i + 1]);
    else if (!strcmp(argv[i], "--plies")) plies = atoi(argv[i + 1]);
    else if (!strcmp(argv[i], "--seed")) seed = static_cast<unsigned>(strtoul(argv[i + 1], nullptr, 10));
  }
  return listPositions(argv[1], games, plies, seed);
}
