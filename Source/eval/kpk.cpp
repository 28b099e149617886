// King and pawn against king: retrograde construction of the win table.
#include "board/attacks.h"
#include "eval/eval.h"

namespace eval {

using namespace board;

std::array<uint8_t, 2 * 32 * 64 * 64> kpk_table;

int kpkIndex(int mover, int pawn, int strongKing, int weakKing) {
  return mover * 131072 + ((pawn >> 3) * 4 + (pawn & 7)) * 4096 + strongKing * 64 + weakKing;
}

namespace {
constexpr uint8_t kIllegal = 0, kDraw = 1, kWin = 2, kUnknown = 4;
}

void initKpk() {
  auto& t = kpk_table;
  for (int rank = 0; rank < 8; ++rank)
    for (int file = 0; file < 4; ++file) {
      int p = rank * 8 + file;
      for (int s = 0; s < 64; ++s)
        for (int k = 0; k < 64; ++k) {
          uint8_t& strong = t[kpkIndex(0, p, s, k)];
          uint8_t& weak = t[kpkIndex(1, p, s, k)];
          strong = weak = kUnknown;
          if (p == k || s == k || p == s || chebyshev(s, k) < 2) {
            strong = weak = kIllegal;
          } else if (k == p + 9 || (file > 0 && k == p + 7)) {
            strong = kIllegal;  // the weak king stands in check with the strong side to move
          } else if (rank == 7) {
            strong = kWin;
            if (chebyshev(k, p) > 1 || chebyshev(s, p) == 1) weak = kWin;
          }
        }
    }

  for (bool changed = true; changed;) {
    changed = false;
    for (int rank = 1; rank < 7; ++rank)
      for (int file = 0; file < 4; ++file) {
        int p = rank * 8 + file;
        for (int s = 0; s < 64; ++s)
          for (int k = 0; k < 64; ++k) {
            uint8_t& strong = t[kpkIndex(0, p, s, k)];
            if (strong == kUnknown) {
              bool win = false, unknown = false;
              auto see = [&](uint8_t v) {
                win |= v == kWin;
                unknown |= v == kUnknown;
              };
              uint8_t push = t[kpkIndex(1, p + 8, s, k)];
              see(push);
              if (rank == 1 && push != kIllegal) see(t[kpkIndex(1, p + 16, s, k)]);
              for (Bitboard b = kingAttacks[s]; b;) see(t[kpkIndex(1, p, popLowest(b), k)]);
              uint8_t v = win ? kWin : !unknown ? kDraw : kUnknown;
              if (v != strong) {
                strong = v;
                changed = true;
              }
            }
            uint8_t& weak = t[kpkIndex(1, p, s, k)];
            if (weak == kUnknown) {
              bool draw = false, unknown = false, win = false;
              for (Bitboard b = kingAttacks[k]; b;) {
                int to = popLowest(b);
                uint8_t v = (to == p && chebyshev(s, p) != 1) ? kDraw : t[kpkIndex(0, p, s, to)];
                draw |= v == kDraw;
                unknown |= v == kUnknown;
                win |= v == kWin;
              }
              uint8_t v = draw ? kDraw : unknown ? kUnknown : win ? kWin : kDraw;
              if (v != weak) {
                weak = v;
                changed = true;
              }
            }
          }
      }
  }
  for (int rank = 1; rank < 7; ++rank)
    for (int file = 0; file < 4; ++file)
      for (int mover = 0; mover < 2; ++mover)
        for (int sk = 0; sk < 64 * 64; ++sk) {
          uint8_t& v = t[kpkIndex(mover, rank * 8 + file, sk >> 6, sk & 63)];
          if (v != kWin) v = kDraw;
        }
}

}  // namespace eval
