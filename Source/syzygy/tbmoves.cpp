// The probe layer's position: conversion from the board, material key,
// move generation and make-move, so that probes can look at successors
// without touching the search's own position and undo stack.
#include <bit>

#include "board/attacks.h"
#include "syzygy/tables.h"

namespace syzygy {

using namespace board;

namespace {

constexpr uint64_t kLastRanks = 0xFF000000000000FFull;
constexpr uint64_t kRank2 = 0x000000000000FF00ull, kRank7 = 0x00FF000000000000ull;
constexpr int kPromoOrder[4] = {kTbPromoQueen, kTbPromoKnight, kTbPromoRook, kTbPromoBishop};
constexpr uint8_t kMaxRule50 = 255;

uint64_t ownSet(const TbPosition& p) { return p.turn ? p.white : p.black; }
uint64_t theirSet(const TbPosition& p) { return p.turn ? p.black : p.white; }

// Whether colour (1 White, 0 Black, as turn) attacks square s.
bool attacked(const TbPosition& p, int s, int byWhite) {
  const uint64_t by = byWhite ? p.white : p.black;
  const uint64_t occ = p.white | p.black;
  const int victim = byWhite ? kBlack : kWhite;
  if (pawnAttacks[victim][s] & p.pawns & by) return true;
  if (knightAttacks[s] & p.knights & by) return true;
  if (kingAttacks[s] & p.kings & by) return true;
  if (bishopAttacks(s, occ) & (p.bishops | p.queens) & by) return true;
  return (rookAttacks(s, occ) & (p.rooks | p.queens) & by) != 0;
}

TbMove* addPromotions(int from, int to, TbMove* out) {
  for (int promo : kPromoOrder) *out++ = makeTbMove(from, to, promo);
  return out;
}

TbMove* addTargets(int from, uint64_t targets, TbMove* out) {
  while (targets) *out++ = makeTbMove(from, popLowest(targets));
  return out;
}

// Pawn moves: all of them, or (capturesOnly) captures, en passant and promotions.
TbMove* pawnMoves(const TbPosition& p, TbMove* out, bool capturesOnly) {
  const uint64_t own = ownSet(p), them = theirSet(p), occ = p.white | p.black;
  const int colour = p.turn ? kWhite : kBlack;
  const int forward = p.turn ? 8 : -8;
  const uint64_t startRank = p.turn ? kRank2 : kRank7;
  uint64_t pawns = p.pawns & own;
  while (pawns) {
    const int from = popLowest(pawns);
    uint64_t captures = pawnAttacks[colour][from] & them;
    while (captures) {
      const int to = popLowest(captures);
      out = (bit(to) & kLastRanks) ? addPromotions(from, to, out) : (*out++ = makeTbMove(from, to), out);
    }
    if (p.ep && (pawnAttacks[colour][from] & bit(p.ep))) *out++ = makeTbMove(from, p.ep);
    const int to = from + forward;
    if (to < 0 || to > 63 || (occ & bit(to))) continue;
    if (bit(to) & kLastRanks) {
      out = addPromotions(from, to, out);
      continue;
    }
    if (capturesOnly) continue;
    *out++ = makeTbMove(from, to);
    if ((bit(from) & startRank) && !(occ & bit(to + forward))) *out++ = makeTbMove(from, to + forward);
  }
  return out;
}

TbMove* pieceMoves(const TbPosition& p, TbMove* out, bool capturesOnly) {
  const uint64_t own = ownSet(p), occ = p.white | p.black;
  const uint64_t targets = capturesOnly ? theirSet(p) : ~own;
  for (uint64_t b = p.knights & own; b;) {
    const int s = popLowest(b);
    out = addTargets(s, knightAttacks[s] & targets, out);
  }
  for (uint64_t b = (p.bishops | p.queens) & own; b;) {
    const int s = popLowest(b);
    out = addTargets(s, bishopAttacks(s, occ) & targets, out);
  }
  for (uint64_t b = (p.rooks | p.queens) & own; b;) {
    const int s = popLowest(b);
    out = addTargets(s, rookAttacks(s, occ) & targets, out);
  }
  for (uint64_t b = p.kings & own; b;) {
    const int s = popLowest(b);
    out = addTargets(s, kingAttacks[s] & targets, out);
  }
  return out;
}

void removeAt(TbPosition& p, uint64_t mask) {
  p.white &= ~mask;
  p.black &= ~mask;
  p.kings &= ~mask;
  p.queens &= ~mask;
  p.rooks &= ~mask;
  p.bishops &= ~mask;
  p.knights &= ~mask;
  p.pawns &= ~mask;
}

uint64_t* kindSetOf(TbPosition& p, uint64_t mask) {
  if (p.pawns & mask) return &p.pawns;
  if (p.knights & mask) return &p.knights;
  if (p.bishops & mask) return &p.bishops;
  if (p.rooks & mask) return &p.rooks;
  if (p.queens & mask) return &p.queens;
  if (p.kings & mask) return &p.kings;
  return nullptr;
}

uint64_t* promotionSet(TbPosition& p, int promo) {
  switch (promo) {
    case kTbPromoRook: return &p.rooks;
    case kTbPromoBishop: return &p.bishops;
    case kTbPromoKnight: return &p.knights;
    default: return &p.queens;
  }
}

}  // namespace

TbPosition toTbPosition(const Position& pos, bool keepRule50) {
  TbPosition p{};
  p.white = pos.pieces[kWhite][0];
  p.black = pos.pieces[kBlack][0];
  p.kings = pos.pieces[kWhite][kKing] | pos.pieces[kBlack][kKing];
  p.queens = pos.pieces[kWhite][kQueen] | pos.pieces[kBlack][kQueen];
  p.rooks = pos.pieces[kWhite][kRook] | pos.pieces[kBlack][kRook];
  p.bishops = pos.pieces[kWhite][kBishop] | pos.pieces[kBlack][kBishop];
  p.knights = pos.pieces[kWhite][kKnight] | pos.pieces[kBlack][kKnight];
  p.pawns = pos.pieces[kWhite][kPawn] | pos.pieces[kBlack][kPawn];
  p.rule50 = keepRule50 ? pos.rule50 : 0;
  p.ep = pos.epSquare == kNoSquare ? 0 : pos.epSquare;
  p.turn = pos.sideToMove == kWhite ? 1 : 0;
  return p;
}

uint64_t materialKey(const TbPosition& p, bool mirror) {
  uint8_t counts[2][8] = {};
  const uint64_t colour[2] = {p.white, p.black};
  const uint64_t kind[8] = {0, p.pawns, p.knights, p.bishops, p.rooks, p.queens, 0, 0};
  for (int c = 0; c < 2; ++c)
    for (int t = kPawn; t <= kQueen; ++t) counts[c][t] = static_cast<uint8_t>(popCount(colour[c] & kind[t]));
  return materialKeyOfCounts(counts, mirror);
}

TbMove* tbGenerateMoves(const TbPosition& p, TbMove* out) { return pieceMoves(p, pawnMoves(p, out, false), false); }

TbMove* tbGenerateCaptures(const TbPosition& p, TbMove* out) { return pieceMoves(p, pawnMoves(p, out, true), true); }

int tbMakeMove(const TbPosition& from, TbPosition& to, TbMove move) {
  to = from;
  const int a = tbFrom(move), b = tbTo(move);
  const uint64_t fromBit = bit(a), toBit = bit(b);
  uint64_t* kind = kindSetOf(to, fromBit);
  if (!kind || !(ownSet(from) & fromBit)) return 0;
  const bool pawnMove = kind == &to.pawns;
  bool capture = (theirSet(from) & toBit) != 0;
  if (capture) removeAt(to, toBit);
  if (pawnMove && from.ep && b == from.ep) {
    removeAt(to, bit(from.turn ? b - 8 : b + 8));
    capture = true;
  }
  uint64_t& colour = from.turn ? to.white : to.black;
  colour = (colour & ~fromBit) | toBit;
  *kind &= ~fromBit;
  if (pawnMove && tbPromo(move)) *promotionSet(to, tbPromo(move)) |= toBit;
  else *kind |= toBit;
  to.ep = 0;
  if (pawnMove && (a ^ b) == 16) {
    // Only a double step an enemy pawn could take leaves a square to take on.
    const uint64_t enemyPawns = to.pawns & (from.turn ? to.black : to.white);
    if (sideways(toBit) & enemyPawns) to.ep = static_cast<uint8_t>((a + b) / 2);
  }
  to.rule50 = (capture || pawnMove) ? 0 : static_cast<uint8_t>(from.rule50 < kMaxRule50 ? from.rule50 + 1 : kMaxRule50);
  to.turn = from.turn ^ 1;
  const uint64_t king = to.kings & (from.turn ? to.white : to.black);
  return king && !attacked(to, std::countr_zero(king), to.turn) ? 1 : 0;
}

bool tbPositionValid(const TbPosition& p) {
  if (p.white & p.black) return false;
  const uint64_t kinds[6] = {p.kings, p.queens, p.rooks, p.bishops, p.knights, p.pawns};
  uint64_t all = 0;
  for (uint64_t k : kinds) {
    if (all & k) return false;
    all |= k;
  }
  if (all != (p.white | p.black)) return false;
  if (popCount(p.kings & p.white) != 1 || popCount(p.kings & p.black) != 1) return false;
  if (p.pawns & kLastRanks) return false;
  const uint64_t other = p.turn ? p.black : p.white;
  return !attacked(p, std::countr_zero(p.kings & other), p.turn);
}

}  // namespace syzygy
