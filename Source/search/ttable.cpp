// Transposition table: 16-byte entries in overlapping buckets of four,
// shared by all threads without locks. Each entry is two 64-bit words read
// and written atomically (relaxed); a check word catches torn entries.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include "board/attacks.h"
#include "platform/output.h"
#include "search/control.h"
#include "search/thread.h"
#include "search/ttable.h"

namespace search {

using namespace board;

namespace {

uint8_t ttEnabled = 1;
int hashMb = 0;
uint16_t ttAge = 0;

// word 0: keyHigh | check << 32
// word 1: move | score << 16 | depth << 32 | bound << 40 | age << 48 | rule50 << 56
uint64_t* table = nullptr;
uint64_t entryCount = 0;  // N regular entries; N + 16 are allocated
uint64_t indexMask = 0;
constexpr uint64_t kEntriesPerMb = 65536;
constexpr uint16_t kMaxAge = 15;  // generations run 1..15
constexpr uint64_t kSpareEntries = 16;  // behind the last regular entry

struct Entry {
  uint32_t keyHigh, check;
  Move move;
  int16_t score;
  int8_t depth;
  uint8_t bound, age, rule50;
};

inline Entry load(uint64_t index) {
  uint64_t w0 = std::atomic_ref<uint64_t>(table[2 * index]).load(std::memory_order_relaxed);
  uint64_t w1 = std::atomic_ref<uint64_t>(table[2 * index + 1]).load(std::memory_order_relaxed);
  return Entry{static_cast<uint32_t>(w0), static_cast<uint32_t>(w0 >> 32), static_cast<Move>(w1),
               static_cast<int16_t>(w1 >> 16), static_cast<int8_t>(w1 >> 32), static_cast<uint8_t>(w1 >> 40),
               static_cast<uint8_t>(w1 >> 48), static_cast<uint8_t>(w1 >> 56)};
}

inline void save(uint64_t index, const Entry& e) {
  uint64_t w0 = e.keyHigh | (uint64_t{e.check} << 32);
  uint64_t w1 = e.move | (uint64_t{static_cast<uint16_t>(e.score)} << 16) |
                (uint64_t{static_cast<uint8_t>(e.depth)} << 32) | (uint64_t{e.bound} << 40) |
                (uint64_t{e.age} << 48) | (uint64_t{e.rule50} << 56);
  std::atomic_ref<uint64_t>(table[2 * index]).store(w0, std::memory_order_relaxed);
  std::atomic_ref<uint64_t>(table[2 * index + 1]).store(w1, std::memory_order_relaxed);
}

inline uint32_t checkWord(Move move, int score, uint64_t key) {
  return (static_cast<uint32_t>(move) << 16) ^ static_cast<uint32_t>(key >> 2) ^ static_cast<uint32_t>(score + 15000);
}

// First entry of the key's bucket: white from the front, black from the back.
inline uint64_t bucketStart(uint64_t key) {
  return (key & 1) ? entryCount - (key & indexMask) : (key & indexMask);
}

}  // namespace

uint64_t ttEntryCount() { return table ? entryCount : 0; }

void ttPrefetch(uint64_t key) {
  if (!table) return;
  const uint64_t* p = table + 2 * bucketStart(key);
  __builtin_prefetch(p);
  __builtin_prefetch(p + 7);  // a bucket may straddle two cache lines
}

namespace {

constexpr size_t kHugePage = 2 * 1024 * 1024;
constexpr size_t kCommitAtOnceBytes = size_t{256} << 20;
// MADV_POPULATE_WRITE (Linux 5.14); older kernels refuse it harmlessly.
constexpr int kPopulateWrite = 23;
size_t mappedBytes = 0;

size_t bytesFor(int megabytes) {
  const uint64_t n = static_cast<uint64_t>(megabytes) * kEntriesPerMb;
  return ((n + kSpareEntries) * sizeof(uint64_t) * 2 + kHugePage - 1) / kHugePage * kHugePage;
}

// A fresh anonymous mapping, 2 MB aligned so huge pages can back it. The
// kernel hands it out zero-filled and commits pages on first touch, so a
// large table costs nothing until the search uses it. Sizes beyond the
// machine's memory are refused rather than left to fail later.
uint64_t* mapTable(size_t bytes) {
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  if (pages > 0 && pageSize > 0 && bytes > static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize))
    return nullptr;
  const size_t span = bytes + kHugePage;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t base = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (base + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > base) munmap(raw, aligned - base);
  if (base + span > aligned + bytes) munmap(reinterpret_cast<void*>(aligned + bytes), base + span - aligned - bytes);
  void* p = reinterpret_cast<void*>(aligned);
  // Probes land all over the table: huge pages save a page walk on each.
  madvise(p, bytes, MADV_HUGEPAGE);
  // A small table is committed now, so the first search pays no page faults;
  // a large one is left to fill as the search touches it.
  if (bytes <= kCommitAtOnceBytes) madvise(p, bytes, kPopulateWrite);
  return static_cast<uint64_t*>(p);
}

void unmapTable() {
  if (table) munmap(table, mappedBytes);
  table = nullptr;
  mappedBytes = 0;
  entryCount = 0;
}

bool installTable(int megabytes) {
  const size_t bytes = bytesFor(megabytes);
  uint64_t* fresh = mapTable(bytes);
  if (!fresh) return false;
  unmapTable();
  table = fresh;
  mappedBytes = bytes;
  entryCount = static_cast<uint64_t>(megabytes) * kEntriesPerMb;
  uint64_t p = 1;
  while (p * 2 <= entryCount) p *= 2;
  indexMask = p - 1;
  hashMb = megabytes;
  control.hashfull = 0;
  return true;
}

}  // namespace

