#include "records.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "board/attacks.h"

namespace train {

using namespace board;

namespace {

constexpr char kDataMagic[8] = {'V', 'E', 'S', 'K', 'D', 'A', 'T', 'A'};
constexpr uint16_t kDataVersion = 1;
constexpr uint32_t kChunkMagic = 0x4B4E4843;  // "CHNK"
// More than this in one chunk is a damaged header, not a real chunk.
constexpr uint32_t kMaxChunkRecords = 1u << 24;
constexpr int kMaxPieces = 32;
constexpr int kNibbleBits = 4;

constexpr std::array<uint32_t, 256> makeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = makeCrcTable();

// A nibble holds colour * 8 + type; types 0 and 7 are no piece.
bool validPieceCode(int code) { return typeOf(code) >= kPawn && typeOf(code) <= kKing; }

bool writeAll(FILE* f, const void* data, size_t bytes) { return bytes == 0 || fwrite(data, 1, bytes, f) == bytes; }

uint32_t headerCrcOf(const void* header, size_t bytesBeforeCrc) { return crc32(header, bytesBeforeCrc); }

}  // namespace

namespace {

constexpr uint64_t kSplitBuckets = 1000000;

uint64_t mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

}  // namespace

bool heldOutGame(uint64_t game, uint64_t seed, double share) {
  return static_cast<double>(mix(game ^ mix(seed)) % kSplitBuckets) < share * kSplitBuckets;
}

uint32_t crc32(const void* data, size_t bytes, uint32_t crc) {
  const auto* p = static_cast<const uint8_t*>(data);
  crc = ~crc;
  for (size_t i = 0; i < bytes; ++i) crc = kCrcTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

PackedRecord packPosition(const Position& pos, int score, int ply, uint8_t moveFlags) {
  PackedRecord r{};
  r.occupied = occupied(pos);
  int k = 0;
  for (Bitboard b = r.occupied; b && k < kMaxPieces; ++k) {
    const int sq = popLowest(b);
    r.pieces[k / 2] |= static_cast<uint8_t>(pos.board[sq] << (kNibbleBits * (k & 1)));
  }
  r.flags = static_cast<uint8_t>(moveFlags | (pos.sideToMove == kBlack ? kFlagBlackToMove : 0));
  r.rule50 = pos.rule50;
  r.score = static_cast<int16_t>(score);
  r.ply = static_cast<uint16_t>(ply);
  r.result = kDraw;
  return r;
}

bool unpackPosition(const PackedRecord& r, Position& pos) {
  if (popCount(r.occupied) > kMaxPieces) return false;
  clearBoard(pos);
  int k = 0;
  for (Bitboard b = r.occupied; b; ++k) {
    const int sq = popLowest(b);
    const int code = (r.pieces[k / 2] >> (kNibbleBits * (k & 1))) & 15;
    if (!validPieceCode(code)) return false;
    putPiece(pos, colourOf(code), typeOf(code), sq);
  }
  pos.sideToMove = (r.flags & kFlagBlackToMove) ? kBlack : kWhite;
  pos.rule50 = r.rule50;
  pos.castleRights = 0;
  pos.epSquare = kNoSquare;
  if (!validatePosition(pos).empty()) return false;
  computeKeys(pos);
  return true;
}

float resultForMover(const PackedRecord& r) {
  const float white = r.result == kWhiteWins ? 1.0f : r.result == kBlackWins ? 0.0f : 0.5f;
  return (r.flags & kFlagBlackToMove) ? 1.0f - white : white;
}

const char* dataStatusText(int status) {
  switch (status) {
    case kDataOk: return "ok";
    case kDataMissing: return "cannot be opened";
    case kDataEmpty: return "is empty";
    case kDataForeign: return "is not a Vesk training data file (bad header)";
    default: return "cannot be read";
  }
}

DataHeader makeDataHeader(uint64_t seed, uint32_t softNodes, uint32_t hardNodes, int hashMb, EvalSource source,
                          uint32_t networkCrc) {
  DataHeader h{};
  memcpy(h.magic, kDataMagic, sizeof h.magic);
  h.version = kDataVersion;
  h.evalSource = source;
  h.hashMb = static_cast<uint16_t>(hashMb);
  h.seed = seed;
  h.softNodes = softNodes;
  h.hardNodes = hardNodes;
  h.networkCrc = networkCrc;
  return h;
}

int writeDataHeader(FILE* f, DataHeader header) {
  header.headerCrc = headerCrcOf(&header, offsetof(DataHeader, headerCrc));
  return writeAll(f, &header, sizeof header) && fflush(f) == 0 ? 0 : -1;
}

int writeChunk(FILE* f, uint64_t firstGame, uint32_t gameCount, const PackedRecord* records, size_t count) {
  ChunkHeader c{};
  c.magic = kChunkMagic;
  c.recordCount = static_cast<uint32_t>(count);
  c.firstGame = firstGame;
  c.gameCount = gameCount;
  c.payloadCrc = crc32(records, count * sizeof(PackedRecord));
  c.headerCrc = headerCrcOf(&c, offsetof(ChunkHeader, headerCrc));
  const bool ok = writeAll(f, &c, sizeof c) && writeAll(f, records, count * sizeof(PackedRecord)) && fflush(f) == 0;
  return ok ? 0 : -1;
}

namespace {

// Reads the file header; a status code.
int readHeader(FILE* f, DataScan& scan) {
  if (scan.fileBytes == 0) return kDataEmpty;
  if (scan.fileBytes < sizeof(DataHeader) || fread(&scan.header, sizeof scan.header, 1, f) != 1) return kDataForeign;
  const DataHeader& h = scan.header;
  if (memcmp(h.magic, kDataMagic, sizeof h.magic) != 0 || h.version != kDataVersion ||
      h.headerCrc != headerCrcOf(&h, offsetof(DataHeader, headerCrc)))
    return kDataForeign;
  return kDataOk;
}

void note(DataScan& scan, uint64_t offset, const char* what) {
  char line[160];
  snprintf(line, sizeof line, "chunk at byte %llu %s", static_cast<unsigned long long>(offset), what);
  scan.notes.emplace_back(line);
}

// One chunk at offset: false when nothing after it can be trusted.
bool readChunk(FILE* f, uint64_t offset, DataScan& scan, std::vector<PackedRecord>& payload,
               std::vector<PackedRecord>* records) {
  ChunkHeader c;
  if (scan.fileBytes - offset < sizeof c || fread(&c, sizeof c, 1, f) != 1) {
    note(scan, offset, "is cut short inside its header; skipped");
    ++scan.damagedChunks;
    return false;
  }
  if (c.magic != kChunkMagic || c.headerCrc != headerCrcOf(&c, offsetof(ChunkHeader, headerCrc)) ||
      c.recordCount > kMaxChunkRecords) {
    note(scan, offset, "has a damaged header; it and the rest of the file are skipped");
    ++scan.damagedChunks;
    return false;
  }
  const uint64_t bytes = static_cast<uint64_t>(c.recordCount) * sizeof(PackedRecord);
  if (scan.fileBytes - offset - sizeof c < bytes) {
    note(scan, offset, "is cut short; skipped");
    ++scan.damagedChunks;
    return false;
  }
  payload.resize(c.recordCount);
  if (c.recordCount && fread(payload.data(), sizeof(PackedRecord), c.recordCount, f) != c.recordCount) {
    note(scan, offset, "cannot be read; skipped");
    ++scan.damagedChunks;
    return false;
  }
  scan.completeBytes = offset + sizeof c + bytes;
  if (crc32(payload.data(), bytes) != c.payloadCrc) {
    note(scan, offset, "fails its checksum; skipped");
    ++scan.damagedChunks;
    return true;
  }
  ++scan.chunks;
  scan.records += c.recordCount;
  scan.games += c.gameCount;
  scan.nextGame = std::max(scan.nextGame, c.firstGame + c.gameCount);
  if (records) records->insert(records->end(), payload.begin(), payload.end());
  return true;
}

}  // namespace

int readDataFile(const std::string& path, DataScan& scan, std::vector<PackedRecord>* records) {
  scan = DataScan{};
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return kDataMissing;
  if (fseek(f, 0, SEEK_END) != 0) {
    fclose(f);
    return kDataUnreadable;
  }
  const long size = ftell(f);
  rewind(f);
  if (size < 0) {
    fclose(f);
    return kDataUnreadable;
  }
  scan.fileBytes = static_cast<uint64_t>(size);
  const int status = readHeader(f, scan);
  if (status != kDataOk) {
    fclose(f);
    return status;
  }
  scan.completeBytes = sizeof(DataHeader);
  std::vector<PackedRecord> payload;
  for (uint64_t offset = sizeof(DataHeader); offset < scan.fileBytes; offset = scan.completeBytes)
    if (!readChunk(f, offset, scan, payload, records)) break;
  fclose(f);
  return kDataOk;
}

}  // namespace train
