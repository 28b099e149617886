// Move and position text: coordinates, SAN, the move reader, FEN and diagram.
#include <cstring>

#include "board/attacks.h"
#include "platform/output.h"

namespace board {


namespace {

constexpr const char* kSquareNames[65] = {
    "a1", "b1", "c1", "d1", "e1", "f1", "g1", "h1", "a2", "b2", "c2", "d2", "e2", "f2", "g2", "h2",
    "a3", "b3", "c3", "d3", "e3", "f3", "g3", "h3", "a4", "b4", "c4", "d4", "e4", "f4", "g4", "h4",
    "a5", "b5", "c5", "d5", "e5", "f5", "g5", "h5", "a6", "b6", "c6", "d6", "e6", "f6", "g6", "h6",
    "a7", "b7", "c7", "d7", "e7", "f7", "g7", "h7", "a8", "b8", "c8", "d8", "e8", "f8", "g8", "h8", "-"};
constexpr const char* kPieceLetters = " PNBRQK";

const char* promotionSuffix(Move m) {
  if (m & kPromoQueen) return "=Q";
  if (m & kPromoKnight) return "=N";
  if (m & kPromoBishop) return "=B";
  if (m & kPromoRook) return "=R";
  return "";
}

}  // namespace

namespace {

void appendText(char* dst, const char* src) { strncat(dst, src, 15 - strlen(dst)); }
void appendChar(char* dst, char c) {
  size_t n = strlen(dst);
  if (n < 15) {
    dst[n] = c;
    dst[n + 1] = 0;
  }
}

}  // namespace

const char* squareName(int square) { return kSquareNames[square >= 0 && square < 64 ? square : 64]; }

char* moveToText(Move move, char* buffer) {
  if (move == kNoMove) {
    strcpy(buffer, "null");
    return buffer;
  }
  strcpy(buffer, kSquareNames[moveFrom(move)]);
  strcat(buffer, kSquareNames[moveTo(move)]);
  if (isPromotion(move)) {
    const char* suffix = promotionSuffix(move);
    if (platform::uci_mode) {
      char letter[2] = {static_cast<char>(suffix[1] - 'A' + 'a'), 0};
      strcat(buffer, letter);
    } else {
      strcat(buffer, suffix);
    }
  }
  return buffer;
}

std::string moveToText(Move move) {
  char buffer[16];
  return moveToText(move, buffer);
}

void moveToSan(const Position& pos, Move move, SanTexts& out) {
  const int us = pos.sideToMove;
  const int from = moveFrom(move), to = moveTo(move);
  const int type = typeOf(pos.board[from]);
  moveToText(move, out.coordinate);
  out.san[0] = out.sanWithFile[0] = out.sanWithRank[0] = 0;
  const char* fromName = kSquareNames[from];
  const char* toName = kSquareNames[to];

  if (type == kPawn) {
    const char* suffix = promotionSuffix(move);
    out.coordinate[4] = 0;
    if (pos.board[to] || to == pos.epSquare) {
      appendChar(out.san, fromName[0]);
      appendChar(out.san, 'x');
      appendText(out.san, toName);
      appendChar(out.sanWithFile, fromName[0]);
      appendChar(out.sanWithFile, toName[0]);
    } else {
      appendText(out.san, toName);
    }
    appendText(out.coordinate, suffix);
    appendText(out.san, suffix);
    if (out.sanWithFile[0]) appendText(out.sanWithFile, suffix);
  } else if (type == kKing && (to == from + 2 || to == from - 2)) {
    bool kingSide = to > from;
    strcpy(out.san, kingSide ? "o-o" : "o-o-o");
    strcpy(out.sanWithFile, kingSide ? "O-O" : "O-O-O");
    strcpy(out.sanWithRank, kingSide ? "0-0" : "0-0-0");
  } else {
    const char letter = kPieceLetters[type];
    appendChar(out.san, letter);
    appendChar(out.sanWithFile, letter);
    appendChar(out.sanWithFile, fromName[0]);
    appendChar(out.sanWithRank, letter);
    appendChar(out.sanWithRank, fromName[1]);
    // Disambiguate among the other pieces of this type that can legally go to `to`.
    Bitboard occ = occupied(pos) | bit(to);
    Bitboard reach = type == kKnight   ? knightAttacks[to]
                     : type == kBishop ? bishopAttacks(to, occ)
                     : type == kRook   ? rookAttacks(to, occ)
                     : type == kQueen  ? queenAttacks(to, occ)
                                       : 0;
    Bitboard others = reach & pos.pieces[us][type] & ~bit(from);
    bool sameFile = false, sameRank = false, any = false;
    for (Bitboard b = others; b;) {
      int s = popLowest(b);
      if (!isLegal(pos, us, makeMoveCode(s, to))) continue;
      any = true;
      sameFile |= fileOf(s) == fileOf(from);
      sameRank |= rankOf(s) == rankOf(from);
    }
    if (any) {
      if (!sameFile) {
        appendChar(out.san, fromName[0]);
      } else if (!sameRank) {
        appendChar(out.san, fromName[1]);
      } else {
        appendText(out.san, fromName);
      }
    }
    if (pos.board[to]) {
      appendChar(out.san, 'x');
      appendChar(out.sanWithFile, 'x');
      appendChar(out.sanWithRank, 'x');
    }
    appendText(out.san, toName);
    appendText(out.sanWithFile, toName);
    appendText(out.sanWithRank, toName);
  }
  if (givesCheck(pos, move)) {
    appendChar(out.coordinate, '+');
    appendChar(out.san, '+');
    if (out.sanWithFile[0]) appendChar(out.sanWithFile, '+');
    if (out.sanWithRank[0]) appendChar(out.sanWithRank, '+');
  }
}

namespace {

// The last square name in text ("e8" of "exd8=Q"), or kNoSquare.
int lastSquareNamed(const std::string& text) {
  for (size_t i = text.size(); i >= 2; --i) {
    const char file = text[i - 2], rank = text[i - 1];
    if (file >= 'a' && file <= 'h' && rank >= '1' && rank <= '8') return makeSquare(file - 'a', rank - '1');
  }
  return kNoSquare;
}

}  // namespace

int parseMove(Position& pos, const std::string& input, Move& out) {
  std::string text = input.substr(0, std::min<size_t>(input.size(), 127));
  size_t cut = text.find_first_of("+#");
  if (cut != std::string::npos) text.resize(cut);
  if (text.empty()) return 0;
  // A trailing promotion letter gets its "=": e7e8q, e8q and e8=q read as e8=Q.
  char last = static_cast<char>(toupper(static_cast<unsigned char>(text.back())));
  if (strchr("BNQR", last) && text.size() >= 2) {
    char before = text[text.size() - 2];
    if (before == '=') {
      text.back() = last;
    } else if (before == '1' || before == '8') {
      text.back() = '=';
      text += last;
    }
  }
  for (char& c : text)
    if (c == 'O' || c == '0') c = 'o';

  // Every spelling but castling ends with the destination: other moves need
  // no spelling made (king moves are spelt in full, castling being one).
  const int destination = lastSquareNamed(text);
  MoveEntry list[kMaxMoves];
  MoveEntry* end = generateAll(pos, list);
  Move hits[3] = {};
  int count = 0;
  for (MoveEntry* e = list; e != end; ++e) {
    if (destination != kNoSquare && moveTo(e->move) != destination && (pos.board[moveFrom(e->move)] & 7) != kKing)
      continue;
    SanTexts t;
    moveToSan(pos, e->move, t);
    bool match = false;
    for (char* s : {t.coordinate, t.san, t.sanWithFile, t.sanWithRank}) {
      if (char* plus = strchr(s, '+')) *plus = 0;
      for (char* c = s; *c; ++c)
        if (*c == 'O' || *c == '0') *c = 'o';
      if (*s && text == s) match = true;
    }
    if (match && isLegal(pos, pos.sideToMove, e->move)) {
      if (count < 3) hits[count] = e->move;
      ++count;
    }
  }
  if (count == 1) {
    out = hits[0];
    return kMoveRead;
  }
  return count >= 2 ? kMoveAmbiguous : kMoveUnread;
}

std::string positionToFen(const Position& pos, bool withCounters) {
  static constexpr const char* kLetters = " PNBRQK  pnbrqk";
  std::string fen;
  for (int rank = 7; rank >= 0; --rank) {
    int empty = 0;
    for (int file = 0; file < 8; ++file) {
      int code = pos.board[makeSquare(file, rank)];
      if (!code) {
        ++empty;
        continue;
      }
      if (empty) fen += static_cast<char>('0' + empty);
      empty = 0;
      fen += kLetters[code];
    }
    if (empty) fen += static_cast<char>('0' + empty);
    if (rank) fen += '/';
  }
  fen += pos.sideToMove ? " b " : " w ";
  if (!pos.castleRights) fen += '-';
  if (pos.castleRights & kWhiteKingSide) fen += 'K';
  if (pos.castleRights & kWhiteQueenSide) fen += 'Q';
  if (pos.castleRights & kBlackKingSide) fen += 'k';
  if (pos.castleRights & kBlackQueenSide) fen += 'q';
  fen += ' ';
  fen += squareName(pos.epSquare);
  if (withCounters) {
    fen += ' ' + std::to_string(pos.rule50) + ' ' + std::to_string(pos.owner ? pos.owner->undoCount : 0);
  }
  return fen;
}

std::string boardDiagram(const Position& pos) {
  static constexpr const char* kLetters = " PNBRQK  onbrqk";
  std::string text = positionToFen(pos, true) + "\n";
  for (int rank = 7; rank >= 0; --rank) {
    text += ' ';
    for (int file = 0; file < 8; ++file) {
      int code = pos.board[makeSquare(file, rank)];
      text += ' ';
      text += code ? kLetters[code] : ((file + rank) % 2 == 0 ? '+' : '-');
    }
    text += '\n';
  }
  text += pos.sideToMove ? "black\n" : "white\n";
  return text;
}


}  // namespace board
