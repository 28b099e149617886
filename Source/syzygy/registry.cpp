// The tablebase registry: directories, the configurations found in them,
// material keys and the key index, mapping files, lazy loading of WDL files
// and the cache of DTZ files.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/output.h"
#include "syzygy/tables.h"

namespace syzygy {

using namespace board;

int largestTable = 0;

namespace {

constexpr int kMaxPieceEntries = 254, kMaxPawnEntries = 256;
constexpr int kHashBuckets = 1024, kHashSlots = 5, kHashShift = 54;
constexpr size_t kMaxPathLength = 259;
constexpr int kDtzCacheSize = 64;
constexpr uint32_t kWdlMagic = 0x5D23E871, kDtzMagic = 0xA50C66D7;
constexpr const char* kPieceLetters = "QRBNP";
constexpr int kLetterType[5] = {kQueen, kRook, kBishop, kKnight, kPawn};

// Material key constants by colour and kind (kings count nothing).
constexpr uint64_t kKeyConstant[2][8] = {
    {0, 0xEC0ADE190C0F6003ull, 0xD2FB81862830191Full, 0xAADC1A2BE446234Dull, 0x985DEB9FC49333F9ull,
     0xA3EC1ABC71E90863ull, 0, 0},
    {0, 0xA24F0F571BB202E7ull, 0xBAEB854CD3259441ull, 0xD5A4C95928F2FBE3ull, 0xFD7866B439B94495ull,
     0xD6E4E47D24962951ull, 0, 0}};

TableEntry pieceEntries[kMaxPieceEntries];
TableEntry pawnEntries[kMaxPawnEntries];
int pieceEntryCount = 0, pawnEntryCount = 0;

struct HashSlot {
  std::atomic<uint64_t> key{0};
  TableEntry* entry = nullptr;
};
HashSlot tbHash[kHashBuckets][kHashSlots];

std::vector<std::string> directories;
std::mutex loadLock;
bool initialised = false;

struct DtzSlot {
  const TableEntry* entry = nullptr;
  bool usable = false;
  TableFile file;
};
DtzSlot dtzSlots[kDtzCacheSize];
int dtzOrder[kDtzCacheSize];  // most recently used first
int dtzUsed = 0;

uint32_t magicOf(const Mapping& m) {
  if (m.size < 4) return 0;
  return uint32_t(m.data[0]) | (uint32_t(m.data[1]) << 8) | (uint32_t(m.data[2]) << 16) | (uint32_t(m.data[3]) << 24);
}

int openTableFile(const char* name, const char* extension) {
  for (const std::string& dir : directories) {
    std::string path = dir + "/" + name + extension;
    if (path.size() > kMaxPathLength) path.resize(kMaxPathLength);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return fd;
  }
  return -1;
}

void clearKeys(const TableEntry& e) {
  for (uint64_t key : {e.key, e.mirroredKey})
    for (HashSlot& s : tbHash[key >> kHashShift])
      if (s.entry == &e) s.key.store(0, std::memory_order_relaxed);
}

void resetEntry(TableEntry& e) {
  if (e.wdl.map.data) unmapTableFile(e.wdl.map);
  e.wdl = TableFile{};
  e.ready.store(0);
  e.broken.store(0);
}

void releaseDtzCache() {
  for (DtzSlot& s : dtzSlots) {
    if (s.file.map.data) unmapTableFile(s.file.map);
    s.file = TableFile{};
    s.entry = nullptr;
    s.usable = false;
  }
  dtzUsed = 0;
}

void releaseAll() {
  for (int i = 0; i < pieceEntryCount; ++i) resetEntry(pieceEntries[i]);
  for (int i = 0; i < pawnEntryCount; ++i) resetEntry(pawnEntries[i]);
  releaseDtzCache();
  directories.clear();
}

void splitDirectories(const std::string& path) {
  std::string part;
  for (char ch : path + ";") {
    if (ch == ';' || ch == ':') {
      if (!part.empty()) directories.push_back(part);
      part.clear();
    } else {
      part += ch;
    }
  }
}

bool enterKey(uint64_t key, TableEntry* e) {
  for (HashSlot& s : tbHash[key >> kHashShift])
    if (s.key.load(std::memory_order_relaxed) == 0) {
      s.key.store(key, std::memory_order_relaxed);
      s.entry = e;
      return true;
    }
  return false;
}

void registerTable(const char* name) {
  uint8_t counts[2][8] = {};
  int colour = 0, men = 0;
  for (const char* p = name; *p; ++p) {
    if (*p == 'v') {
      colour = 1;
      continue;
    }
    const char* letter = strchr(kPieceLetters, *p);
    ++counts[colour][*p == 'K' ? kKing : kLetterType[letter - kPieceLetters]];
    ++men;
  }
  const bool pawns = counts[0][kPawn] || counts[1][kPawn];
  if ((pawns && pawnEntryCount >= kMaxPawnEntries) || (!pawns && pieceEntryCount >= kMaxPieceEntries)) {
    fprintf(stderr, pawns ? "TBMAX_PAWN limit too low!\n" : "TBMAX_PIECE limit too low!\n");
    return;
  }
  TableEntry& e = pawns ? pawnEntries[pawnEntryCount] : pieceEntries[pieceEntryCount];
  resetEntry(e);
  snprintf(e.name, sizeof e.name, "%s", name);
  memcpy(e.counts, counts, sizeof counts);
  e.key = materialKeyOfCounts(counts, false);
  e.mirroredKey = materialKeyOfCounts(counts, true);
  e.pieceCount = static_cast<uint8_t>(men);
  e.symmetric = e.key == e.mirroredKey;
  e.hasPawns = pawns;
  if (!pawns) {
    int unique = 0;
    for (int c = 0; c < 2; ++c)
      for (int t = kPawn; t <= kKing; ++t) unique += counts[c][t] == 1;
    e.kkEncoding = unique >= 3 ? 0 : 2;
  } else {
    // The side with fewer pawns, but at least one, leads.
    e.pawnCount[0] = counts[0][kPawn];
    e.pawnCount[1] = counts[1][kPawn];
    if (e.pawnCount[1] && (e.pawnCount[1] < e.pawnCount[0] || !e.pawnCount[0])) std::swap(e.pawnCount[0], e.pawnCount[1]);
  }
  if (!enterKey(e.key, &e) || (!e.symmetric && !enterKey(e.mirroredKey, &e))) {
    fprintf(stderr, "HSHMAX too low!\n");
    clearKeys(e);
    return;
  }
  if (pawns) ++pawnEntryCount;
  else ++pieceEntryCount;
  if (men > largestTable) largestTable = men;
}

// Every configuration of up to six men, the stronger side first, pieces in
// the order of kPieceLetters: (White's count, Black's count) patterns.
constexpr int kPatterns[8][2] = {{1, 0}, {1, 1}, {2, 0}, {2, 1}, {3, 0}, {2, 2}, {3, 1}, {4, 0}};

void tryName(const int* white, int nw, const int* black, int nb) {
  char name[16];
  int k = 0;
  name[k++] = 'K';
  for (int i = 0; i < nw; ++i) name[k++] = kPieceLetters[white[i]];
  name[k++] = 'v';
  name[k++] = 'K';
  for (int i = 0; i < nb; ++i) name[k++] = kPieceLetters[black[i]];
  name[k] = 0;
  const int fd = openTableFile(name, ".rtbw");
  if (fd < 0) return;
  close(fd);
  registerTable(name);
}

// Next non-decreasing sequence of letter positions; false after the last.
bool nextSequence(int* s, int n) {
  for (int i = n - 1; i >= 0; --i)
    if (s[i] < 4) {
      ++s[i];
      for (int j = i + 1; j < n; ++j) s[j] = s[i];
      return true;
    }
  return false;
}

void enumerateTables() {
  for (const auto& pattern : kPatterns) {
    const int nw = pattern[0], nb = pattern[1];
    int w[4] = {}, b[4] = {};
    do {
      std::fill(b, b + 4, 0);
      do {
        if (nw == nb && std::lexicographical_compare(b, b + nb, w, w + nw)) continue;
        tryName(w, nw, b, nb);
      } while (nb > 0 && nextSequence(b, nb));
    } while (nextSequence(w, nw));
  }
}

bool loadFile(const TableEntry& e, const char* extension, uint32_t magic, bool dtz, TableFile& out) {
  std::string why;
  Mapping m;
  if (!mapTableFile(e.name, extension, m, why)) {
    if (why.empty()) fprintf(stderr, "Could not find %s%s\n", e.name, extension);
    else fprintf(stderr, "Could not map %s%s: %s\n", e.name, extension, why.c_str());
    return false;
  }
  out = TableFile{};
  out.map = m;
  if (magicOf(m) != magic) why = "wrong magic";
  else parseTableFile(e, dtz, out, why);
  if (!why.empty()) {
    fprintf(stderr, "Corrupted table %s%s: %s.\n", e.name, extension, why.c_str());
    unmapTableFile(out.map);
    out = TableFile{};
    return false;
  }
  return true;
}

}  // namespace

uint64_t materialKeyOfCounts(const uint8_t counts[2][8], bool mirror) {
  uint64_t key = 0;
  for (int c = 0; c < 2; ++c)
    for (int t = kPawn; t <= kQueen; ++t) key += counts[c][t] * kKeyConstant[c ^ (mirror ? 1 : 0)][t];
  return key;
}

bool mapTableFile(const char* name, const char* extension, Mapping& out, std::string& why) {
  why.clear();
  const int fd = openTableFile(name, extension);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = "not a regular file";
  } else if (st.st_size == 0) {
    why = "empty file";
  } else {
    void* p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
      why = strerror(errno);
    } else {
      out.data = static_cast<const uint8_t*>(p);
      out.size = static_cast<size_t>(st.st_size);
    }
  }
  close(fd);
  return why.empty();
}

