// Helpers shared by the board tests: move lists, square names, field-by-field
// position comparison, a from-scratch consistency check, random playouts and
// a varied set of test positions.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace boardtest {

using namespace board;

inline int sq(const char* name) { return makeSquare(name[0] - 'a', name[1] - '1'); }

// Coordinate move "e7e8", optionally with a promotion letter "e7e8n".
inline Move mv(const char* text) {
  Move flags = 0;
  switch (text[4]) {
    case 'q': flags = kPromoQueen; break;
    case 'n': flags = kPromoKnight; break;
    case 'b': flags = kPromoBishop; break;
    case 'r': flags = kPromoRook; break;
    default: break;
  }
  return makeMoveCode(sq(text), sq(text + 2), flags);
}

// Coordinate text that does not depend on the dialogue mode.
inline std::string name(Move m) {
  if (m == kNoMove) return "null";
  std::string s = std::string(squareName(moveFrom(m))) + squareName(moveTo(m));
  if (isPromotion(m)) s += "qnbr"[promotionType(m) == kQueen ? 0 : promotionType(m) == kKnight ? 1 : promotionType(m) == kBishop ? 2 : 3];
  return s;
}

inline std::vector<MoveEntry> entries(MoveEntry* begin, MoveEntry* end) { return {begin, end}; }

inline std::vector<Move> movesOf(const std::vector<MoveEntry>& list) {
  std::vector<Move> out;
  for (const auto& e : list) out.push_back(e.move);
  return out;
}

inline std::vector<MoveEntry> allEntries(const Position& pos) {
  MoveEntry list[kMaxMoves];
  MoveEntry* end = generateAll(pos, list);
  EXPECT_EQ(end->move, kEndOfList);
  return entries(list, end);
}

inline std::vector<Move> allMoves(const Position& pos) { return movesOf(allEntries(pos)); }

inline std::vector<Move> legalMoves(Position& pos) {
  MoveEntry list[kMaxMoves];
  int n = generateLegal(pos, list);
  EXPECT_EQ(list[n].move, kEndOfList);
  return movesOf(entries(list, list + n));
}

inline std::vector<Move> sorted(std::vector<Move> v) {
  std::sort(v.begin(), v.end());
  return v;
}

inline std::string names(const std::vector<Move>& v) {
  std::string s;
  for (Move m : v) {
    if (!s.empty()) s += ' ';
    s += name(m);
  }
  return s;
}

inline bool contains(const std::vector<Move>& v, Move m) { return std::find(v.begin(), v.end(), m) != v.end(); }

// Every field, named, so a failure says which one differs.
inline testing::AssertionResult samePosition(const Position& a, const Position& b) {
  std::ostringstream diff;
  if (a.owner != b.owner) diff << " owner";
  for (int s = 0; s < 65; ++s)
    if (a.board[s] != b.board[s]) diff << " board[" << s << "]=" << int(a.board[s]) << "/" << int(b.board[s]);
  for (int c = 0; c < 2; ++c)
    for (int t = 0; t < 8; ++t)
      if (a.pieces[c][t] != b.pieces[c][t]) diff << " pieces[" << c << "][" << t << "]";
  if (a.key != b.key) diff << " key";
  if (a.pawnKey != b.pawnKey) diff << " pawnKey";
  for (int c = 0; c < 2; ++c) {
    if (a.materialSignature[c] != b.materialSignature[c]) diff << " materialSignature[" << c << "]";
    if (a.pieceMaterial[c] != b.pieceMaterial[c]) diff << " pieceMaterial[" << c << "]";
    if (a.kingSquare[c] != b.kingSquare[c]) diff << " kingSquare[" << c << "]";
  }
  if (a.sideToMove != b.sideToMove) diff << " sideToMove";
  if (a.rule50 != b.rule50) diff << " rule50=" << int(a.rule50) << "/" << int(b.rule50);
  if (a.castleRights != b.castleRights) diff << " castleRights=" << int(a.castleRights) << "/" << int(b.castleRights);
  if (a.epSquare != b.epSquare) diff << " epSquare=" << int(a.epSquare) << "/" << int(b.epSquare);
  if (diff.str().empty()) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "fields differ:" << diff.str();
}

struct Counters {
  int undoCount, ply;
  Move lastMove;
  bool operator==(const Counters&) const = default;
};
inline Counters countersOf(const Position& p) { return {p.owner->undoCount, p.owner->ply, p.owner->lastMove}; }
inline std::ostream& operator<<(std::ostream& o, const Counters& c) {
  return o << "{undoCount " << c.undoCount << ", ply " << c.ply << ", lastMove " << name(c.lastMove) << "}";
}

// Rebuilds the position from its board squares alone (pieces, material, king
// squares, keys) and compares with the incrementally kept one.
inline testing::AssertionResult consistent(const Position& p) {
  Position fresh{};
  fresh.owner = nullptr;
  clearBoard(fresh);
  for (int s = 0; s < 64; ++s)
    if (int code = p.board[s]) putPiece(fresh, colourOf(code), typeOf(code), s);
  fresh.owner = p.owner;
  fresh.sideToMove = p.sideToMove;
  fresh.rule50 = p.rule50;
  fresh.castleRights = p.castleRights;
  fresh.epSquare = p.epSquare;
  computeKeys(fresh);
  auto same = samePosition(p, fresh);
  if (!same) return testing::AssertionFailure() << "incremental vs from scratch: " << same.message();
  for (int c = 0; c < 2; ++c) {
    Bitboard u = 0;
    for (int t = 1; t <= 6; ++t) u |= p.pieces[c][t];
    if (u != p.pieces[c][0]) return testing::AssertionFailure() << "pieces[" << c << "][0] is not the union";
  }
  return testing::AssertionSuccess();
}

