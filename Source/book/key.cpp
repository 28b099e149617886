// The Polyglot position hash.
#include "board/attacks.h"
#include "book/book.h"

namespace book {

using namespace board;

namespace {

// Polyglot orders kinds black pawn, white pawn, black knight, ... white king.
int pieceKind(int code) { return 2 * (typeOf(code) - 1) + (colourOf(code) == kWhite ? 1 : 0); }

constexpr int kCastleBits[4] = {kWhiteKingSide, kWhiteQueenSide, kBlackKingSide, kBlackQueenSide};

// The en-passant file counts only when a pawn of the side to move stands
// beside the pawn that has just made its double step.
bool enPassantCounts(const Position& pos) {
  if (pos.epSquare >= 64) return false;
  const int us = pos.sideToMove;
  const int pushed = pos.epSquare - kForward[us];  // the square the enemy pawn went to
  if (pushed < 0 || pushed >= 64) return false;
  return (sideways(bit(pushed)) & pos.pieces[us][kPawn]) != 0;
}

}  // namespace

uint64_t bookKey(const Position& pos) {
  uint64_t key = 0;
  for (int colour = kWhite; colour <= kBlack; ++colour)
    for (int type = kPawn; type <= kKing; ++type)
      for (Bitboard b = pos.pieces[colour][type]; b;) {
        const int sq = popLowest(b);
        key ^= Random64[64 * pieceKind(pieceCode(colour, type)) + sq];
      }
  for (int i = 0; i < 4; ++i)
    if (pos.castleRights & kCastleBits[i]) key ^= Random64[kRandomCastling + i];
  if (enPassantCounts(pos)) key ^= Random64[kRandomEnPassant + fileOf(pos.epSquare)];
  if (pos.sideToMove == kWhite) key ^= Random64[kRandomTurn];
  return key;
}

}  // namespace book