void unmapTableFile(Mapping& m) {
  if (m.data && munmap(const_cast<uint8_t*>(m.data), m.size) != 0)
    fprintf(stderr, "unmap failed, error code %d\n", errno);
  m = Mapping{};
}

TableEntry* findTable(uint64_t key) {
  for (HashSlot& s : tbHash[key >> kHashShift])
    if (s.key.load(std::memory_order_relaxed) == key) return s.entry;
  return nullptr;
}

bool ensureWdlLoaded(TableEntry& e) {
  if (e.ready.load(std::memory_order_acquire)) return true;
  if (e.broken.load(std::memory_order_relaxed)) return false;
  std::lock_guard<std::mutex> guard(loadLock);
  if (e.ready.load(std::memory_order_relaxed)) return true;
  if (e.broken.load(std::memory_order_relaxed)) return false;
  if (!loadFile(e, ".rtbw", kWdlMagic, false, e.wdl)) {
    // Never looked for again until the tablebases are set up anew.
    clearKeys(e);
    e.broken.store(1, std::memory_order_relaxed);
    return false;
  }
  e.ready.store(1, std::memory_order_release);
  return true;
}

const TableFile* findDtzTable(const TableEntry& e) {
  for (int i = 0; i < dtzUsed; ++i) {
    const int slot = dtzOrder[i];
    if (dtzSlots[slot].entry != &e) continue;
    std::copy_backward(dtzOrder, dtzOrder + i, dtzOrder + i + 1);
    dtzOrder[0] = slot;
    return dtzSlots[slot].usable ? &dtzSlots[slot].file : nullptr;
  }
  int slot;
  if (dtzUsed < kDtzCacheSize) {
    slot = dtzUsed++;
  } else {
    slot = dtzOrder[kDtzCacheSize - 1];
    if (dtzSlots[slot].file.map.data) unmapTableFile(dtzSlots[slot].file.map);
    dtzSlots[slot].file = TableFile{};
  }
  std::copy_backward(dtzOrder, dtzOrder + dtzUsed - 1, dtzOrder + dtzUsed);
  dtzOrder[0] = slot;
  DtzSlot& s = dtzSlots[slot];
  s.entry = &e;
  s.usable = loadFile(e, ".rtbz", kDtzMagic, true, s.file);
  return s.usable ? &s.file : nullptr;
}

int initTablebases(const std::string& path) {
  if (initialised) {
    releaseAll();
  } else {
    initIndexTables();
    initialised = true;
  }
  pieceEntryCount = pawnEntryCount = 0;
  largestTable = 0;
  for (auto& bucket : tbHash)
    for (HashSlot& s : bucket) {
      s.key.store(0, std::memory_order_relaxed);
      s.entry = nullptr;
    }
  if (path.empty() || path == "<empty>") return 0;
  splitDirectories(path);
  enumerateTables();
  platform::outputFormat("info string found %d tablebases", tableCount());
  return tableCount();
}

int tableCount() { return pieceEntryCount + pawnEntryCount; }

int registeredKeys() {
  int n = 0;
  for (const auto& bucket : tbHash)
    for (const HashSlot& s : bucket) n += s.key.load(std::memory_order_relaxed) != 0;
  return n;
}

}  // namespace syzygy
