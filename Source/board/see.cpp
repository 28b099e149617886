// Static exchange evaluation: the material outcome of a capture sequence on
// one square. The first levels are unrolled; deeper ones recurse.
#include <algorithm>

#include "board/attacks.h"

namespace board {

const std::array<int16_t, 8> kSeeValue = {0, 100, 335, 335, 535, 1035, 10000, 0};

namespace {
constexpr int kKingLoss = 9999;
inline int typeAt(const Position& pos, int sq) { return typeOf(pos.board[sq]); }
}  // namespace

int exchangeGain(const Position& pos, int c, int to, int victim, Bitboard occ) {
  int a = leastValuableAttacker(pos, to, c, occ);
  if (a == kNoSquare) return 0;
  if (victim == kKing) return kKingLoss;
  int gain = kSeeValue[victim];
  occ &= ~bit(a);
  int r = leastValuableAttacker(pos, to, c ^ 1, occ);
  int result;
  if (r == kNoSquare) {
    result = gain;
  } else if (typeAt(pos, a) == kKing) {
    result = gain - kKingLoss;
  } else {
    int reply = kSeeValue[typeAt(pos, a)] - exchangeGain(pos, c, to, typeAt(pos, r), occ & ~bit(r));
    result = gain - std::max(0, reply);
  }
  return std::max(0, result);
}

int staticExchange(const Position& pos, int c, int from, int to) {
  Bitboard occ = occupied(pos);
  const int v = kSeeValue[typeAt(pos, to)];
  const int them = c ^ 1;
  if (from == kNoSquare) {
    int a = leastValuableAttacker(pos, to, c, occ);
    if (a == kNoSquare) return 0;
    if (typeAt(pos, to) == kKing) return kKingLoss;
    occ &= ~bit(a);
    int r = leastValuableAttacker(pos, to, them, occ);
    int h;
    if (r == kNoSquare) {
      h = v;
    } else if (typeAt(pos, a) == kKing) {
      h = v - kKingLoss;
    } else {
      occ &= ~bit(r);
      int n = leastValuableAttacker(pos, to, c, occ);
      int o;
      const int va = kSeeValue[typeAt(pos, a)];
      if (n == kNoSquare) {
        o = va;
      } else if (typeAt(pos, r) == kKing) {
        o = va - kKingLoss;
      } else {
        o = va - std::max(0, kSeeValue[typeAt(pos, r)] - exchangeGain(pos, them, to, typeAt(pos, n), occ & ~bit(n)));
      }
      h = v - std::max(0, o);
    }
    return std::max(0, h);
  }

  occ &= ~bit(from);
  int r = leastValuableAttacker(pos, to, them, occ);
  if (r == kNoSquare) return v;
  if (typeAt(pos, from) == kKing) return v - kKingLoss;
  const int m = kSeeValue[typeAt(pos, from)];
  occ &= ~bit(r);
  int n = leastValuableAttacker(pos, to, c, occ);
  int t;
  if (n == kNoSquare) {
    t = m;
  } else if (typeAt(pos, r) == kKing) {
    t = m - kKingLoss;
  } else {
    const int w = kSeeValue[typeAt(pos, r)];
    occ &= ~bit(n);
    int x = leastValuableAttacker(pos, to, them, occ);
    int b;
    if (x == kNoSquare) {
      b = w;
    } else if (typeAt(pos, n) == kKing) {
      b = w - kKingLoss;
    } else {
      b = w - std::max(0, kSeeValue[typeAt(pos, n)] - exchangeGain(pos, c, to, typeAt(pos, x), occ & ~bit(x)));
    }
    t = m - std::max(0, b);
  }
  return v - std::max(0, t);
}

}  // namespace board
