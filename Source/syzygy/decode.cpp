// Table decoding: the file header (piece orders, pair dictionaries, maps,
// block tables), the index of a position inside a part, and the value
// stored at an index.
#include <algorithm>
#include <bit>
#include <cstring>

#include "board/attacks.h"
#include "syzygy/tables.h"

namespace syzygy {

using namespace board;

namespace {

constexpr int kBinomialK = 7;
uint64_t binomial[kBinomialK][64];
// Leading pawns: index offset by (pawns - 1, flap of the first) and the
// sub-table's range by (pawns - 1, file a..d).
constexpr int kMaxLeadingPawns = 5;
uint64_t pawnIdx[kMaxLeadingPawns][24];
uint64_t pawnFactor[kMaxLeadingPawns][4];
int16_t kkIndex[10][64];

constexpr uint8_t kTriangle[64] = {
    6, 0, 1, 2, 2, 1, 0, 6, 0, 7, 3, 4, 4, 3, 7, 0, 1, 3, 8, 5, 5, 8, 3, 1, 2, 4, 5, 9, 9, 5, 4, 2,
    2, 4, 5, 9, 9, 5, 4, 2, 1, 3, 8, 5, 5, 8, 3, 1, 0, 7, 3, 4, 4, 3, 7, 0, 6, 0, 1, 2, 2, 1, 0, 6};
constexpr uint8_t kDiag[64] = {
    0, 0, 0, 0, 0, 0,  0, 8, 0, 1, 0, 0, 0,  0, 9, 0, 0, 0, 2, 0, 0, 10, 0, 0, 0, 0, 0, 3, 11, 0, 0, 0,
    0, 0, 0, 12, 4, 0, 0, 0, 0, 0, 13, 0, 0, 5, 0, 0, 0, 14, 0, 0, 0, 0, 6, 0, 15, 0, 0, 0, 0, 0, 0, 7};
constexpr uint8_t kLower[64] = {
    28, 0,  1,  2,  3,  4,  5,  6,  0, 29, 7,  8,  9,  10, 11, 12, 1, 7,  30, 13, 14, 15, 16, 17,
    2,  8,  13, 31, 18, 19, 20, 21, 3, 9,  14, 18, 32, 22, 23, 24, 4, 10, 15, 19, 22, 33, 25, 26,
    5,  11, 16, 20, 23, 25, 34, 27, 6, 12, 17, 21, 24, 26, 27, 35};
constexpr uint8_t kPtwist[64] = {
    0,  0,  0,  0,  0,  0,  0,  0,  47, 35, 23, 11, 10, 22, 34, 46, 45, 33, 21, 9,  8,  20,
    32, 44, 43, 31, 19, 7,  6,  18, 30, 42, 41, 29, 17, 5,  4,  16, 28, 40, 39, 27, 15, 3,
    2,  14, 26, 38, 37, 25, 13, 1,  0,  12, 24, 36, 0,  0,  0,  0,  0,  0,  0,  0};
constexpr uint8_t kFlap[64] = {
    0, 0, 0, 0,  0,  0,  0, 0, 0, 6, 12, 18, 18, 12, 6, 0, 1, 7, 13, 19, 19, 13, 7, 1, 2, 8, 14, 20, 20, 14, 8, 2,
    3, 9, 15, 21, 21, 15, 9, 3, 4, 10, 16, 22, 22, 16, 10, 4, 5, 11, 17, 23, 23, 17, 11, 5, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kFileToFile[8] = {0, 1, 2, 3, 3, 2, 1, 0};
// First king of each king-pair row: b1, c1, d1, c2, d2, d3, a1, b2, c3, d4.
constexpr uint8_t kKingPairFirst[10] = {1, 2, 3, 10, 11, 19, 0, 9, 18, 27};
constexpr int kOnDiagonalRows = 6;  // rows 6..9 have the first king on a1-h8

// Ranges of the leading group without pawns.
constexpr uint64_t kThreeUniqueRange = 31332, kKingPairRange = 462;
constexpr int kUniqueLeadThree = 0, kUniqueLeadKings = 2;
constexpr uint8_t kNoOrder = 15;
constexpr uint64_t kMaxTableSize = uint64_t{1} << 40;
constexpr int kMaxBlockSizeLog2 = 24, kMaxIdxBits = 40;
constexpr uint32_t kMaxSymbolLength = 1u << 30;
// DTZ flag bits.
constexpr uint8_t kDtzMapped = 2, kDtzWideMaps = 16, kConstantPart = 0x80;

bool onDiagonal(int s) { return rankOf(s) == fileOf(s); }
bool aboveDiagonal(int s) { return rankOf(s) > fileOf(s); }
int reflectDiagonal(int s) { return (s >> 3) | ((s & 7) << 3); }
bool touches(int a, int b) { return std::max(std::abs(fileOf(a) - fileOf(b)), std::abs(rankOf(a) - rankOf(b))) <= 1; }

void buildKingPairs() {
  for (auto& row : kkIndex) std::fill(std::begin(row), std::end(row), int16_t{-1});
  int16_t next = 0;
  for (int t = 0; t < 10; ++t) {
    const int k = kKingPairFirst[t];
    for (int s = 0; s < 64; ++s) {
      if (touches(k, s)) continue;
      if (t >= kOnDiagonalRows && rankOf(s) >= fileOf(s)) continue;
      kkIndex[t][s] = next++;
    }
  }
  for (int t = kOnDiagonalRows; t < 10; ++t) {
    const int k = kKingPairFirst[t];
    for (int s = 0; s < 64; ++s)
      if (onDiagonal(s) && !touches(k, s)) kkIndex[t][s] = next++;
  }
}

// ---------------------------------------------------------------- bounded reading

struct Cursor {
  const uint8_t* data;
  size_t size;
  size_t pos;
  bool ok = true;
  bool need(size_t n) {
    if (!ok || n > size || pos > size - n) ok = false;
    return ok;
  }
  uint8_t u8() { return need(1) ? data[pos++] : 0; }
  uint16_t u16() {
    if (!need(2)) return 0;
    uint16_t v = static_cast<uint16_t>(data[pos] | (data[pos + 1] << 8));
    pos += 2;
    return v;
  }
  uint32_t u32() {
    if (!need(4)) return 0;
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data[pos + i];
    pos += 4;
    return v;
  }
  // Moves past n bytes that must lie inside the file.
  bool skip(uint64_t n) {
    if (!ok || n > size - std::min(pos, size)) return ok = false;
    pos += static_cast<size_t>(n);
    return true;
  }
  void alignEven() {
    if (pos & 1) skip(1);
  }
};

// Small fixed arrays: insertion sort, ascending by key.
template <typename Less>
void sortSmall(int* a, int n, Less less) {
  for (int i = 1; i < n && i < kMaxMen; ++i)
    for (int j = i; j > 0 && less(a[j], a[j - 1]); --j) std::swap(a[j], a[j - 1]);
}
void sortSmall(int* a, int n) { sortSmall(a, n, [](int x, int y) { return x < y; }); }

bool fail(std::string& why, const char* what) {
  why = what;
  return false;
}

// ---------------------------------------------------------------- groups and multipliers

bool validPieceCode(int c) { return (c >= 1 && c <= 6) || (c >= 9 && c <= 14); }

// Splits the list of one part into groups, checks it against the entry's
// material and computes the multipliers and the number of indices.
bool setUpGroups(const TableEntry& e, PartData& p, int subTable, std::string& why) {
  const int n = e.pieceCount;
  uint8_t seen[16] = {};
  for (int i = 0; i < n; ++i) {
    if (!validPieceCode(p.pieces[i])) return fail(why, "bad piece code");
    ++seen[p.pieces[i]];
  }
  for (int c = 0; c < 2; ++c)
    for (int type = kPawn; type <= kKing; ++type)
      if (seen[pieceCode(c, type)] != e.counts[c][type]) return fail(why, "piece list does not match the material");

  uint64_t range[kMaxMen] = {};
  int g = 0, i = 0;
  if (e.hasPawns) {
    const int lead = e.pawnCount[0], second = e.pawnCount[1];
    const int leadColour = colourOf(p.pieces[0]);
    for (int k = 0; k < lead + second; ++k)
      if (p.pieces[k] != pieceCode(k < lead ? leadColour : leadColour ^ 1, kPawn))
        return fail(why, "pawn groups out of order");
    if (lead < 1 || lead > kMaxLeadingPawns) return fail(why, "bad pawn count");
    p.groupSize[g] = static_cast<uint8_t>(lead);
    range[g++] = pawnFactor[lead - 1][subTable];
    i = lead;
    if (second) {
      p.groupSize[g] = static_cast<uint8_t>(second);
      range[g++] = binomial[second][48 - lead];
      i += second;
    }
  } else {
    const int lead = e.kkEncoding == kUniqueLeadThree ? 3 : 2;
    for (int k = 0; k < lead; ++k)
      if (seen[p.pieces[k]] != 1) return fail(why, "leading men are not unique");
    if (lead == 2 && (typeOf(p.pieces[0]) != kKing || typeOf(p.pieces[1]) != kKing))
      return fail(why, "king pair expected first");
    if (lead == 3 && (p.pieces[0] == p.pieces[1] || p.pieces[0] == p.pieces[2] || p.pieces[1] == p.pieces[2]))
      return fail(why, "leading men repeat");
    p.groupSize[g] = static_cast<uint8_t>(lead);
    range[g++] = lead == 3 ? kThreeUniqueRange : kKingPairRange;
    i = lead;
  }
  int free = 64 - i;
  while (i < n) {
    if (g >= kMaxMen) return fail(why, "too many groups");
    int j = i;
    while (j < n && p.pieces[j] == p.pieces[i]) ++j;
    const int size = j - i;
    if (size != seen[p.pieces[i]]) return fail(why, "like men not adjacent");
    p.groupSize[g] = static_cast<uint8_t>(size);
    range[g++] = binomial[size][free];
    free -= size;
    i = j;
  }
  p.groupCount = g;
  // Significance order: the leading group at order, the second pawn group
  // at order2, the others fill the remaining places in list order.
  const bool twoPawnGroups = e.hasPawns && e.pawnCount[1] > 0;
  if (p.order >= g || (twoPawnGroups && (p.order2 >= g || p.order2 == p.order))) return fail(why, "bad group order");
  int groupAt[kMaxMen];
  std::fill(std::begin(groupAt), std::end(groupAt), -1);
  groupAt[p.order] = 0;
  if (twoPawnGroups) groupAt[p.order2] = 1;
  int nextGroup = twoPawnGroups ? 2 : 1;
  for (int k = 0; k < g; ++k)
    if (groupAt[k] < 0) groupAt[k] = nextGroup++;
  uint64_t mult = 1;
  for (int k = 0; k < g; ++k) {
    const int grp = groupAt[k];
    p.factor[grp] = mult;
    if (range[grp] == 0 || mult > kMaxTableSize / range[grp]) return fail(why, "table too large");
    mult *= range[grp];
  }
  p.tableSize = mult;
  return true;
}

// ---------------------------------------------------------------- pair dictionaries

// Lengths of every symbol, following pairs; false on a cycle or a runaway length.
bool computeLengths(std::vector<Symbol>& syms) {
  std::vector<uint8_t> state(syms.size(), 0);  // 0 new, 1 on the way, 2 done
  std::vector<uint16_t> stack;
  for (size_t root = 0; root < syms.size(); ++root) {
    if (state[root]) continue;
    stack.push_back(static_cast<uint16_t>(root));
    while (!stack.empty()) {
      const uint16_t s = stack.back();
      if (state[s] == 2) {
        stack.pop_back();
        continue;
      }
      Symbol& sym = syms[s];
      if (sym.right == kLiteral) {
        sym.length = 1;
        state[s] = 2;
        stack.pop_back();
        continue;
      }
      state[s] = 1;
      bool waiting = false;
      for (uint16_t child : {sym.left, sym.right}) {
        if (state[child] == 1 && child != s) return false;
        if (child == s) return false;
        if (state[child] == 0) {
          stack.push_back(child);
          waiting = true;
        }
      }
      if (waiting) {
        if (stack.size() > syms.size() * 2 + 2) return false;
        continue;
      }
      const uint64_t len = uint64_t{syms[sym.left].length} + syms[sym.right].length;
      if (len > kMaxSymbolLength) return false;
      sym.length = static_cast<uint32_t>(len);
      state[s] = 2;
      stack.pop_back();
    }
  }
  return true;
}

bool readPairsHeader(Cursor& c, PairsData& d, uint64_t tableSize, std::string& why) {
  const uint8_t b0 = c.u8();
  d.flags = b0;
  if (b0 & kConstantPart) {
    d.constant = true;
    d.constValue = c.u8();
    return c.ok || fail(why, "truncated header");
  }
  d.constant = false;
  d.blockSizeLog2 = c.u8();
  d.idxBits = c.u8();
  const uint8_t extra = c.u8();
  d.realBlocks = c.u32();
  d.maxLen = c.u8();
  d.minLen = c.u8();
  if (!c.ok) return fail(why, "truncated header");
  if (d.blockSizeLog2 < 1 || d.blockSizeLog2 > kMaxBlockSizeLog2 || d.idxBits < 1 || d.idxBits > kMaxIdxBits ||
      d.minLen < 1 || d.maxLen > kMaxCodeLength || d.minLen > d.maxLen || d.realBlocks == 0)
    return fail(why, "bad compression header");
  d.blockCount = d.realBlocks + extra;
  if (d.blockCount < d.realBlocks) return fail(why, "bad block count");
  for (int l = d.minLen; l <= d.maxLen; ++l) d.offset[l] = c.u16();
  const uint16_t numSyms = c.u16();
  if (!c.ok || numSyms == 0 || numSyms > kLiteral) return fail(why, "truncated symbol table");
  d.symbols.assign(numSyms, Symbol{});
  for (uint16_t s = 0; s < numSyms; ++s) {
    const uint8_t a = c.u8(), b = c.u8(), x = c.u8();
    Symbol& sym = d.symbols[s];
    sym.left = static_cast<uint16_t>(a | ((b & 15) << 8));
    sym.right = static_cast<uint16_t>((b >> 4) | (x << 4));
    if (sym.right != kLiteral && (sym.left >= numSyms || sym.right >= numSyms)) return fail(why, "bad symbol");
  }
  if (numSyms & 1) c.u8();
  if (!c.ok) return fail(why, "truncated symbol table");
  if (!computeLengths(d.symbols)) return fail(why, "cyclic symbol table");
  // Canonical code bases, each below 2^l for a sound code.
  uint64_t B[kMaxCodeLength + 2] = {};
  for (int l = d.maxLen - 1; l >= d.minLen; --l) {
    const int64_t diff = int64_t{d.offset[l]} - d.offset[l + 1];
    if (diff < 0) return fail(why, "bad code offsets");
    B[l] = (B[l + 1] + static_cast<uint64_t>(diff)) / 2;
  }
  for (int l = d.minLen; l <= d.maxLen; ++l) {
    if (B[l] >= (uint64_t{1} << l)) return fail(why, "bad code lengths");
    d.base[l] = B[l] << (64 - l);
  }
  d.indexEntries = (tableSize + (uint64_t{1} << d.idxBits) - 1) >> d.idxBits;
  return true;
}

// ---------------------------------------------------------------- squares of a position

// The squares of the men of part p in list order, colours swapped and ranks
// flipped as asked; false when the position lacks a man the list names.
bool collectSquares(const TbPosition& pos, const PartData& p, int n, bool swap, int* sq) {
  const uint64_t colourSet[2] = {pos.white, pos.black};
  const uint64_t kindSet[7] = {0, pos.pawns, pos.knights, pos.bishops, pos.rooks, pos.queens, pos.kings};
  const int flip = swap ? 56 : 0;
  for (int i = 0; i < n;) {
    const int code = p.pieces[i];
    uint64_t b = kindSet[typeOf(code)] & colourSet[colourOf(code) ^ (swap ? 1 : 0)];
    while (i < n && p.pieces[i] == code) {
      if (!b) return false;
      sq[i++] = popLowest(b) ^ flip;
    }
  }
  return true;
}

constexpr int kPawnFreeSquares = 8;  // no pawn stands on the first rank

// The combinatorial number of the group sq[start..start+size): its squares
// counted past the men placed before it and the first `offset` squares.
uint64_t groupIndex(const int* sq, int start, int size, int offset) {
  int t[kMaxMen];
  std::copy(sq + start, sq + start + size, t);
  sortSmall(t, size);
  uint64_t v = 0;
  for (int k = 0; k < size; ++k) {
    int smaller = 0;
    for (int m = 0; m < start; ++m) smaller += sq[m] < t[k];
    v += binomial[k + 1][t[k] - offset - smaller];
  }
  return v;
}

// Combinatorial numbers of the groups after the leading ones.
uint64_t encodeOtherGroups(const PartData& p, const int* sq, int firstMan, int firstGroup, int n) {
  uint64_t idx = 0;
  int i = firstMan;
  for (int g = firstGroup; g < p.groupCount && i < n; ++g) {
    idx += groupIndex(sq, i, p.groupSize[g], 0) * p.factor[g];
    i += p.groupSize[g];
  }
  return idx;
}

uint64_t encodePieces(const TableEntry& e, const PartData& p, int* sq) {
  const int n = e.pieceCount;
  if (fileOf(sq[0]) >= 4)
    for (int i = 0; i < n; ++i) sq[i] ^= 7;
  if (rankOf(sq[0]) >= 4)
    for (int i = 0; i < n; ++i) sq[i] ^= 56;
  const int lead = e.kkEncoding == kUniqueLeadThree ? 3 : 2;
  for (int i = 0; i < n; ++i) {
    if (onDiagonal(sq[i])) continue;
    if (i < lead && aboveDiagonal(sq[i]))
      for (int k = 0; k < n; ++k) sq[k] = reflectDiagonal(sq[k]);
    break;
  }
  uint64_t v;
  if (lead == 2) {
    v = static_cast<uint64_t>(kkIndex[kTriangle[sq[0]]][sq[1]]);
  } else {
    const int p0 = sq[0], p1 = sq[1], p2 = sq[2];
    const int i = p1 > p0, j = (p2 > p0) + (p2 > p1);
    if (!onDiagonal(p0)) v = kTriangle[p0] * 3906 + (p1 - i) * 62 + (p2 - j);
    else if (!onDiagonal(p1)) v = 23436 + kDiag[p0] * 1736 + kLower[p1] * 62 + (p2 - j);
    else if (!onDiagonal(p2)) v = 30380 + kDiag[p0] * 196 + (kDiag[p1] - i) * 28 + kLower[p2];
    else v = 31164 + kDiag[p0] * 42 + (kDiag[p1] - i) * 6 + (kDiag[p2] - j);
  }
  return v * p.factor[0] + encodeOtherGroups(p, sq, lead, 1, n);
}

uint64_t encodePawns(const TableEntry& e, const PartData& p, int* sq) {
  const int n = e.pieceCount, lead = e.pawnCount[0], second = e.pawnCount[1];
  if (fileOf(sq[0]) >= 4)
    for (int i = 0; i < n; ++i) sq[i] ^= 7;
  // The others of the leading group by falling twist.
  sortSmall(sq + 1, lead - 1, [](int a, int b) { return kPtwist[a] > kPtwist[b]; });
  const int t = lead - 1;
  uint64_t v = pawnIdx[t][kFlap[sq[0]]];
  for (int m = 1; m <= t; ++m) v += binomial[t - m + 1][kPtwist[sq[m]]];
  uint64_t idx = v * p.factor[0];
  int group = 1;
  if (second) {
    idx += groupIndex(sq, lead, second, kPawnFreeSquares) * p.factor[1];
    group = 2;
  }
  return idx + encodeOtherGroups(p, sq, lead + second, group, n);
}

// The leading pawn (largest twist) first among the leading pawns; returns
// its sub-table.
int orderLeadingPawns(int* sq, int lead) {
  int best = 0;
  for (int i = 1; i < lead; ++i)
    if (kPtwist[sq[i]] > kPtwist[sq[best]]) best = i;
  std::swap(sq[0], sq[best]);
  return kFileToFile[fileOf(sq[0])];
}

// ---------------------------------------------------------------- block bits

uint32_t readBigEndian32(const uint8_t* p, const uint8_t* end) {
  uint32_t v = 0;
  for (int k = 0; k < 4; ++k) v = (v << 8) | (p + k < end ? p[k] : 0);
  return v;
}

}  // namespace

void initIndexTables() {
  for (int k = 0; k < kBinomialK; ++k)
    for (int n = 0; n < 64; ++n) {
      uint64_t v = 1;
      if (k > n) v = 0;
      else
        for (int i = 0; i < k; ++i) v = v * (n - i) / (i + 1);
      binomial[k][n] = v;
    }
  for (int t = 0; t < kMaxLeadingPawns; ++t)
    for (int f = 0; f < 4; ++f) {
      uint64_t sum = 0;
      for (int r = 0; r < 6; ++r) {
        pawnIdx[t][6 * f + r] = sum;
        sum += binomial[t][kPtwist[(r + 1) * 8 + f]];
      }
      pawnFactor[t][f] = sum;
    }
  buildKingPairs();
}

bool parseTableFile(const TableEntry& e, bool dtz, TableFile& out, std::string& why) {
  Cursor c{out.map.data, out.map.size, 4};
  const uint8_t flags = c.u8();
  if (!c.ok) return fail(why, "truncated header");
  if (((flags & 2) != 0) != (e.hasPawns != 0)) return fail(why, "pawn flag does not match the material");
  const bool twoSides = !dtz && (flags & 1);
  if (!dtz && twoSides == (e.symmetric != 0)) return fail(why, "side flag does not match the material");
  out.subTables = e.hasPawns ? kMaxSubTables : 1;
  out.sides = twoSides ? 2 : 1;
  const bool twoPawnGroups = e.hasPawns && e.pawnCount[1] > 0;
  for (int f = 0; f < out.subTables; ++f) {
    const uint8_t order = c.u8();
    const uint8_t order2 = twoPawnGroups ? c.u8() : 0xFF;
    for (int i = 0; i < e.pieceCount; ++i) {
      const uint8_t b = c.u8();
      out.parts[f][0].pieces[i] = b & 15;
      out.parts[f][1].pieces[i] = b >> 4;
    }
    if (!c.ok) return fail(why, "truncated piece order");
    for (int s = 0; s < out.sides; ++s) {
      PartData& p = out.parts[f][s];
      p.order = s == 0 ? order & 15 : order >> 4;
      p.order2 = twoPawnGroups ? (s == 0 ? order2 & 15 : order2 >> 4) : kNoOrder;
      if (!setUpGroups(e, p, f, why)) return false;
    }
  }
  c.alignEven();
  for (int f = 0; f < out.subTables; ++f)
    for (int s = 0; s < out.sides; ++s)
      if (!readPairsHeader(c, out.parts[f][s].pairs, out.parts[f][s].tableSize, why)) return false;
  if (dtz) {
    for (int f = 0; f < out.subTables; ++f) {
      const PairsData& d = out.parts[f][0].pairs;
      if (!(d.flags & kDtzMapped) || d.constant) continue;
      if (d.flags & kDtzWideMaps) return fail(why, "16-bit value maps are not supported");
      for (int m = 0; m < kMapCount; ++m) {
        const uint8_t n = c.u8();
        out.maps[f][m] = out.map.data + std::min(c.pos, c.size);
        out.mapSize[f][m] = n;
        c.skip(n);
      }
    }
    c.alignEven();
    if (!c.ok) return fail(why, "truncated value maps");
  }
  for (int f = 0; f < out.subTables; ++f)
    for (int s = 0; s < out.sides; ++s) {
      PairsData& d = out.parts[f][s].pairs;
      if (d.constant) continue;
      d.indexTable = out.map.data + std::min(c.pos, c.size);
      c.skip(d.indexEntries * 6);
    }
  for (int f = 0; f < out.subTables; ++f)
    for (int s = 0; s < out.sides; ++s) {
      PairsData& d = out.parts[f][s].pairs;
      if (d.constant) continue;
      d.sizeTable = out.map.data + std::min(c.pos, c.size);
      c.skip(uint64_t{d.blockCount} * 2);
    }
  for (int f = 0; f < out.subTables; ++f)
    for (int s = 0; s < out.sides; ++s) {
      PairsData& d = out.parts[f][s].pairs;
      if (d.constant) continue;
      c.skip((64 - (c.pos & 63)) & 63);
      d.data = out.map.data + std::min(c.pos, c.size);
      c.skip(uint64_t{d.realBlocks} << d.blockSizeLog2);
    }
  if (!c.ok) return fail(why, "file shorter than its tables");
  return true;
}

bool locatePosition(const TableEntry& e, const TableFile& f, bool dtz, const TbPosition& pos, Located& out,
                    bool& otherSide) {
  otherSide = false;
  const uint64_t key = materialKey(pos, false);
  const bool blackToMove = pos.turn == 0;
  const bool swap = e.symmetric ? blackToMove : key != e.key;
  const int side = (blackToMove ? 1 : 0) ^ (swap ? 1 : 0);
  int sq[kMaxMen];
  int sub = 0;
  if (e.hasPawns) {
    // The leading pawns choose the sub-table, whose list orders the rest.
    const PartData& first = f.parts[0][0];
    const int lead = e.pawnCount[0];
    const uint64_t colourSet[2] = {pos.white, pos.black};
    uint64_t b = pos.pawns & colourSet[colourOf(first.pieces[0]) ^ (swap ? 1 : 0)];
    for (int i = 0; i < lead; ++i) {
      if (!b) return false;
      sq[i] = popLowest(b) ^ (swap ? 56 : 0);
    }
    sub = orderLeadingPawns(sq, lead);
  }
  const int stored = dtz ? 0 : (e.symmetric ? 0 : side);
  const PartData& p = f.parts[sub][stored];
  if (dtz && !e.symmetric && (p.pairs.flags & 1) != side && !p.pairs.constant) {
    otherSide = true;
    return false;
  }
  if (e.hasPawns) {
    int rest[kMaxMen];
    const int lead = e.pawnCount[0];
    if (!collectSquares(pos, p, e.pieceCount, swap, rest)) return false;
    std::copy(rest + lead, rest + e.pieceCount, sq + lead);
    out.index = encodePawns(e, p, sq);
  } else {
    if (!collectSquares(pos, p, e.pieceCount, swap, sq)) return false;
    out.index = encodePieces(e, p, sq);
  }
  out.part = &p;
  out.subTable = sub;
  return out.index < p.tableSize;
}

bool decompressPairs(const PairsData& d, uint64_t index, const Mapping& map, int& value) {
  if (d.constant) {
    value = d.constValue;
    return true;
  }
  const uint8_t* end = map.data + map.size;
  const uint64_t entry = index >> d.idxBits;
  if (entry >= d.indexEntries) return false;
  const uint8_t* ie = d.indexTable + 6 * entry;
  if (ie + 6 > end) return false;
  uint32_t block = static_cast<uint32_t>(ie[0] | (ie[1] << 8) | (ie[2] << 16) | (uint32_t{ie[3]} << 24));
  const int offsetInBlock = ie[4] | (ie[5] << 8);
  const uint64_t span = uint64_t{1} << d.idxBits;
  int64_t r = static_cast<int64_t>(index & (span - 1)) - static_cast<int64_t>(span >> 1) + offsetInBlock;
  auto count = [&](uint32_t k, uint32_t& out) {
    const uint8_t* s = d.sizeTable + 2 * uint64_t{k};
    if (k >= d.blockCount || s + 2 > end) return false;
    out = uint32_t(s[0] | (s[1] << 8)) + 1;
    return true;
  };
  uint32_t n;
  while (r < 0) {
    if (block == 0 || !count(--block, n)) return false;
    r += n;
  }
  for (;;) {
    if (!count(block, n)) return false;
    if (r < n) break;
    r -= n;
    ++block;
  }
  if (block >= d.realBlocks) return false;
  const uint64_t blockSize = uint64_t{1} << d.blockSizeLog2;
  const uint8_t* ptr = d.data + block * blockSize;
  const uint8_t* blockEnd = ptr + blockSize;
  if (ptr >= end) return false;
  uint64_t code = (uint64_t{readBigEndian32(ptr, end)} << 32) | readBigEndian32(ptr + 4, end);
  ptr += 8;
  int bitCount = 0;
  uint32_t sym;
  const uint32_t numSyms = static_cast<uint32_t>(d.symbols.size());
  for (;;) {
    int l = d.minLen;
    while (code < d.base[l]) ++l;
    sym = d.offset[l] + static_cast<uint32_t>((code - d.base[l]) >> (64 - l));
    if (sym >= numSyms) return false;
    const uint32_t len = d.symbols[sym].length;
    if (r < len) break;
    r -= len;
    code <<= l;
    bitCount += l;
    if (bitCount >= 32) {
      if (ptr >= blockEnd + 8) return false;  // past the block: the sizes lie
      bitCount -= 32;
      code |= uint64_t{readBigEndian32(ptr, end)} << bitCount;
      ptr += 4;
    }
  }
  while (d.symbols[sym].right != kLiteral) {
    const Symbol& s = d.symbols[sym];
    const uint32_t leftLen = d.symbols[s.left].length;
    if (r < leftLen) {
      sym = s.left;
    } else {
      r -= leftLen;
      sym = s.right;
    }
  }
  value = d.symbols[sym].left & 0xFF;
  return true;
}

}  // namespace syzygy
