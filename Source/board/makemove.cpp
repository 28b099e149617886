// Make/unmake, null move, legality and draw detection.
#include "board/attacks.h"

namespace board {

const std::array<uint8_t, 64> kCastleMask = [] {
  std::array<uint8_t, 64> m{};
  m[kA1] = 2;
  m[kE1] = 3;
  m[kH1] = 1;
  m[kA8] = 8;
  m[kE8] = 12;
  m[kH8] = 4;
  return m;
}();

void (*moveTraceHook)(const Position& pos, Move move) = nullptr;

namespace {

inline void removePiece(Position& pos, int colour, int type, int sq) {
  int code = pieceCode(colour, type);
  pos.board[sq] = 0;
  pos.pieces[colour][0] ^= bit(sq);
  pos.pieces[colour][type] ^= bit(sq);
  pos.materialSignature[colour] -= kSignatureStep[type];
  pos.pieceMaterial[colour] = static_cast<int16_t>(pos.pieceMaterial[colour] - kMaterialStep[type]);
  pos.key ^= ZobristKeys[code * 64 + sq];
  if (type == kPawn) pos.pawnKey ^= ZobristKeys[code * 64 + sq];
}

// Board and bitboards only: keys are restored from the stack on unmake.
inline void shiftPiece(Position& pos, int colour, int type, int from, int to) {
  pos.board[to] = pos.board[from];
  pos.board[from] = 0;
  Bitboard fromTo = bit(from) | bit(to);
  pos.pieces[colour][0] ^= fromTo;
  pos.pieces[colour][type] ^= fromTo;
}

inline void placeRaw(Position& pos, int colour, int type, int sq) {
  pos.board[sq] = static_cast<uint8_t>(pieceCode(colour, type));
  pos.pieces[colour][0] |= bit(sq);
  pos.pieces[colour][type] |= bit(sq);
  pos.materialSignature[colour] += kSignatureStep[type];
  pos.pieceMaterial[colour] = static_cast<int16_t>(pos.pieceMaterial[colour] + kMaterialStep[type]);
}

inline void eraseRaw(Position& pos, int colour, int type, int sq) {
  pos.board[sq] = 0;
  pos.pieces[colour][0] &= ~bit(sq);
  pos.pieces[colour][type] &= ~bit(sq);
  pos.materialSignature[colour] -= kSignatureStep[type];
  pos.pieceMaterial[colour] = static_cast<int16_t>(pos.pieceMaterial[colour] - kMaterialStep[type]);
}

}  // namespace

uint64_t makeMove(Position& pos, Move move) {
  if (moveTraceHook) moveTraceHook(pos, move);
  UndoHistory& h = *pos.owner;
  const int from = moveFrom(move), to = moveTo(move);
  const int piece = pos.board[from];
  const int type = typeOf(piece);
  const int us = pos.sideToMove, them = us ^ 1;
  const int captured = typeOf(pos.board[to]);
  const int oldEp = pos.epSquare;
  const int oldRights = pos.castleRights;

  h.undoStack[h.undoCount] = UndoEntry{pos.key,    pos.pawnKey,  move, static_cast<uint8_t>(captured),
                                       pos.epSquare, pos.rule50, pos.castleRights};
  ++h.undoCount;
  ++h.ply;
  h.lastMove = move;

  pos.epSquare = kNoSquare;
  pos.castleRights &= static_cast<uint8_t>(~(kCastleMask[to] | kCastleMask[from]));
  if (pos.rule50 < 255) ++pos.rule50;
  pos.sideToMove = static_cast<uint8_t>(them);

  uint64_t key = pos.key;
  if (oldEp != kNoSquare) key ^= ZobristKeys[oldEp];
  if (pos.castleRights != oldRights) key ^= ZobristKeys[oldRights] ^ ZobristKeys[pos.castleRights];
  pos.key = key;

  if (captured) {
    removePiece(pos, them, captured, to);
    pos.rule50 = 0;
  }
  shiftPiece(pos, us, type, from, to);
  pos.key ^= ZobristKeys[piece * 64 + from];

  if (type == kPawn) {
    const int fwd = kForward[us];
    pos.key ^= ZobristKeys[piece * 64 + to];
    pos.pawnKey ^= ZobristKeys[piece * 64 + from] ^ ZobristKeys[piece * 64 + to];
    pos.rule50 = 0;
    if (to == from + 2 * fwd) {
      pos.epSquare = static_cast<uint8_t>(from + fwd);
      pos.key ^= ZobristKeys[from + fwd];
    } else if (to == oldEp) {
      removePiece(pos, them, kPawn, to - fwd);
    } else if (rankOf(to) == 0 || rankOf(to) == 7) {
      removePiece(pos, us, kPawn, to);
      int promoted = promotionType(move);
      putPiece(pos, us, promoted, to);
      pos.key ^= ZobristKeys[pieceCode(us, promoted) * 64 + to];
    }
  } else {
    pos.key ^= ZobristKeys[piece * 64 + to];
    if (type == kKing) {
      if (to == from + 2 || to == from - 2) {
        int rookFrom = to > from ? from + 3 : from - 4;
        int rookTo = to > from ? from + 1 : from - 1;
        int rook = pieceCode(us, kRook);
        shiftPiece(pos, us, kRook, rookFrom, rookTo);
        pos.key ^= ZobristKeys[rook * 64 + rookFrom] ^ ZobristKeys[rook * 64 + rookTo];
        pos.rule50 = 0;
      }
      pos.kingSquare[us] = static_cast<uint8_t>(to);
    }
  }
  pos.key = (pos.key & ~uint64_t{1}) + pos.sideToMove;
  return pos.key;
}

void unmakeMove(Position& pos) {
  UndoHistory& h = *pos.owner;
  --h.undoCount;
  --h.ply;
  const UndoEntry& e = h.undoStack[h.undoCount];
  h.lastMove = h.undoCount > 0 ? h.undoStack[h.undoCount - 1].move : kNoMove;
  const Move move = e.move;
  const int from = moveFrom(move), to = moveTo(move);
  pos.epSquare = e.epSquare;
  pos.castleRights = e.castleRights;
  pos.rule50 = e.rule50;
  pos.sideToMove ^= 1;
  const int us = pos.sideToMove, them = us ^ 1;
  const int type = typeOf(pos.board[to]);

  shiftPiece(pos, us, type, to, from);
  if (e.capturedType) {
    placeRaw(pos, them, e.capturedType, to);
    if (e.capturedType == kKing) pos.kingSquare[them] = static_cast<uint8_t>(to);
  }
  if (type == kPawn && to == pos.epSquare) placeRaw(pos, them, kPawn, to - kForward[us]);
  if (type == kKing) {
    if (to == from + 2) shiftPiece(pos, us, kRook, from + 1, from + 3);
    if (to == from - 2) shiftPiece(pos, us, kRook, from - 1, from - 4);
    pos.kingSquare[us] = static_cast<uint8_t>(from);
  }
  if (move & kPromoMask) {
    eraseRaw(pos, us, type, from);
    placeRaw(pos, us, kPawn, from);
  }
  pos.key = e.key;
  pos.pawnKey = e.pawnKey;
}

uint64_t makeNullMove(Position& pos) {
  if (moveTraceHook) moveTraceHook(pos, kNoMove);
  UndoHistory& h = *pos.owner;
  h.undoStack[h.undoCount] =
      UndoEntry{pos.key, pos.pawnKey, kNoMove, 0, pos.epSquare, pos.rule50, pos.castleRights};
  ++h.undoCount;
  ++h.ply;
  h.lastMove = kNoMove;
  pos.sideToMove ^= 1;
  if (pos.epSquare != kNoSquare) {
    pos.key ^= ZobristKeys[pos.epSquare];
    pos.epSquare = kNoSquare;
  }
  pos.key = (pos.key & ~uint64_t{1}) + pos.sideToMove;
  return pos.key;
}

void unmakeNullMove(Position& pos) {
  UndoHistory& h = *pos.owner;
  --h.undoCount;
  --h.ply;
  const UndoEntry& e = h.undoStack[h.undoCount];
  pos.epSquare = e.epSquare;
  pos.castleRights = e.castleRights;
  pos.rule50 = e.rule50;
  pos.key = e.key;
  pos.sideToMove ^= 1;
  h.lastMove = h.undoCount > 0 ? h.undoStack[h.undoCount - 1].move : kNoMove;
}

int isLegal(const Position& pos, int colour, Move move) {
  const int from = moveFrom(move), to = moveTo(move);
  const int type = typeOf(pos.board[from]);
  const int them = colour ^ 1;
  if (type == kKing && (to == from + 2 || to == from - 2)) {
    return !isAttacked(pos, from, them) && !isAttacked(pos, to, them) && !isAttacked(pos, (from + to) / 2, them);
  }
  const int king = type == kKing ? to : pos.kingSquare[colour];
  Bitboard occ = (occupied(pos) & ~bit(from)) | bit(to);
  // Take the captured piece out of the enemy's sets for the test only.
  std::array<Bitboard, 8> enemy = pos.pieces[them];
  if (type == kPawn && to == pos.epSquare) {
    int victim = to - kForward[colour];
    occ &= ~bit(victim);
    enemy[kPawn] &= ~bit(victim);
  } else if (int captured = typeOf(pos.board[to])) {
    enemy[captured] &= ~bit(to);
  }
  Bitboard diag = bishopAttacks(king, occ), orth = rookAttacks(king, occ);
  Bitboard attackers = (pawnAttacks[colour][king] & enemy[kPawn]) | (knightAttacks[king] & enemy[kKnight]) |
                       (diag & (enemy[kBishop] | enemy[kQueen])) | (orth & (enemy[kRook] | enemy[kQueen])) |
                       (kingAttacks[king] & enemy[kKing]);
  return (attackers & occ) == 0;
}

int isDraw(Position& pos, int pliesFromRoot) {
  const int r = pos.rule50;
  if (r <= 3) return 0;
  // Inside the search a hundred plies end the game as an arbiter ends it: a
  // draw, unless the move that reached the count gave mate.
  if (r >= kFiftyMovePlies && pliesFromRoot > 0) {
    MoveEntry list[kMaxMoves];
    return generateLegal(pos, list) == 0 && inCheck(pos, pos.sideToMove) ? 0 : 1;
  }
  if (r > kFiftyMovePlies) {
    // At the game level the fifty-move count decides only when no move is left,
    // and then a checkmate stands.
    MoveEntry list[kMaxMoves];
    if (generateLegal(pos, list) == 0) return inCheck(pos, pos.sideToMove) ? 0 : 1;
  }
  const UndoHistory& h = *pos.owner;
  const int n = h.undoCount;
  int earlier = 0;
  const Bitboard ourPawns = pos.pieces[pos.sideToMove][kPawn];
  for (int i = n - 4; i >= n - r && i >= 0; i -= 2) {
    const UndoEntry& e = h.undoStack[i];
    if (e.move == kNoMove) return 0;
    // A position just after a double step carries its en-passant square in
    // the key; when no pawn could take there it is the same position as the
    // one without (same pawns as now, or the keys would differ anyway).
    uint64_t key = e.key;
    if (e.epSquare != kNoSquare && !(pawnAttacks[pos.sideToMove ^ 1][e.epSquare] & ourPawns))
      key = ((key ^ ZobristKeys[e.epSquare]) & ~uint64_t{1}) | (key & 1);  // bit 0 is the side to move
    if (key == pos.key) {
      if (i >= n - pliesFromRoot) return 1;
      if (++earlier >= 2) return 1;
    }
  }
  return 0;
}

}  // namespace board
