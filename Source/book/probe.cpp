// Choosing a move from a Polyglot book file.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "book/book.h"
#include "platform/output.h"

namespace book {

using namespace board;

namespace {

// The pseudo-random draw is mixed before it picks a share of the total.
constexpr uint32_t kDrawFactor = 98765, kDrawOffset = 123456789, kDrawSteps = 1000;

struct BookFile {
  FILE* file = nullptr;
  long entries = 0;  // whole entries in the file
  ~BookFile() {
    if (file) fclose(file);
  }
};

bool openBook(const std::string& path, BookFile& book) {
  if (path.empty()) return false;
  book.file = fopen(path.c_str(), "rb");
  if (!book.file || fseek(book.file, 0, SEEK_END) != 0) return false;
  const long size = ftell(book.file);
  if (size < kEntryBytes) return false;
  book.entries = size / kEntryBytes;
  return true;
}

bool readEntry(BookFile& book, long index, BookEntry& out) {
  uint8_t bytes[kEntryBytes];
  if (fseek(book.file, index * kEntryBytes, SEEK_SET) != 0) return false;
  if (fread(bytes, 1, kEntryBytes, book.file) != kEntryBytes) return false;
  out = decodeEntry(bytes);
  return true;
}

// Index of the first entry whose key is not below key (the last entry when
// all are below), or -1 on a read error.
long firstNotBelow(BookFile& book, uint64_t key) {
  long lo = -1, hi = book.entries - 1;
  while (hi - lo > 1) {
    const long mid = lo + (hi - lo) / 2;
    BookEntry e;
    if (!readEntry(book, mid, e)) return -1;
    if (e.key < key) lo = mid;
    else hi = mid;
  }
  return hi;
}

void printCandidates(const BookEntry* entries, const Move* moves, const int32_t* adjusted, int count,
                     int32_t total, const ProbeSettings& settings) {
  int64_t stored = 0;
  for (int i = 0; i < count; ++i) stored += entries[i].weight;
  if (platform::uci_mode) {
    std::string line = "info string ( book moves are: ";
    for (int i = 0; i < count; ++i)
      if (entries[i].weight) line += moveToText(moves[i]) + " ";
    platform::output_line(line + " )");
    return;
  }
  if (!settings.consoleLines) return;
  for (int i = 0; i < count; ++i)
    if (entries[i].weight)
      platform::outputFormat("  %s  cnt= %5d, weight= %5.2f%% -> %5.2f%%", moveToText(moves[i]).c_str(),
                             entries[i].weight, 100.0 * entries[i].weight / stored,
                             100.0 * adjusted[i] / total);
}

}  // namespace

int readBookEntries(const std::string& path, uint64_t key, BookEntry* out) {
  BookFile book;
  if (!openBook(path, book)) return 0;
  long at = firstNotBelow(book, key);
  int count = 0;
  // The run is read in order; a damaged or short tail ends it.
  for (BookEntry e; at >= 0 && at < book.entries && count < kMaxBookEntries && readEntry(book, at, e) && e.key == key;
       ++at)
    out[count++] = e;
  return count;
}

int32_t adjustWeights(const BookEntry* entries, int count, int variety, int32_t* adjusted) {
  int64_t stored = 0;
  for (int i = 0; i < count; ++i) stored += entries[i].weight;
  if (count <= 0 || stored == 0) return 0;
  // Every move gains (or loses) the same share of the first move's weight.
  const int64_t shift = static_cast<int64_t>((variety - kNeutralVariety) * (entries[0].weight * 0.01));
  int32_t total = 0;
  for (int i = 0; i < count; ++i) {
    const int64_t w = (entries[i].weight + shift) * kWeightScale / stored;
    adjusted[i] = w < 0 ? 0 : static_cast<int32_t>(w);
    total += adjusted[i];
  }
  return total;
}

int chooseEntry(const BookEntry* entries, const int32_t* adjusted, int count, int32_t total, uint32_t x) {
  if (total <= 0) return -1;
  const uint32_t r = (x * kDrawFactor + kDrawOffset) % kDrawSteps;
  const int32_t threshold = static_cast<int32_t>(r * (0.001 * total));
  int chosen = -1;
  int32_t before = 0;
  for (int i = 0; i < count; ++i) {
    if (entries[i].weight == 0) continue;
    // The first move with a stored weight stands until a later one passes the threshold.
    if (chosen < 0 || before < threshold) chosen = i;
    before += adjusted[i];
  }
  return chosen;
}

Move probeBook(Position& pos, const std::string& path, const ProbeSettings& settings) {
  if (path.empty()) return kNoMove;
  BookEntry entries[kMaxBookEntries];
  const int count = readBookEntries(path, bookKey(pos), entries);
  int32_t adjusted[kMaxBookEntries];
  const int32_t total = adjustWeights(entries, count, settings.variety, adjusted);
  if (total <= 0) return kNoMove;
  Move moves[kMaxBookEntries];
  for (int i = 0; i < count; ++i) moves[i] = bookMoveToMove(pos, entries[i].move);
  const int chosen = chooseEntry(entries, adjusted, count, total, static_cast<uint32_t>(rand()));
  printCandidates(entries, moves, adjusted, count, total, settings);
  if (chosen < 0) return kNoMove;
  // A colliding key can bring moves of another position: only a legal move counts.
  MoveEntry legal[kMaxMoves];
  const int n = generateLegal(pos, legal);
  for (int i = 0; i < n; ++i)
    if (legal[i].move == moves[chosen]) {
      if (!platform::uci_mode && settings.consoleLines)
        platform::outputFormat("selecting %s", moveToText(moves[chosen]).c_str());
      return moves[chosen];
    }
  return kNoMove;
}

}  // namespace book
