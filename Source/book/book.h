// Opening books in the Polyglot format: the position hash, probing a book
// for a move, and the book maker that builds one from PGN games.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "board/board.h"

namespace book {

using board::Move;
using board::Position;

// ---------------------------------------------------------------- format

constexpr int kRandomCount = 781;
constexpr int kRandomCastling = 768;   // white king side, white queen side, black king side, black queen side
constexpr int kRandomEnPassant = 772;  // + file of the en-passant square
constexpr int kRandomTurn = 780;       // White to move
extern const std::array<uint64_t, kRandomCount> Random64;

// One record of a book file; on disk 16 bytes, every field big-endian.
struct BookEntry {
  uint64_t key;
  uint16_t move;  // to in bits 0..5, from in bits 6..11, promotion piece in 12..14
  uint16_t weight;
  uint32_t learn;
};
constexpr int kEntryBytes = 16;

void encodeEntry(const BookEntry& entry, uint8_t* bytes);
BookEntry decodeEntry(const uint8_t* bytes);

// The Polyglot hash of a position (not the engine's own key).
uint64_t bookKey(const Position& pos);

// A book move as the engine's Move: promotion flags mapped, and a king
// "taking its own rook" (e1h1, e1a1, e8h8, e8a8) read as castling. Whether
// the result is legal is the caller's question.
Move bookMoveToMove(const Position& pos, uint16_t bookMove);
// The reverse, as the book maker writes it: castling as the king taking its rook.
uint16_t moveToBookMove(const Position& pos, Move move);

// ---------------------------------------------------------------- probing

// Entries read for one position at most.
constexpr int kMaxBookEntries = 128;
// Variety at which moves are chosen in proportion to their stored weights.
constexpr int kNeutralVariety = 25;
// Adjusted weights are parts of this total.
constexpr int kWeightScale = 10000;

// The entries of key in the book file at path, in file order (at most
// kMaxBookEntries); 0 for a missing, unreadable or short file.
int readBookEntries(const std::string& path, uint64_t key, BookEntry* out);

// Weights after the variety adjustment, one per entry (0 when negative);
// returns their sum, 0 when the stored weights sum to 0.
int32_t adjustWeights(const BookEntry* entries, int count, int variety, int32_t* adjusted);

// The entry a draw x of the random generator picks, entries of stored
// weight 0 never; -1 when there is none to pick.
int chooseEntry(const BookEntry* entries, const int32_t* adjusted, int count, int32_t total, uint32_t x);

struct ProbeSettings {
  int variety = kNeutralVariety;
  bool consoleLines = true;  // console mode: one line per move and the choice
};

// A move from the book for pos, or 0: no path, no readable file, position
// not in the book, weights all 0, or a chosen move that is not legal here.
// Prints the candidates (one "info string" line in UCI mode). Draws from
// the process-wide rand().
Move probeBook(Position& pos, const std::string& path, const ProbeSettings& settings);

// ---------------------------------------------------------------- book maker

constexpr const char* kMadeBookName = "tmp_book.bin";
// Statistics buckets, chosen by the top bits of the key.
constexpr int kBucketBits = 14;
constexpr int kBucketCount = 1 << kBucketBits;

// Builds a book from the games of the PGN file and writes it to outPath
// (through a temporary file, so a failed run leaves no partial book).
// maxNodes bounds the statistics (0: as much as memory allows). Returns 0 on
// success, 1 when the PGN cannot be read, memory runs out or the book
// cannot be written; each failure is reported.
int makeBook(const std::string& pgnPath, const std::string& outPath = kMadeBookName, size_t maxNodes = 0);

}  // namespace book
