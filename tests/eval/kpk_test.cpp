// King and pawn against king: the retrograde table against tablebase results
// for every legal position, and the exact score built on it.
//
// tests/data/kpk-wins.txt holds the reference; tests/data/make-kpk-wins.py
// made it from the Syzygy tables with Debian's fathom tool, one call
// "fathom --path=DIR --test FEN" per position. The test reads only the file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "eval_test_util.h"

using namespace board;

namespace {

struct Reference {
  // [mover][pawn square] -> 4096 flags, index strong king * 64 + weak king.
  std::vector<uint8_t> win[2][64];
  int lines = 0;
  bool has(int mover, int pawn) const { return !win[mover][pawn].empty(); }
};

const Reference& reference() {
  static const Reference ref = [] {
    Reference r;
    std::ifstream in(std::string(VESK_TEST_DATA) + "/kpk-wins.txt");
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream words(line);
      int m, p;
      std::string hex;
      if (!(words >> m >> p >> hex) || m < 0 || m > 1 || p < 0 || p > 63 || hex.size() != 1024) continue;
      auto& bits = r.win[m][p];
      bits.assign(4096, 0);
      for (int i = 0; i < 1024; ++i) {
        int v = std::stoi(hex.substr(i, 1), nullptr, 16);
        for (int b = 0; b < 4; ++b) bits[4 * i + b] = (v >> b) & 1;
      }
      ++r.lines;
    }
    return r;
  }();
  return ref;
}

int cheb(int a, int b) { return std::max(std::abs(a % 8 - b % 8), std::abs(a / 8 - b / 8)); }

// Legal with a white pawn on p, white king on s, black king on k.
bool legal(int mover, int p, int s, int k) {
  if (p == s || p == k || s == k || cheb(s, k) < 2) return false;
  const bool kInCheck = k == p + 9 || (p % 8 > 0 && k == p + 7);
  return !(mover == 0 && kInCheck);
}

}  // namespace

TEST(KpkTable, MatchesTheTablebaseOnEveryPosition) {
  evaltest::initAll();
  const Reference& ref = reference();
  ASSERT_EQ(ref.lines, 48) << "kpk-wins.txt missing or damaged";
  int positions = 0, wins = 0, mismatches = 0;
  std::string examples;
  for (int mover = 0; mover < 2; ++mover)
    for (int rank = 1; rank <= 6; ++rank)
      for (int file = 0; file < 4; ++file) {
        const int p = rank * 8 + file;
        ASSERT_TRUE(ref.has(mover, p)) << mover << " " << p;
        for (int s = 0; s < 64; ++s)
          for (int k = 0; k < 64; ++k) {
            if (!legal(mover, p, s, k)) continue;
            ++positions;
            const int v = eval::kpk_table[eval::kpkIndex(mover, p, s, k)];
            const bool won = ref.win[mover][p][s * 64 + k];
            wins += won;
            EXPECT_TRUE(v == 1 || v == 2) << "value " << v;
            if ((v == 2) != won) {
              if (++mismatches <= 20) {
                examples += "  mover " + std::to_string(mover) + " pawn " + squareName(p) + " strong king " +
                            squareName(s) + " weak king " + squareName(k) + ": table " + std::to_string(v) +
                            ", tablebase " + (won ? "win" : "draw") + "\n";
              }
            }
          }
      }
  EXPECT_EQ(positions, 165676);
  EXPECT_GT(wins, positions / 2);
  EXPECT_EQ(mismatches, 0) << examples;
}

// The exact score: distances to the promotion square, the pawn's rank, and
// 800 more when the position is won. Both colours, all files, both sides to move.
TEST(EvalKpk, ScoreAddsEightHundredWhenWon) {
  evaltest::initAll();
  const Reference& ref = reference();
  ASSERT_EQ(ref.lines, 48);
  auto st = evaltest::newState();
  evaltest::Rng rng(17);
  int checked = 0, won = 0;
  for (int n = 0; n < 4000; ++n) {
    const int pawnSide = n % 2;
    int p, s, k;
    do {
      p = 8 + rng.below(48);
      s = rng.below(64);
      k = rng.below(64);
    } while (p == s || p == k || s == k || cheb(s, k) < 2);
    const int stm = rng.below(2);
    // Squares as the pawn's side sees them, then moved to files a-d.
    int wp = pawnSide ? 63 - p : p, ws = pawnSide ? 63 - s : s, wk = pawnSide ? 63 - k : k;
    const int mover = stm == pawnSide ? 0 : 1;
    if (!legal(mover, wp, ws, wk)) continue;
    if (wp % 8 > 3) {
      wp ^= 7;
      ws ^= 7;
      wk ^= 7;
    }
    const std::string fen = evaltest::fenOf(
        {{pawnSide ? 'p' : 'P', p}, {pawnSide ? 'k' : 'K', s}, {pawnSide ? 'K' : 'k', k}}, stm ? 'b' : 'w');
    testutil::Board b;
    ASSERT_EQ(b.set(fen), kFenOk) << fen;

    const int promo = 56 + wp % 8;
    const bool win = ref.win[mover][wp][ws * 64 + wk];
    int score = cheb(wk, promo) + 4 * (wp / 8) - cheb(ws, promo) + (win ? 800 : 0);
    if (stm != pawnSide) score = -score;
    int16_t t[2] = {3, 4};
    EXPECT_EQ(eval::evaluate(b.pos, *st, 0, false, 0, t), score) << fen;
    EXPECT_EQ(t[0], 3) << "no threat values from an exact ending";
    if (!win) {
      EXPECT_LT(std::abs(score), 40) << fen;
    }
    ++checked;
    won += win;
  }
  EXPECT_GT(checked, 3000);
  EXPECT_GT(won, 1000);
}
