// Transposition table: 16-byte entries in overlapping buckets of four,
// shared by all threads without locks. Each entry is two 64-bit words read
// and written atomically (relaxed); a check word catches torn entries.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <sys/mman.h>
#include <vector>

#include "board/attacks.h"
#include "protocol/output.h"
#include "search/search.h"

namespace search {

using namespace board;

uint8_t ttEnabled = 1;
int hashMb = 0;
uint16_t ttAge = 0;

namespace {

// word 0: keyHigh | check << 32
// word 1: move | score << 16 | depth << 32 | bound << 40 | age << 48 | rule50 << 56
uint64_t* table = nullptr;
uint64_t entryCount = 0;  // N regular entries; N + 16 are allocated
uint64_t indexMask = 0;

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

int ttAllocate(int megabytes) {
  std::free(table);
  table = nullptr;
  entryCount = 0;
  initZobristKeys();
  hashMb = megabytes;
  if (megabytes <= 0) return 1;
  const uint64_t n = static_cast<uint64_t>(megabytes) * 65536;
  // 2 MB alignment and a hint for huge pages: probes all over the table
  // otherwise pay for a page walk each.
  constexpr size_t kHuge = 2 * 1024 * 1024;
  const size_t bytes = ((n + 16) * 16 + kHuge - 1) / kHuge * kHuge;
  table = static_cast<uint64_t*>(std::aligned_alloc(kHuge, bytes));
  if (!table) return 0;
  madvise(table, bytes, MADV_HUGEPAGE);
  entryCount = n;
  uint64_t p = 1;
  while (p * 2 <= n) p *= 2;
  indexMask = p - 1;
  protocol::output_format("info string allocated %d Mbytes for hash table\n", megabytes);
  // The allocator gives undefined contents; a zero table is needed either way.
  ttClear();
  return 1;
}

void ttClear() {
  if (!table) return;
  const uint64_t words = (entryCount + 16) * 2;
  const int workers = std::max(1, threadCount);
  const uint64_t slice = (entryCount / workers) * 2;
  std::vector<std::thread> pool;
  for (int i = 0; i < workers; ++i) {
    uint64_t begin = slice * i, end = i == workers - 1 ? words : slice * (i + 1);
    pool.emplace_back([begin, end] { std::memset(table + begin, 0, (end - begin) * sizeof(uint64_t)); });
  }
  for (auto& t : pool) t.join();
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
  if (score < -9799) score -= ply;
  else if (score > 9798) score += ply;
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
  if (++ttAge > 15) ttAge = 1;
}

}  // namespace search
