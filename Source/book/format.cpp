// Book records on disk and book moves as engine moves.
#include "book/book.h"

namespace book {

using namespace board;

namespace {

// Promotion piece in bits 12..14: 1 knight, 2 bishop, 3 rook, 4 queen.
constexpr int kPromotionShift = 12;
constexpr int kSquareMask = 63;
constexpr int kFromShift = 6;
constexpr Move kPromotionFlags[5] = {0, kPromoKnight, kPromoBishop, kPromoRook, kPromoQueen};

uint64_t readBigEndian(const uint8_t* bytes, int width) {
  uint64_t v = 0;
  for (int i = 0; i < width; ++i) v = v << 8 | bytes[i];
  return v;
}

void writeBigEndian(uint64_t v, uint8_t* bytes, int width) {
  for (int i = width - 1; i >= 0; --i, v >>= 8) bytes[i] = static_cast<uint8_t>(v);
}

// The rook square a castling king move is stored with (64: not castling).
struct CastleSpelling {
  int colour, kingFrom, kingTo, rookSquare;
};
constexpr CastleSpelling kCastleSpellings[4] = {
    {kWhite, kE1, kG1, kH1}, {kWhite, kE1, kC1, kA1}, {kBlack, kE8, kG8, kH8}, {kBlack, kE8, kC8, kA8}};

bool kingOn(const Position& pos, int square, int colour) { return pos.board[square] == pieceCode(colour, kKing); }

}  // namespace

void encodeEntry(const BookEntry& e, uint8_t* bytes) {
  writeBigEndian(e.key, bytes, 8);
  writeBigEndian(e.move, bytes + 8, 2);
  writeBigEndian(e.weight, bytes + 10, 2);
  writeBigEndian(e.learn, bytes + 12, 4);
}

BookEntry decodeEntry(const uint8_t* bytes) {
  return BookEntry{readBigEndian(bytes, 8), static_cast<uint16_t>(readBigEndian(bytes + 8, 2)),
                   static_cast<uint16_t>(readBigEndian(bytes + 10, 2)),
                   static_cast<uint32_t>(readBigEndian(bytes + 12, 4))};
}

Move bookMoveToMove(const Position& pos, uint16_t bookMove) {
  const int to = bookMove & kSquareMask;
  const int from = (bookMove >> kFromShift) & kSquareMask;
  const int promotion = (bookMove >> kPromotionShift) & 7;
  if (promotion > 4) return kNoMove;
  int target = to;
  // Only a king "takes its own rook": a rook going e1-a1 stays a rook move.
  for (const CastleSpelling& c : kCastleSpellings)
    if (from == c.kingFrom && to == c.rookSquare && kingOn(pos, from, c.colour)) target = c.kingTo;
  return makeMoveCode(from, target, kPromotionFlags[promotion]);
}

uint16_t moveToBookMove(const Position& pos, Move move) {
  const int from = moveFrom(move);
  int to = moveTo(move);
  for (const CastleSpelling& c : kCastleSpellings)
    if (from == c.kingFrom && to == c.kingTo && kingOn(pos, from, c.colour)) to = c.rookSquare;
  int promotion = 0;
  if (isPromotion(move)) {
    for (int p = 1; p <= 4; ++p)
      if (move & kPromotionFlags[p]) promotion = p;
  }
  return static_cast<uint16_t>(to | from << kFromShift | promotion << kPromotionShift);
}

}  // namespace book