int ttAllocate(int megabytes) {
  // The keys are made on the first allocation; a weak key would be reported once.
  static const int weakKeys = initZobristKeys();
  for (static int told = 0; told < weakKeys; ++told) platform::output_line("bad hashcode");
  if (megabytes <= 0) {
    unmapTable();
    hashMb = 0;
    platform::outputFormat("info string allocated %d Mbytes for hash table\n", 0);
    return 1;
  }
  // The new table is mapped before the old one goes, so a refusal keeps the
  // old one; failing that, the old one is given up to make room.
  const int previous = table ? hashMb : 0;
  if (installTable(megabytes) || (table && (unmapTable(), installTable(megabytes)))) {
    ttEnabled = 1;  // a size again after size 0
    platform::outputFormat("info string allocated %d Mbytes for hash table\n", megabytes);
    return 1;
  }
  // Back to the previous size, or the largest smaller one the machine gives.
  int fallback = previous > 0 && previous < megabytes ? previous : megabytes / 2;
  while (fallback > 0 && !installTable(fallback)) fallback /= 2;
  if (fallback <= 0) hashMb = 0;
  platform::outputFormat("info string cannot allocate %d Mbytes for hash table; using %d Mbytes", megabytes,
                          hashMb);
  return 0;
}

void ttRelease() {
  unmapTable();
  hashMb = 0;
}

void ttClear() {
  if (!table || !ttEnabled) return;
  // A large table's pages are dropped: a private anonymous mapping reads
  // them back as zeros, far faster than writing zeros over gigabytes. A small
  // one is overwritten, keeping its pages for the next search.
  if (mappedBytes <= kCommitAtOnceBytes || madvise(table, mappedBytes, MADV_DONTNEED) != 0) {
    const uint64_t words = (entryCount + kSpareEntries) * 2;
    const int workers = std::max(1, threadCount);
    const uint64_t slice = (entryCount / workers) * 2;
    std::vector<std::thread> pool;
    for (int i = 0; i < workers; ++i) {
      uint64_t begin = slice * i, end = i == workers - 1 ? words : slice * (i + 1);
      pool.emplace_back([begin, end] { std::memset(table + begin, 0, (end - begin) * sizeof(uint64_t)); });
    }
    for (auto& t : pool) t.join();
  }
  control.hashfull = 0;
}

bool ttProbe(const Position& pos, HashProbe& out) {
  if (!table || !ttEnabled) return false;
  const uint64_t key = pos.key;
  const uint64_t start = bucketStart(key);
  const uint32_t high = static_cast<uint32_t>(key >> 32);
  for (int i = 0; i < 4; ++i) {
    Entry e = load(start + i);
    if (e.keyHigh != high) continue;
    if (checkWord(e.move, e.score, key) != e.check) return false;
    if (e.move && (!isPseudoLegal(pos, e.move) || !isLegal(pos, pos.sideToMove, e.move))) return false;
    out = HashProbe{e.move, e.score, e.depth, e.bound};
    return true;
  }
  return false;
}

void ttStore(const Position& pos, int ply, int depth, Move move, int score, int alpha, int beta) {
  if (!table || !ttEnabled) return;
  const int bound = score <= alpha ? kBoundUpper : score < beta ? kBoundExact : kBoundLower;
  if (score < kLossBand) score -= ply;
  else if (score > kWinBand) score += ply;
  const uint64_t key = pos.key;
  const uint64_t start = bucketStart(key);
  const uint32_t high = static_cast<uint32_t>(key >> 32);
  depth = std::clamp(depth, -128, 127);
  int victim = -1;
  for (int i = 0; i < 4; ++i) {
    Entry e = load(start + i);
    if (e.keyHigh != high) continue;
    if (e.depth - 3 > depth && e.bound != kBoundUpper) return;
    victim = i;
    break;
  }
  if (victim < 0) {
    int shallowest = 0, shallowDepth = 1000;
    for (int i = 0; i < 4 && victim < 0; ++i) {
      Entry e = load(start + i);
      if (e.age != ttAge) victim = i;
      else if (e.depth < shallowDepth) {
        shallowDepth = e.depth;
        shallowest = i;
      }
    }
    if (victim < 0) {
      if (depth < shallowDepth - 7) return;
      victim = shallowest;
    }
  }
  save(start + victim, Entry{high, checkWord(move, score, key), move, static_cast<int16_t>(score),
                             static_cast<int8_t>(depth), static_cast<uint8_t>(bound), static_cast<uint8_t>(ttAge),
                             pos.rule50});
}

int ttHashfull() {
  if (!table || entryCount < 3000) return 0;
  int count = 0;
  for (uint64_t i = entryCount / 2 - 500; i < entryCount / 2 + 500; ++i)
    if (load(i).age == ttAge) ++count;
  control.hashfull = count * 0.001f;
  return count;
}

void ttNewSearch() {
  if (++ttAge > kMaxAge) ttAge = 1;
}

void ttResetAge() { ttAge = 0; }
int ttGeneration() { return ttAge; }
int ttSizeMb() { return hashMb; }
bool ttIsEnabled() { return ttEnabled != 0; }
void ttSetEnabled(bool on) { ttEnabled = on ? 1 : 0; }
int ttEnabledSetting() { return ttEnabled; }
void ttSetEnabledSetting(int value) { ttEnabled = static_cast<uint8_t>(std::clamp(value, 0, 255)); }

}  // namespace search
