// Training records: a position packed into 32 bytes with its search score
// and game result, and the data file that holds them in checksummed chunks
// of whole games.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "board/board.h"

namespace train {

constexpr int kRecordBytes = 32;

// Bits of PackedRecord::flags.
constexpr uint8_t kFlagBlackToMove = 0x01;
constexpr uint8_t kFlagInCheck = 0x02;
constexpr uint8_t kFlagCapture = 0x04;    // the best move captures
constexpr uint8_t kFlagPromotion = 0x08;  // the best move promotes
constexpr uint8_t kFlagMateScore = 0x10;  // the score is a mate or tablebase score

// Game result from White's view.
enum GameResult : uint8_t { kBlackWins = 0, kDraw = 1, kWhiteWins = 2 };
// A position that belongs to no game (the trainer's random walks): its
// target is its score alone. Never written to a data file.
constexpr uint8_t kNoResult = 3;

struct PackedRecord {
  uint64_t occupied;
  uint8_t pieces[16];  // piece codes of the occupied squares, rising square order, low nibble first
  uint8_t flags;
  uint8_t rule50;
  int16_t score;   // search score, side to move's view
  uint16_t ply;    // plies from the start position
  uint8_t result;  // GameResult
  uint8_t reserved;
};
static_assert(sizeof(PackedRecord) == kRecordBytes);

PackedRecord packPosition(const board::Position& pos, int score, int ply, uint8_t moveFlags);
// Sets pos from the record (no castling, no en passant; an owner starts an
// empty history). False when the record holds no sound position.
bool unpackPosition(const PackedRecord& r, board::Position& pos);
// 1 win, 0.5 draw, 0 loss for the side to move.
float resultForMover(const PackedRecord& r);

uint32_t crc32(const void* data, size_t bytes, uint32_t crc = 0);

// Records of one game follow one another with the ply rising by one: a
// record that does not continue the ply starts the next game.
inline bool startsGame(const PackedRecord& r, int lastPly) { return r.ply != lastPly + 1; }
// Whether game number game (counted from 1 over all files read) is held out
// for validation: a hash of the number and the seed against share. Positions
// of one game are alike and share a result, so they are held out together.
bool heldOutGame(uint64_t game, uint64_t seed, double share);

// What produced a file; a resumed run must match it.
enum EvalSource : uint16_t { kSourceHandCrafted = 0, kSourceNetwork = 1 };

struct DataHeader {
  char magic[8];
  uint16_t version;
  uint16_t evalSource;
  uint16_t hashMb;
  uint16_t randomMovePermille;  // 0 in files made before random moves existed
  uint64_t seed;
  uint32_t softNodes;
  uint32_t hardNodes;
  uint32_t networkCrc;  // of the network file, 0 for the hand-crafted evaluation
  uint32_t reserved1;
  uint32_t reserved2;
  uint32_t headerCrc;   // of the bytes before it
};
static_assert(sizeof(DataHeader) == 48);

// Each chunk: this header, then recordCount records of gameCount whole games.
struct ChunkHeader {
  uint32_t magic;
  uint32_t recordCount;
  uint64_t firstGame;
  uint32_t gameCount;
  uint32_t payloadCrc;
  uint32_t reserved;
  uint32_t headerCrc;  // of the bytes before it
};
static_assert(sizeof(ChunkHeader) == 32);

enum DataStatus : int { kDataOk = 0, kDataMissing, kDataEmpty, kDataForeign, kDataUnreadable };
const char* dataStatusText(int status);

// What a read of a data file found.
struct DataScan {
  DataHeader header{};
  uint64_t records = 0;        // in sound chunks
  uint64_t chunks = 0;         // sound chunks
  uint64_t damagedChunks = 0;  // skipped: cut short, bad checksum or bad header
  uint64_t games = 0;          // in sound chunks
  uint64_t nextGame = 0;       // the first game index after every sound chunk
  uint64_t completeBytes = 0;  // end of the last whole chunk: where appending goes on
  uint64_t fileBytes = 0;
  std::vector<std::string> notes;  // one line per damaged part
};

DataHeader makeDataHeader(uint64_t seed, uint32_t softNodes, uint32_t hardNodes, int hashMb, EvalSource source,
                          uint32_t networkCrc);
// Sets headerCrc; 0 when written, -1 on a write error.
int writeDataHeader(FILE* f, DataHeader header);
// One chunk, flushed; 0 when written, -1 on a write error.
int writeChunk(FILE* f, uint64_t firstGame, uint32_t gameCount, const PackedRecord* records, size_t count);
// Reads a data file; records (when given) receive the records of every sound
// chunk. Damaged chunks are skipped and noted; the status says whether the
// file could be used at all.
int readDataFile(const std::string& path, DataScan& scan, std::vector<PackedRecord>* records);

}  // namespace train
