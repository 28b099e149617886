// Inside the tablebase code: the registry entries, a mapped file, the
// decoding state of one stored part, and the calls between the files.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "syzygy/syzygy.h"

namespace syzygy {

constexpr int kMaxMen = 7;
constexpr int kMaxSubTables = 4;  // pawn tables: one per file of the leading pawn (a..d)
constexpr int kMaxSides = 2;
constexpr int kMaxCodeLength = 32;  // the decoder's window holds at least this many bits
constexpr int kMapCount = 4;        // DTZ value maps: win, loss, cursed win, blessed loss

// A read-only view of a whole file.
struct Mapping {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// One symbol of the pair dictionary: a literal (right = kLiteral) or the
// pair (left, right); length = how many values it stands for.
struct Symbol {
  uint16_t left, right;
  uint32_t length;
};
constexpr uint16_t kLiteral = 0xFFF;

// The compressed values of one part (sub-table and side).
struct PairsData {
  bool constant = false;
  uint8_t constValue = 0;
  uint8_t flags = 0;  // DTZ: stored side, maps, plies/moves
  uint8_t blockSizeLog2 = 0, idxBits = 0, minLen = 0, maxLen = 0;
  uint32_t realBlocks = 0, blockCount = 0;
  uint64_t indexEntries = 0;
  const uint8_t* indexTable = nullptr;
  const uint8_t* sizeTable = nullptr;
  const uint8_t* data = nullptr;
  uint64_t base[kMaxCodeLength + 2] = {};  // left-aligned in 64 bits
  uint16_t offset[kMaxCodeLength + 2] = {};
  std::vector<Symbol> symbols;
};

// The index layout of one part: its men in list order, their groups, the
// multiplier of each group and the number of indices.
struct PartData {
  uint8_t pieces[kMaxMen] = {};
  uint8_t order = 0, order2 = 15;
  int groupCount = 0;
  uint8_t groupSize[kMaxMen] = {};
  uint64_t factor[kMaxMen] = {};
  uint64_t tableSize = 0;
  PairsData pairs;
};

// A decoded table file: the parts of each sub-table, and for DTZ the maps.
struct TableFile {
  Mapping map;
  int subTables = 0, sides = 0;
  PartData parts[kMaxSubTables][kMaxSides];
  const uint8_t* maps[kMaxSubTables][kMapCount] = {};
  uint8_t mapSize[kMaxSubTables][kMapCount] = {};
};

// One registered material configuration.
struct TableEntry {
  char name[16] = {};
  uint64_t key = 0, mirroredKey = 0;
  std::atomic<uint8_t> ready{0};
  std::atomic<uint8_t> broken{0};  // its WDL file is missing or unreadable
  uint8_t pieceCount = 0, symmetric = 0, hasPawns = 0, kkEncoding = 0;
  uint8_t pawnCount[2] = {};
  uint8_t counts[2][8] = {};  // men by colour (table colours) and kind
  TableFile wdl;
};

// ---------------------------------------------------------------- registry (registry.cpp)
// The entry for a material key and whether the position is colour-swapped
// relative to it; nullptr when none is registered.
TableEntry* findTable(uint64_t key);
// Maps and decodes the WDL file once (under the loading lock); false when
// the table cannot be used.
bool ensureWdlLoaded(TableEntry& e);
// Finds name + extension in the directories; false when absent or unmappable
// (why says which).
bool mapTableFile(const char* name, const char* extension, Mapping& out, std::string& why);
void unmapTableFile(Mapping& m);
// The decoded DTZ file of a table from the cache of recently used ones
// (mapping it on a miss); nullptr when it is missing or unreadable. Not
// thread-safe: only the root probe uses it.
const TableFile* findDtzTable(const TableEntry& e);
uint64_t materialKeyOfCounts(const uint8_t counts[2][8], bool mirror);

// ---------------------------------------------------------------- decoding (decode.cpp)
void initIndexTables();
// Reads the header of a mapped file for entry; false with why on any
// structural fault.
bool parseTableFile(const TableEntry& e, bool dtz, TableFile& out, std::string& why);
// The stored value of a position for the part that holds it: false when the
// file cannot answer (DTZ: the other side is stored, or corrupt data).
struct Located {
  const PartData* part;
  int subTable;
  uint64_t index;
};
bool locatePosition(const TableEntry& e, const TableFile& f, bool dtz, const TbPosition& pos, Located& out,
                    bool& otherSide);
bool decompressPairs(const PairsData& d, uint64_t index, const Mapping& map, int& value);

}  // namespace syzygy
