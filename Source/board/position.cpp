// Position setup: clearing, placing pieces, hash keys and FEN input.
#include <cstring>

#include "board/attacks.h"

namespace board {

std::array<uint64_t, 1024> ZobristKeys;

namespace {

// Two 16-bit multiply-with-carry generators; the seeds are fixed so every run
// and thread sees the same keys.
struct MwcState {
  uint32_t z = 1;
  uint32_t w = 1;
  void step() {
    z = 36969u * (z & 0xFFFF) + (z >> 16);
    w = 18000u * (w & 0xFFFF) + (w >> 16);
  }
  uint64_t candidate() {
    step();
    uint32_t high = (z << 16) + w;
    step();
    uint32_t low = (z << 16) + w;
    return (uint64_t{high} << 32) | low;
  }
};

void clearFields(Position& pos) {
  pos.board.fill(0);
  for (auto& side : pos.pieces) side.fill(0);
  pos.materialSignature = {0, 0};
  pos.pieceMaterial = {0, 0};
  pos.rule50 = 0;
  pos.castleRights = 15;
  pos.epSquare = kNoSquare;
  pos.kingSquare = {kNoSquare, kNoSquare};
}

void resetOwner(UndoHistory* owner) {
  if (!owner) return;
  owner->undoCount = 0;
  owner->ply = 1;
  owner->lastMove = 0;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Splits text at spaces into at most n words.
int splitWords(const std::string& text, std::string* words, int n) {
  int count = 0;
  size_t i = 0;
  while (count < n) {
    while (i < text.size() && isSpace(text[i])) ++i;
    if (i >= text.size()) break;
    size_t start = i;
    while (i < text.size() && !isSpace(text[i])) ++i;
    words[count++] = text.substr(start, i - start);
  }
  return count;
}

// Placement field into pos; false on a malformed board (wrong rank or file count).
bool readPlacement(Position& pos, const std::string& field) {
  static constexpr const char* kLetters = "PNBRQKpnbrqk";
  int rank = 7, file = 0;
  for (char c : field) {
    if (c == '/') {
      if (file != 8 || rank == 0) return false;
      --rank;
      file = 0;
    } else if (c >= '1' && c <= '8') {
      file += c - '0';
      if (file > 8) return false;
    } else if (const char* p = strchr(kLetters, c); p && c) {
      if (file >= 8) return false;
      int idx = static_cast<int>(p - kLetters);
      putPiece(pos, idx / 6, idx % 6 + 1, makeSquare(file, rank));
      ++file;
    }
    // other characters are skipped
  }
  return rank == 0 && file == 8;
}

// En-passant square: kept only where a double step can really have happened.
int readEpSquare(const Position& pos, const std::string& field) {
  if (field.size() != 2 || field[0] < 'a' || field[0] > 'h' || field[1] < '1' || field[1] > '8') return kNoSquare;
  int sq = makeSquare(field[0] - 'a', field[1] - '1');
  int us = pos.sideToMove, them = us ^ 1;
  if (rankOf(sq) != (us == kWhite ? 5 : 2)) return kNoSquare;
  int pawnSq = sq - kForward[us];   // the pawn that stepped
  int originSq = sq + kForward[us];  // where it came from
  if (pos.board[sq] || pos.board[originSq] || pos.board[pawnSq] != pieceCode(them, kPawn)) return kNoSquare;
  return sq;
}

}  // namespace

int initZobristKeys() {
  static bool done = false;
  static int weak = 0;
  if (done) return weak;
  done = true;
  MwcState rng;
  for (int i = 0; i < 1024; ++i) {
    uint64_t key;
    do key = rng.candidate();
    while (std::popcount(key) < 24);
    ZobristKeys[i] = key;
    for (int j = 0; j < i; ++j) {
      if (std::popcount(key ^ ZobristKeys[j]) <= 5) {
        ++weak;
        break;
      }
    }
  }
  return weak;
}

void clearBoard(Position& pos) {
  clearFields(pos);
  resetOwner(pos.owner);
}

void putPiece(Position& pos, int colour, int type, int square) {
  pos.board[square] = static_cast<uint8_t>(pieceCode(colour, type));
  if (type == kKing) pos.kingSquare[colour] = static_cast<uint8_t>(square);
  pos.materialSignature[colour] += kSignatureStep[type];
  pos.pieceMaterial[colour] = static_cast<int16_t>(pos.pieceMaterial[colour] + kMaterialStep[type]);
  pos.pieces[colour][0] |= bit(square);
  pos.pieces[colour][type] |= bit(square);
}

void computeKeys(Position& pos) {
  uint64_t key = 0, pawnKey = 0;
  for (int s = 0; s < 64; ++s) {
    int p = pos.board[s];
    if (!p) continue;
    key ^= ZobristKeys[p * 64 + s];
    if (typeOf(p) == kPawn) pawnKey ^= ZobristKeys[p * 64 + s];
  }
  if (pos.epSquare != kNoSquare) key ^= ZobristKeys[pos.epSquare];
  key ^= ZobristKeys[pos.castleRights];
  pos.key = (key & ~uint64_t{1}) + pos.sideToMove;
  pos.pawnKey = pawnKey;
}

std::string validatePosition(const Position& pos) {
  for (int c = 0; c < 2; ++c) {
    const char* name = c == kWhite ? "white" : "black";
    if (popCount(pos.pieces[c][kKing]) != 1) return std::string(name) + " must have exactly one king";
    if (popCount(pos.pieces[c][0]) > 16) return std::string(name) + " has more than 16 men";
  }
  if ((pos.pieces[0][kPawn] | pos.pieces[1][kPawn]) & 0xFF000000000000FFull) return "pawn on the first or last rank";
  if (isAttacked(pos, pos.kingSquare[pos.sideToMove ^ 1], pos.sideToMove))
    return "the side not to move is in check";
  return {};
}

int setFromFen(Position& pos, const std::string& text, std::string* reason) {
  std::string words[4];
  int count = splitWords(text, words, 4);

  Position scratch = pos;
  clearFields(scratch);
  std::string problem;
  if (count == 0 || !readPlacement(scratch, words[0])) problem = "bad piece placement";
  if (count > 1 && (words[1][0] == 'w' || words[1][0] == 'b')) scratch.sideToMove = words[1][0] == 'b';
  scratch.castleRights = 0;
  if (count > 2) {
    for (char c : words[2]) {
      if (c == 'K') scratch.castleRights |= kWhiteKingSide;
      if (c == 'Q') scratch.castleRights |= kWhiteQueenSide;
      if (c == 'k') scratch.castleRights |= kBlackKingSide;
      if (c == 'q') scratch.castleRights |= kBlackQueenSide;
    }
  }
  if (problem.empty()) problem = validatePosition(scratch);
  if (!problem.empty()) {
    if (reason) *reason = problem;
    return kFenRejected;
  }
  scratch.epSquare = static_cast<uint8_t>(count > 3 ? readEpSquare(scratch, words[3]) : kNoSquare);

  // Each right needs its king and rook at home; contradicted rights are dropped.
  const auto& b = scratch.board;
  int valid = 0;
  if (b[kE1] == pieceCode(kWhite, kKing)) {
    if (b[kH1] == pieceCode(kWhite, kRook)) valid |= kWhiteKingSide;
    if (b[kA1] == pieceCode(kWhite, kRook)) valid |= kWhiteQueenSide;
  }
  if (b[kE8] == pieceCode(kBlack, kKing)) {
    if (b[kH8] == pieceCode(kBlack, kRook)) valid |= kBlackKingSide;
    if (b[kA8] == pieceCode(kBlack, kRook)) valid |= kBlackQueenSide;
  }
  bool contradicted = (scratch.castleRights & ~valid) != 0;
  scratch.castleRights &= static_cast<uint8_t>(valid);

  pos = scratch;
  if (pos.owner) {
    pos.owner->undoStack[0] = UndoEntry{};
    pos.owner->undoStack[1] = UndoEntry{};
    resetOwner(pos.owner);
  }
  computeKeys(pos);
  if (contradicted) {
    if (reason) *reason = "castling rights without their king and rook dropped";
    return kFenCastlingFixed;
  }
  if (reason) reason->clear();
  return kFenOk;
}

}  // namespace board