inline std::string fenOf(const Position& p) { return positionToFen(p, false); }

// The FENs of the perft file (first field group up to ';').
inline std::vector<std::string> perftSubsetFens() {
  std::ifstream in(std::string(VESK_TEST_DATA) + "/perft-subset.epd");
  std::vector<std::string> fens;
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) fens.push_back(line.substr(0, line.find(';')));
  return fens;
}

// Positions rich in castling, promotions, en passant, pins and checks.
inline std::vector<std::string> variedFens() {
  std::vector<std::string> fens = perftSubsetFens();
  const char* extra[] = {
      "r3k2r/1P4P1/8/2pP4/8/8/1p4p1/R3K2R w KQkq c6",
      "r3k2r/p1p1p1p1/8/1P1P1P1P/1p1p1p1p/8/P1P1P1P1/R3K2R w KQkq -",
      "r3k2r/p1p1p1p1/8/1P1P1P1P/1p1p1p1p/8/P1P1P1P1/R3K2R b KQkq -",
      "r3k2r/pPppqpb1/bn2pnp1/3PN3/4P3/2N2Q1p/PpPBBPPP/R3K2R b KQkq -",
      "rnbqkbnr/pp1p1ppp/8/2pPp3/8/8/PPP1PPPP/RNBQKBNR w KQkq e6",
      "1r2kn2/P1P3P1/8/8/8/8/pp4pp/1R2KN2 w - -",
      "r3k2r/8/3Q4/8/8/5q2/8/R3K2R b KQkq -",
      "8/2p5/3p4/KP5r/1R2Pp1k/8/6P1/8 b - e3",
      "2r1k2r/1P6/8/8/8/8/6p1/R3K1NR w KQk -",
      "8/8/8/2k5/2pP4/8/B7/4K3 b - d3",
      "4k3/8/8/8/8/8/4q3/4K3 w - -",
      "1n2k1n1/PPP5/8/8/8/8/6pp/1N2K2N b - -",
  };
  for (const char* f : extra) fens.push_back(f);
  return fens;
}

// A random, not necessarily legal, arrangement: one king each and up to
// `extra` further men; pawns only on ranks 2 to 7. No owner, no rights.
inline Position randomBoard(std::mt19937& rng, int extra) {
  Position p{};
  clearBoard(p);
  p.castleRights = 0;
  p.sideToMove = static_cast<uint8_t>(rng() % 2);
  auto freeSquare = [&](bool pawn) {
    for (;;) {
      int s = static_cast<int>(rng() % 64);
      if (p.board[s] || (pawn && (rankOf(s) == 0 || rankOf(s) == 7))) continue;
      return s;
    }
  };
  putPiece(p, kWhite, kKing, freeSquare(false));
  putPiece(p, kBlack, kKing, freeSquare(false));
  static constexpr int kTypes[] = {kPawn, kPawn, kPawn, kKnight, kBishop, kRook, kQueen};
  for (int i = 0; i < extra; ++i) {
    int type = kTypes[rng() % 7];
    putPiece(p, static_cast<int>(rng() % 2), type, freeSquare(type == kPawn));
  }
  computeKeys(p);
  return p;
}

// Random legal playouts that favour the rarer kinds of move, so promotions,
// castling and en passant occur often.
struct Playout {
  std::mt19937 rng;
  explicit Playout(unsigned seed) : rng(seed) {}

  // 2: promotion, castling, en passant; 1: double step, rook capture; 0: other.
  static int rarity(const Position& p, Move m) {
    int from = moveFrom(m), to = moveTo(m), type = typeOf(p.board[from]);
    if (isPromotion(m)) return 2;
    if (type == kKing && (to == from + 2 || to == from - 2)) return 2;
    if (type == kPawn && to == p.epSquare) return 2;
    if (type == kPawn && (to == from + 16 || to == from - 16)) return 1;
    return typeOf(p.board[to]) == kRook ? 1 : 0;
  }

  // A legal move of the position, or kNoMove when there is none.
  Move pick(Position& p) {
    auto legal = legalMoves(p);
    if (legal.empty()) return kNoMove;
    std::vector<Move> tier[3];
    for (Move m : legal) tier[rarity(p, m)].push_back(m);
    if (!tier[2].empty() && rng() % 2 == 0) return tier[2][rng() % tier[2].size()];
    if (!tier[1].empty() && rng() % 3 == 0) return tier[1][rng() % tier[1].size()];
    return legal[rng() % legal.size()];
  }
};

// Runs `visit(board)` on the positions of random playouts from each start
// FEN, `plies` moves each (fewer when the game ends).
template <class Visit>
int forPlayoutPositions(const std::vector<std::string>& fens, int plies, unsigned seed, Visit visit) {
  int visited = 0;
  Playout play(seed);
  for (const auto& fen : fens) {
    testutil::Board b(fen);
    for (int i = 0; i < plies; ++i) {
      visit(b);
      ++visited;
      if (b.pos.rule50 > 100) break;
      Move m = play.pick(b.pos);
      if (m == kNoMove) break;
      makeMove(b.pos, m);
    }
  }
  return visited;
}

}  // namespace boardtest
