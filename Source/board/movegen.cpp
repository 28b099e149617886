// Pseudo-legal move generators. The output order is part of the contract:
// origins ascending, destinations ascending, groups in the documented order.
#include "board/attacks.h"

namespace board {

namespace {

constexpr Bitboard kPawnCaptureRanks = 0x00FFFFFFFFFFFF00ull;
constexpr Bitboard kPushRanks = 0x0000FFFFFFFF0000ull;
constexpr Bitboard kSeventhRankPawns[2] = {0x00FF000000000000ull, 0xFF00ull};
constexpr Bitboard kSixthRankPawns[2] = {0x0000FF0000000000ull, 0xFF0000ull};
constexpr Bitboard kDoublePushRank[2] = {0xFF000000ull, 0xFF00000000ull};
constexpr Move kPromoFlags[4] = {kPromoQueen, kPromoKnight, kPromoBishop, kPromoRook};

inline Bitboard shiftForward(Bitboard b, int colour) { return colour == kWhite ? b << 8 : b >> 8; }

inline MoveEntry* add(MoveEntry* out, const Position& pos, int from, int to, Move flags = 0) {
  out->move = makeMoveCode(from, to, flags);
  out->piece = pos.board[from];
  out->captured = pos.board[to];
  return out + 1;
}

// Pawn moves given as a destination set and a fixed origin offset.
inline MoveEntry* addPawnMoves(MoveEntry* out, const Position& pos, Bitboard dests, int offset) {
  while (dests) {
    int to = popLowest(dests);
    out = add(out, pos, to - offset, to);
  }
  return out;
}

inline MoveEntry* addPieceMoves(MoveEntry* out, const Position& pos, int from, Bitboard dests) {
  while (dests) out = add(out, pos, from, popLowest(dests));
  return out;
}

// Knights, bishops, rooks and queens, each to attack set ∩ allowed.
inline MoveEntry* addOfficerMoves(MoveEntry* out, const Position& pos, int colour, Bitboard allowed, Bitboard occ) {
  const auto& p = pos.pieces[colour];
  for (Bitboard b = p[kKnight]; b;) {
    int s = popLowest(b);
    out = addPieceMoves(out, pos, s, knightAttacks[s] & allowed);
  }
  for (Bitboard b = p[kBishop]; b;) {
    int s = popLowest(b);
    out = addPieceMoves(out, pos, s, bishopAttacks(s, occ) & allowed);
  }
  for (Bitboard b = p[kRook]; b;) {
    int s = popLowest(b);
    out = addPieceMoves(out, pos, s, rookAttacks(s, occ) & allowed);
  }
  for (Bitboard b = p[kQueen]; b;) {
    int s = popLowest(b);
    out = addPieceMoves(out, pos, s, queenAttacks(s, occ) & allowed);
  }
  return out;
}

inline MoveEntry* addPromotion(MoveEntry* out, const Position& pos, int from, int to, bool allPieces) {
  int n = allPieces ? 4 : 1;
  for (int i = 0; i < n; ++i) out = add(out, pos, from, to, kPromoFlags[i]);
  return out;
}

}  // namespace

MoveEntry* generateCaptures(const Position& pos, int colour, MoveEntry* out, int target) {
  const auto& p = pos.pieces[colour];
  Bitboard enemy = pos.pieces[colour ^ 1][0];
  Bitboard occ = enemy | p[0];
  Bitboard victims = target == kNoSquare ? enemy : bit(target);
  Bitboard t = victims;
  if (pos.epSquare != kNoSquare) t |= bit(pos.epSquare);
  t &= kPawnCaptureRanks;
  Bitboard pawns = p[kPawn];
  if (colour == kWhite) {
    out = addPawnMoves(out, pos, ((pawns & ~kFileA) << 7) & t, 7);
    out = addPawnMoves(out, pos, ((pawns & ~kFileH) << 9) & t, 9);
  } else {
    out = addPawnMoves(out, pos, ((pawns & ~kFileA) >> 9) & t, -9);
    out = addPawnMoves(out, pos, ((pawns & ~kFileH) >> 7) & t, -7);
  }
  out = addOfficerMoves(out, pos, colour, victims, occ);
  int k = pos.kingSquare[colour];
  return addPieceMoves(out, pos, k, kingAttacks[k] & enemy);
}

MoveEntry* generatePromotions(const Position& pos, int colour, MoveEntry* out, bool allPieces) {
  const auto& p = pos.pieces[colour];
  Bitboard enemy = pos.pieces[colour ^ 1][0];
  Bitboard occ = enemy | p[0];
  int fwd = kForward[colour];
  for (Bitboard b = p[kPawn] & kSeventhRankPawns[colour]; b;) {
    int s = popLowest(b);
    int ahead = s + fwd;
    if (!(occ & bit(ahead))) out = addPromotion(out, pos, s, ahead, allPieces);
    if (fileOf(s) > 0 && (enemy & bit(ahead - 1))) out = addPromotion(out, pos, s, ahead - 1, allPieces);
    if (fileOf(s) < 7 && (enemy & bit(ahead + 1))) out = addPromotion(out, pos, s, ahead + 1, allPieces);
  }
  Bitboard pushes = shiftForward(p[kPawn] & kSixthRankPawns[colour], colour) & ~occ;
  return addPawnMoves(out, pos, pushes, fwd);
}

MoveEntry* generateQuiets(const Position& pos, int colour, MoveEntry* out, int target) {
  const auto& p = pos.pieces[colour];
  Bitboard occ = p[0] | pos.pieces[colour ^ 1][0];
  Bitboard empty = ~occ;
  int k = pos.kingSquare[colour];
  Bitboard allowed = target == kNoSquare ? empty : between[target][k] & empty;
  int fwd = kForward[colour];
  Bitboard single = shiftForward(p[kPawn], colour) & empty;
  out = addPawnMoves(out, pos, single & allowed & kPushRanks, fwd);
  Bitboard dbl = shiftForward(single, colour) & empty & allowed & kDoublePushRank[colour];
  out = addPawnMoves(out, pos, dbl, 2 * fwd);
  out = addOfficerMoves(out, pos, colour, allowed, occ);
  out = addPieceMoves(out, pos, k, kingAttacks[k] & empty);
  int home = colour == kWhite ? kE1 : kE8;
  if (k == home) {
    int ks = colour == kWhite ? kWhiteKingSide : kBlackKingSide;
    int qs = colour == kWhite ? kWhiteQueenSide : kBlackQueenSide;
    if ((pos.castleRights & ks) && !(occ & (bit(home + 1) | bit(home + 2)))) out = add(out, pos, home, home + 2);
    if ((pos.castleRights & qs) && !(occ & (bit(home - 1) | bit(home - 2) | bit(home - 3))))
      out = add(out, pos, home, home - 2);
  }
  return out;
}

MoveEntry* generateQuietChecks(const Position& pos, int colour, MoveEntry* out) {
  const auto& p = pos.pieces[colour];
  Bitboard occ = p[0] | pos.pieces[colour ^ 1][0];
  Bitboard empty = ~occ;
  int k = pos.kingSquare[colour ^ 1];
  Bitboard pawnSquares = pawnAttacks[colour ^ 1][k];
  Bitboard knightSquares = knightAttacks[k] & empty;
  Bitboard bishopSquares = (pos.materialSignature[colour] & 0xF0F00) ? bishopAttacks(k, occ) & empty : 0;
  Bitboard rookSquares = (pos.materialSignature[colour] & 0xFF000) ? rookAttacks(k, occ) & empty : 0;
  int fwd = kForward[colour];
  Bitboard single = shiftForward(p[kPawn], colour) & empty;
  out = addPawnMoves(out, pos, single & pawnSquares, fwd);
  Bitboard dbl = shiftForward(single, colour) & empty & pawnSquares & kDoublePushRank[colour];
  out = addPawnMoves(out, pos, dbl, 2 * fwd);
  for (Bitboard b = p[kKnight]; b;) {
    int s = popLowest(b);
    out = addPieceMoves(out, pos, s, knightAttacks[s] & knightSquares);
  }
  for (Bitboard b = p[kBishop]; b;) {
    int s = popLowest(b);
    out = addPieceMoves(out, pos, s, bishopAttacks(s, occ) & bishopSquares);
  }
  for (Bitboard b = p[kRook]; b;) {
    int s = popLowest(b);
    out = addPieceMoves(out, pos, s, rookAttacks(s, occ) & rookSquares);
  }
  for (Bitboard b = p[kQueen]; b;) {
    int s = popLowest(b);
    out = addPieceMoves(out, pos, s, queenAttacks(s, occ) & (bishopSquares | rookSquares));
  }
  return out;
}

MoveEntry* generateAll(const Position& pos, MoveEntry* out) {
  int c = pos.sideToMove;
  out = generateCaptures(pos, c, out, kNoSquare);
  out = generatePromotions(pos, c, out, true);
  out = generateQuiets(pos, c, out, kNoSquare);
  out->move = kEndOfList;
  return out;
}

int generateLegal(Position& pos, MoveEntry* out) {
  MoveEntry* end = generateAll(pos, out);
  int n = 0;
  for (MoveEntry* e = out; e != end; ++e)
    if (isLegal(pos, pos.sideToMove, e->move)) out[n++] = *e;
  out[n].move = kEndOfList;
  return n;
}

bool isPseudoLegal(const Position& pos, Move m) {
  const int from = moveFrom(m), to = moveTo(m);
  const int us = pos.sideToMove;
  const int piece = pos.board[from], target = pos.board[to];
  if (from == to || !piece || colourOf(piece) != us) return false;
  if (target && (colourOf(target) == us || typeOf(target) == kKing)) return false;
  const Move flags = m & kPromoMask;
  if (flags & (flags - 1)) return false;  // at most one promotion flag
  const Bitboard occ = occupied(pos);
  switch (typeOf(piece)) {
    case kPawn: {
      const bool lastRank = rankOf(to) == (us == kWhite ? 7 : 0);
      if (lastRank != (flags != 0)) return false;
      const int fwd = kForward[us];
      if (to == from + fwd) return !target;
      if (to == from + 2 * fwd)
        return rankOf(from) == (us == kWhite ? 1 : 6) && !pos.board[from + fwd] && !target;
      if (!(pawnAttacks[us][from] & bit(to))) return false;
      return target || to == pos.epSquare;
    }
    case kKnight:
      return !flags && (knightAttacks[from] & bit(to));
    case kBishop:
      return !flags && (bishopAttacks(from, occ) & bit(to));
    case kRook:
      return !flags && (rookAttacks(from, occ) & bit(to));
    case kQueen:
      return !flags && (queenAttacks(from, occ) & bit(to));
    case kKing: {
      if (flags) return false;
      if (kingAttacks[from] & bit(to)) return true;
      const int home = us == kWhite ? kE1 : kE8;
      if (from != home || (to != home + 2 && to != home - 2)) return false;
      const bool kingSide = to > from;
      const int right = us == kWhite ? (kingSide ? kWhiteKingSide : kWhiteQueenSide)
                                     : (kingSide ? kBlackKingSide : kBlackQueenSide);
      const int rookSq = kingSide ? home + 3 : home - 4;
      return (pos.castleRights & right) && pos.board[rookSq] == pieceCode(us, kRook) &&
             !(between[from][rookSq] & occ);
    }
  }
  return false;
}

}  // namespace board
