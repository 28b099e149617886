// Hand-crafted evaluation: symmetry, caches, exact endings, scale factors,
// contempt and the printed breakdown.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

#include "eval_test_util.h"

using namespace board;
using evaltest::initAll;
using evaltest::newState;

namespace {

int evalAt(const Position& pos, eval::EvalState& st, int ply = 0, int16_t* threat = nullptr) {
  return eval::evaluate(pos, st, ply, false, 0, threat);
}

struct Trace {
  int score = 0;
  std::vector<std::string> lines;
  int printedEval = 0;
  double phase = -1, sf = -1;
  int rule50 = -1;
  std::map<std::string, std::array<int, 4>> rows;  // label -> white, black, pos, mtl
};

Trace traceOf(const std::string& fen, int level = 1, int contempt = 0, int rootSide = 0) {
  testutil::Board b(fen);
  auto st = newState();
  st->contempt = contempt;
  st->rootSide = rootSide;
  testing::internal::CaptureStdout();
  Trace t;
  t.score = eval::evaluate(b.pos, *st, 0, false, level);
  t.lines = testutil::splitLines(testing::internal::GetCapturedStdout());
  for (const auto& l : t.lines) {
    if (sscanf(l.c_str(), "eval= %d, phase= %lf, sf= %lf, rule50= %d", &t.printedEval, &t.phase, &t.sf, &t.rule50) == 4)
      break;
    char label[32];
    std::array<int, 4> v;
    if (sscanf(l.c_str(), "%31s %d %d %d %d", label, &v[0], &v[1], &v[2], &v[3]) == 5) t.rows[label] = v;
  }
  return t;
}

std::string row(const char* label, int a, int b, int c, int d) {
  char buf[128];
  snprintf(buf, sizeof buf, "%-10s  %4d   %4d   %4d   %4d", label, a, b, c, d);
  return buf;
}

// Unscaled white-view score rebuilt from the printed rows (each row is
// truncated on its own, so it is good to about one per row).
int unscaledFromRows(const Trace& t) {
  int sum = 0;
  for (const auto& [label, v] : t.rows) sum += v[2] + v[3];
  return sum;
}

int cheb(int a, int b) { return std::max(std::abs(a % 8 - b % 8), std::abs(a / 8 - b / 8)); }

constexpr uint64_t kLight = 0x55aa55aa55aa55aaull;

// Random placements of the given pieces (distinct squares, pawns off the
// first and last rank) that the position setup accepts.
std::vector<std::string> randomPlacements(const std::string& pieces, int count, uint64_t seed) {
  evaltest::Rng rng(seed);
  std::vector<std::string> out;
  while (static_cast<int>(out.size()) < count) {
    std::vector<std::pair<char, int>> placed;
    uint64_t used = 0;
    for (char c : pieces) {
      int sq;
      do {
        sq = rng.below(64);
      } while ((used >> sq & 1) || ((c == 'P' || c == 'p') && (sq < 8 || sq >= 56)));
      used |= 1ull << sq;
      placed.emplace_back(c, sq);
    }
    std::string fen = evaltest::fenOf(placed, rng.below(2) ? 'b' : 'w');
    Position probe{};
    testing::internal::CaptureStdout();  // refusals are reported there
    int r = setFromFen(probe, fen);
    testing::internal::GetCapturedStdout();
    if (r == kFenOk) out.push_back(fen);
  }
  return out;
}

int squareOf(const std::string& fen, char piece) {
  testutil::Board b(fen);
  for (int sq = 0; sq < 64; ++sq) {
    int code = b.pos.board[sq];
    if (!code) continue;
    char c = " PNBRQK"[typeOf(code)];
    if (colourOf(code)) c = static_cast<char>(std::tolower(c));
    if (c == piece) return sq;
  }
  return -1;
}

}  // namespace

// ------------------------------------------------------------------ symmetry

TEST(EvalSymmetry, ColourFlippedPositionsScoreTheSame) {
  initAll();
  std::vector<std::string> fens;
  for (const char* file : {"wac.epd", "bratko-kopec.epd", "perft-subset.epd"}) {
    auto f = evaltest::loadEpd(file);
    ASSERT_FALSE(f.empty()) << file;
    fens.insert(fens.end(), f.begin(), f.end());
  }
  const size_t suites = fens.size();
  // Two queens of one colour on different ranks: the queen pin test must pick
  // the same queen for both colours.
  fens.push_back("r3k3/7Q/8/N7/8/8/Q7/6K1 w - -");
  fens.push_back("r3k3/7Q/8/N7/8/8/Q7/6K1 b - -");
  auto played = evaltest::playoutFens(7, 48, 60);
  fens.insert(fens.end(), played.begin(), played.end());
  ASSERT_GE(fens.size() - suites, 2000u);

  auto st = newState();
  int compared = 0;
  for (const auto& fen : fens) {
    testutil::Board a, b;
    ASSERT_NE(a.set(fen), kFenRejected) << fen;
    ASSERT_NE(b.set(evaltest::flipFen(fen)), kFenRejected) << evaltest::flipFen(fen);
    int16_t ta[2] = {-1, -1}, tb[2] = {-1, -1};
    int sa = evalAt(a.pos, *st, 0, ta), sb = evalAt(b.pos, *st, 0, tb);
    EXPECT_EQ(sa, sb) << fen;
    EXPECT_EQ(ta[0], tb[1]) << fen;
    EXPECT_EQ(ta[1], tb[0]) << fen;
    ++compared;
  }
  EXPECT_EQ(compared, static_cast<int>(fens.size()));
}

// The piece-square orientation follows each king's wing, so turning the board
// left to right changes nothing. Two queens of one colour are left out: the
// queen pin test picks one of them by square.
TEST(EvalSymmetry, FileMirroredPositionsScoreTheSame) {
  initAll();
  auto fens = evaltest::loadEpd("wac.epd");
  auto played = evaltest::playoutFens(11, 20, 60);
  fens.insert(fens.end(), played.begin(), played.end());
  auto st = newState();
  for (const auto& fen : fens) {
    testutil::Board a(fen), b(evaltest::mirrorFilesFen(fen));
    if (popCount(a.pos.pieces[0][kQueen]) > 1 || popCount(a.pos.pieces[1][kQueen]) > 1) continue;
    int16_t ta[2], tb[2];
    EXPECT_EQ(evalAt(a.pos, *st, 0, ta), evalAt(b.pos, *st, 0, tb)) << fen;
    EXPECT_EQ(ta[0], tb[0]) << fen;
    EXPECT_EQ(ta[1], tb[1]) << fen;
  }
}

// -------------------------------------------------------------------- caches

// A search-like walk: children are evaluated and taken back, the parent is
// evaluated again, then the walk goes on. Scores and threat values must not
// depend on whether they came from the caches.
TEST(EvalCache, CachedResultsEqualFreshOnes) {
  initAll();
  auto cached = newState(), fresh = newState();
  fresh->useCaches = false;
  evaltest::Rng rng(99);
  MoveEntry list[kMaxMoves + 1];
  int compared = 0;
  for (int game = 0; game < 12; ++game) {
    testutil::Board b(game % 2 ? "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -" : kStartFen);
    auto check = [&](int ply) {
      int16_t tc[2] = {0, 0}, tf[2] = {0, 0};
      int sc = evalAt(b.pos, *cached, ply, tc), sf = evalAt(b.pos, *fresh, ply, tf);
      ASSERT_EQ(sc, sf) << positionToFen(b.pos, false);
      ASSERT_EQ(tc[0], tf[0]) << positionToFen(b.pos, false);
      ASSERT_EQ(tc[1], tf[1]) << positionToFen(b.pos, false);
      ++compared;
    };
    for (int step = 0; step < 70; ++step) {
      int n = board::generateLegal(b.pos, list);
      if (n == 0) break;
      const int ply = 2 + step;
      check(ply);
      for (int i = 0; i < 4; ++i) {
        makeMove(b.pos, list[rng.below(n)].move);
        check(ply + 1);
        unmakeMove(b.pos);
      }
      check(ply);
      makeMove(b.pos, list[rng.below(n)].move);
    }
  }
  EXPECT_GT(compared, 3000);
  // The walk must really have been served by both caches.
  EXPECT_GT(cached->counters.cacheHits, 500u);
  EXPECT_GT(cached->counters.pawnHits, 1000u);
  EXPECT_EQ(fresh->counters.cacheHits, 0u);
  EXPECT_EQ(fresh->counters.pawnHits, 0u);
}

TEST(EvalCache, PliesZeroAndOneBypassTheCachesButFillThem) {
  initAll();
  testutil::Board b("r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP1B1PPP/R2QKB1R w KQ -");
  auto st = newState();
  const int real = evalAt(b.pos, *st, 0);
  auto& slot = st->evalCache[b.pos.key & (eval::kEvalCacheSize - 1)];
  ASSERT_EQ(slot.key, b.pos.key);
  EXPECT_EQ(slot.score, real);

  slot.score = static_cast<int16_t>(real + 1234);
  slot.threat[0] = 7;
  slot.threat[1] = 9;
  int16_t t[2] = {0, 0};
  EXPECT_EQ(evalAt(b.pos, *st, 2, t), real + 1234);
  EXPECT_EQ(t[0], 7);
  EXPECT_EQ(t[1], 9);
  for (int ply : {0, 1}) {
    slot.score = static_cast<int16_t>(real + 1234);
    EXPECT_EQ(evalAt(b.pos, *st, ply), real) << "ply " << ply;
    EXPECT_EQ(slot.score, real) << "ply " << ply << " refills the entry";
  }

  // The pawn cache likewise: a doctored white pawn score shows at ply 2 only.
  st->clearCaches();
  evalAt(b.pos, *st, 0);
  eval::PawnCacheEntry* pe = nullptr;
  for (auto& e : st->pawnCache)
    if (e.key) pe = &e;
  ASSERT_NE(pe, nullptr);
  pe->score[0] += eval::pack(50, 50);
  slot.key = 0;
  EXPECT_NEAR(evalAt(b.pos, *st, 2), real + 50, 1);
  slot.key = 0;
  pe->score[0] += eval::pack(50, 50);
  EXPECT_EQ(evalAt(b.pos, *st, 1), real);
}

TEST(EvalCache, InCheckReturnsTheSentinelAndTouchesNothing) {
  initAll();
  auto st = newState();
  for (const auto& fen : evaltest::loadEpd("bratko-kopec.epd")) {
    testutil::Board b(fen);
    evalAt(b.pos, *st, 3);
  }
  auto pawnCopy = std::make_unique<decltype(st->pawnCache)>(st->pawnCache);
  auto evalCopy = std::make_unique<decltype(st->evalCache)>(st->evalCache);
  const auto before = st->counters;
  // In check, and also an exact ending in check: the check test comes first.
  for (const char* fen : {"rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -", "4k3/8/8/8/8/8/3n4/1K6 w - -"}) {
    testutil::Board b(fen);
    ASSERT_TRUE(evaltest::inCheck(b.pos)) << fen;
    int16_t t[2] = {111, 222};
    for (int ply : {0, 5}) EXPECT_EQ(eval::evaluate(b.pos, *st, ply, true, 0, t), -10001) << fen;
    EXPECT_EQ(t[0], 111);
    EXPECT_EQ(t[1], 222);
  }
  EXPECT_EQ(std::memcmp(evalCopy.get(), &st->evalCache, sizeof st->evalCache), 0);
  EXPECT_EQ(std::memcmp(pawnCopy.get(), &st->pawnCache, sizeof st->pawnCache), 0);
  EXPECT_EQ(st->counters.evaluations, before.evaluations + 4);
  EXPECT_EQ(st->counters.cacheHits, before.cacheHits);
  EXPECT_EQ(st->counters.pawnProbes, before.pawnProbes);
}

// ------------------------------------------------------------ exact endings

// Static scores stay below the mate and tablebase bands, exact endings
// included.
TEST(EvalExact, HugeMaterialAgainstLoneKingStaysBelowTheStaticLimit) {
  initAll();
  auto st = newState();
  for (const char* fen : {"8/8/8/7k/8/QQQ5/QQQ5/QQQRR2K w - -", "8/8/8/7k/8/QQQ5/QQQ5/QQQRR2K b - -",
                          "qqqrr2k/qqq5/qqq5/8/7K/8/8/8 w - -"}) {
    testutil::Board b;
    ASSERT_EQ(b.set(fen), kFenOk) << fen;
    const int s = evalAt(b.pos, *st);
    EXPECT_LE(std::abs(s), 9700) << fen;
    EXPECT_GT(std::abs(s), 9000) << fen << " still a clear win";
  }
}

TEST(EvalExact, MinorPieceEndingsWithoutPawnsAreZero) {
  initAll();
  auto st = newState();
  const char* drawn[] = {
      "8/8/3k4/8/8/2NN4/8/4K3",  // two knights
      "8/8/3k4/8/8/2B5/8/4K3",   // bishop
      "8/8/3k4/8/8/2N5/8/4K3",   // knight
      "8/8/3k4/8/8/8/8/4K3",     // bare kings
      "8/2n5/3k4/8/8/2B5/8/4K3", // bishop against knight
      "8/2b5/3k4/8/8/2B5/8/4K3", // bishop against bishop
      "8/1nn5/3k4/8/8/8/3NN3/4K3", // two knights each
      "8/1nn5/3k4/8/8/8/3B4/4K3", // two knights against bishop
  };
  for (const char* placement : drawn)
    for (const char* side : {" w - -", " b - -"}) {
      for (bool flip : {false, true}) {
        std::string fen = std::string(placement) + side;
        if (flip) fen = evaltest::flipFen(fen);
        testutil::Board b;
        ASSERT_EQ(b.set(fen), kFenOk) << fen;
        int16_t t[2] = {55, 66};
        EXPECT_EQ(evalAt(b.pos, *st, 0, t), 0) << fen;
        EXPECT_EQ(t[0], 55) << "exact endings leave the threat values alone";
        EXPECT_EQ(t[1], 66);
      }
    }
  // Just outside the rule: two bishops, three knights, a pawn.
  for (const char* fen : {"8/8/3k4/8/8/2BB4/8/4K3 w - -", "8/8/3k4/8/8/1NNN4/8/4K3 w - -",
                          "8/8/3k4/8/8/2N5/P7/4K3 w - -"}) {
    testutil::Board b(fen);
    EXPECT_NE(evalAt(b.pos, *st, 0), 0) << fen;
  }
}

TEST(EvalExact, BishopAndKnightMateFollowsTheCornerTable) {
  initAll();
  // Weak king's distance from the corners a dark bishop mates in, a1 first.
  const int corner[64] = {9, 8, 7, 6, 5, 4, 3, 2, 8, 7, 6, 5, 4, 3, 2, 3, 7, 6, 4, 3, 2, 1, 3, 4, 6, 5, 3, 1, 0, 2, 4, 5,
                          5, 4, 2, 0, 1, 3, 5, 6, 4, 3, 1, 2, 3, 4, 6, 7, 3, 2, 3, 4, 5, 6, 7, 8, 2, 3, 4, 5, 6, 7, 8, 9};
  auto centre = [](int sq) {
    int f = sq % 8, r = sq / 8;
    if (f >= 2 && f <= 5 && r >= 2 && r <= 5) return 2;
    if (f >= 1 && f <= 6 && r >= 1 && r <= 6) return 1;
    return 0;
  };
  auto st = newState();
  int checked = 0;
  for (const std::string pieces : {"KBNk", "kbnK"}) {
    for (const auto& fen : randomPlacements(pieces, 300, pieces[0] == 'K' ? 3 : 4)) {
      testutil::Board b(fen);
      const int strong = pieces[0] == 'K' ? 0 : 1;
      int w = b.pos.kingSquare[strong ^ 1];
      if ((kLight >> squareOf(fen, strong ? 'b' : 'B')) & 1) w ^= 7;
      int s = 700 + 10 * corner[w] + 8 * centre(b.pos.kingSquare[strong]) -
              6 * cheb(b.pos.kingSquare[0], b.pos.kingSquare[1]);
      EXPECT_EQ(evalAt(b.pos, *st), b.pos.sideToMove == strong ? s : -s) << fen;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 600);
}

TEST(EvalExact, LoneKingAgainstRookOrQueenFollowsTheEdgeTable) {
  initAll();
  const int edge[64] = {60, 50, 40, 30, 30, 40, 50, 60, 50, 40, 30, 20, 20, 30, 40, 50,
                        40, 30, 20, 10, 10, 20, 30, 40, 30, 20, 10, 0,  0,  10, 20, 30,
                        30, 20, 10, 0,  0,  10, 20, 30, 40, 30, 20, 10, 10, 20, 30, 40,
                        50, 40, 30, 20, 20, 30, 40, 50, 60, 50, 40, 30, 30, 40, 50, 60};
  auto st = newState();
  struct Case {
    const char* pieces;
    int material;  // non-pawn count of the strong side
  };
  const Case cases[] = {{"KRk", 5}, {"KQk", 10}, {"KRRk", 10}, {"KQRk", 15}, {"KRPk", 5}, {"KQNPPk", 13},
                        {"kqK", 10}, {"krK", 5},  {"krpK", 5},  {"kqbK", 13}};
  uint64_t seed = 20;
  for (const auto& c : cases) {
    const int strong = std::isupper(static_cast<unsigned char>(c.pieces[0])) ? 0 : 1;
    for (const auto& fen : randomPlacements(c.pieces, 60, ++seed)) {
      testutil::Board b(fen);
      int side[2] = {0, 0};
      side[strong] = 100 * c.material + 200 +
                     2 * (edge[b.pos.kingSquare[strong ^ 1]] - 8 * cheb(b.pos.kingSquare[0], b.pos.kingSquare[1]));
      int s = side[0] - side[1];
      EXPECT_EQ(evalAt(b.pos, *st), b.pos.sideToMove == 0 ? s : -s) << fen;
    }
  }
}

// ------------------------------------------------------------- scale factor

TEST(EvalScale, WrongRookPawnIsScaledToFivePercent) {
  initAll();
  // Dark-squared bishop, a-pawn, defending king next to a8.
  const char* scaled[] = {"k7/8/8/8/P7/8/8/2B1K3 w - -", "1k6/8/8/8/P7/8/8/2B1K3 w - -",
                          "8/k7/8/8/P7/8/8/2B1K3 w - -", "8/1k6/8/8/P7/8/8/2B1K3 b - -",
                          "8/1k6/8/P7/P7/8/8/2B1K3 w - -", "8/1k6/8/P7/P7/8/8/4K3 w - -"};
  for (const char* fen : scaled)
    for (bool flip : {false, true}) {
      std::string f = flip ? evaltest::flipFen(fen) : fen;
      Trace t = traceOf(f);
      EXPECT_NEAR(t.sf, 0.05, 1e-9) << f;
      EXPECT_EQ(t.score, t.printedEval) << f;
      int unscaled = unscaledFromRows(t) * (testutil::Board(f).pos.sideToMove == kBlack ? -1 : 1);
      EXPECT_NEAR(t.score, unscaled * 0.05, 1.0) << f;
      EXPECT_LT(std::abs(t.score), 60) << f;
    }
  // Bishop of a8's colour, king two steps away, pawn on the b-file.
  for (const char* fen : {"k7/8/8/8/P7/8/8/3BK3 w - -", "8/8/2k5/8/P7/8/8/2B1K3 w - -",
                          "k7/8/8/8/1P6/8/8/2B1K3 w - -"}) {
    Trace t = traceOf(fen);
    EXPECT_GT(t.sf, 0.5) << fen;
  }
}

TEST(EvalScale, OppositeColouredBishops) {
  initAll();
  // Dark bishop and four pawns against a light bishop and three pawns.
  Trace bishops = traceOf("2b3k1/p4pp1/8/8/8/1P6/P4PP1/2B3K1 w - -");
  ASSERT_GT(bishops.score, 0);
  EXPECT_NEAR(bishops.sf, 0.6, 1e-6);
  EXPECT_NEAR(bishops.score, unscaledFromRows(bishops) * 0.6, 6);
  Trace rooks = traceOf("r1b3k1/p4pp1/8/8/8/1P6/P4PP1/R1B3K1 w - -");
  ASSERT_GT(rooks.score, 0);
  EXPECT_NEAR(rooks.sf, 0.9, 1e-6);
  // Bishops of one colour, or a pawn difference of three: no scaling.
  EXPECT_NEAR(traceOf("1b4k1/p4pp1/8/8/8/1P6/P4PP1/2B3K1 w - -").sf, 1.0, 1e-6);
  EXPECT_NEAR(traceOf("2b3k1/5p2/8/8/8/1P6/P4PP1/2B3K1 w - -").sf, 1.0, 1e-6);
  // The same from black's side.
  Trace flipped = traceOf(evaltest::flipFen("2b3k1/p4pp1/8/8/8/1P6/P4PP1/2B3K1 w - -"));
  EXPECT_NEAR(flipped.sf, 0.6, 1e-6);
  EXPECT_EQ(flipped.score, bishops.score);
}

TEST(EvalScale, PawnlessAndFewPawnRules) {
  initAll();
  // Two bishops against a knight.
  EXPECT_NEAR(traceOf("8/8/3k4/7n/8/8/2BB4/4K3 w - -").sf, 0.75, 1e-6);
  // Queen against rook and bishop: 0.1 + 0.007 * 10.
  Trace qrb = traceOf("2b1k2r/8/8/8/8/8/8/3QK3 w - -");
  ASSERT_GT(qrb.score, 0);
  EXPECT_NEAR(qrb.sf, 0.17, 1e-9);
  EXPECT_NEAR(qrb.score, unscaledFromRows(qrb) * 0.17, 2);
  // Rook and pawn against rook, defending king in front of the pawn.
  Trace held = traceOf("4k3/8/8/4P3/8/8/r7/4K2R w - -");
  ASSERT_GT(held.score, 0);
  EXPECT_NEAR(held.sf, 0.6, 1e-6);
  Trace behind = traceOf("8/8/8/4P3/8/8/r7/k3K2R w - -");
  ASSERT_GT(behind.score, 0);
  EXPECT_NEAR(behind.sf, 0.8, 1e-6);
  // A minor piece on the weak side lowers one pawn to 0.6; two pawns 0.8.
  Trace minor = traceOf("k7/8/8/4P3/8/8/8/2B1K2n w - -");
  ASSERT_GT(minor.score, 0);
  EXPECT_NEAR(minor.sf, 0.6, 1e-6);
  // Lone strong piece against two.
  Trace lone = traceOf("8/8/8/2P1P3/P7/8/nb6/k3K2R w - -");
  ASSERT_GT(lone.score, 0);
  EXPECT_NEAR(lone.sf, 0.8, 1e-6);
  // Full material: no scaling.
  EXPECT_NEAR(traceOf(kStartFen).sf, 1.0, 1e-9);
}

// ----------------------------------------------------------------- contempt

TEST(EvalContempt, AmountFollowsTheMeasuredSide) {
  initAll();
  testutil::Board b(kStartFen);
  auto st = newState();
  const int plain = evalAt(b.pos, *st);
  EXPECT_EQ(plain, 21);
  // Start position: n = (32 - 3) + 2 * 6 = 41, so the amount equals C.
  struct Case {
    int contempt, root, expected;
  };
  for (const Case& c : {Case{41, 0, 21 + 41}, Case{-41, 0, 21 - 41}, Case{41, 1, 21 - 41}, Case{-41, 1, 21 + 41},
                        Case{20, 0, 21 + 20}, Case{-100, 0, 21 - 100}}) {
    st->contempt = c.contempt;
    st->rootSide = c.root;
    EXPECT_EQ(evalAt(b.pos, *st), c.expected) << c.contempt << " root " << c.root;
  }
  // The measured side's material decides: white without queen, black full.
  testutil::Board q("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNB1KBNR w KQkq -");
  st->contempt = 0;
  const int base = evalAt(q.pos, *st);
  st->contempt = 41;
  st->rootSide = 0;
  EXPECT_EQ(evalAt(q.pos, *st), base + (19 + 12) * 41 / 41);
  st->rootSide = 1;
  EXPECT_EQ(evalAt(q.pos, *st), base - 41);
  // The trace shows the score without contempt.
  Trace t = traceOf(kStartFen, 1, 41, 0);
  EXPECT_EQ(t.score, 62);
  EXPECT_EQ(t.printedEval, 21);
}

// ------------------------------------------------------------------- threats

TEST(EvalThreats, PassedPawnAndHungPieceThreatValues) {
  initAll();
  auto st = newState();
  struct Case {
    const char* fen;
    int white, black;
  };
  const Case cases[] = {
      {"7k/P7/8/8/8/8/8/6NK w - -", 0, 1200},   // free passer on the 7th
      {"n6k/P7/8/8/8/8/8/6NK w - -", 0, 300},   // stop square occupied: a quarter
      {"4k3/8/8/3n4/4P3/8/8/4K3 w - -", 0, 256 + 75},  // knight hung to a pawn, passer half
  };
  for (const auto& c : cases)
    for (bool flip : {false, true}) {
      std::string fen = flip ? evaltest::flipFen(c.fen) : c.fen;
      testutil::Board b(fen);
      int16_t t[2] = {-1, -1};
      evalAt(b.pos, *st, 0, t);
      EXPECT_EQ(t[flip ? 1 : 0], c.white) << fen;
      EXPECT_EQ(t[flip ? 0 : 1], c.black) << fen;
    }
}

// --------------------------------------------------------------------- trace

TEST(EvalTrace, StartPositionLayout) {
  initAll();
  Trace t = traceOf(kStartFen);
  ASSERT_GE(t.lines.size(), 12u);
  EXPECT_EQ(t.lines[0], "           white  black    pos    mtl");
  const char* labels[] = {"pawns:", "knights:", "bishops:", "rooks:", "queens:",
                          "king:",  "ppawns:",  "threats:", "special:"};
  for (int i = 0; i < 9; ++i) {
    ASSERT_TRUE(t.rows.count(labels[i])) << labels[i];
    auto v = t.rows[labels[i]];
    EXPECT_EQ(t.lines[1 + i], row(labels[i], v[0], v[1], v[2], v[3]));
    EXPECT_EQ(v[2], v[0] - v[1]) << labels[i];
    if (i < 8) {
      EXPECT_EQ(v[2], 0) << labels[i] << " is the same for both colours";
    }
    EXPECT_EQ(v[3], 0) << labels[i];
  }
  EXPECT_EQ(t.lines[9], row("special:", 21, 0, 21, 0));
  EXPECT_EQ(t.lines[10], "eval= 21, phase= 0.00, sf= 1.00, rule50= 0");
  EXPECT_EQ(t.lines[11], "");
  EXPECT_EQ(t.lines.size(), 12u) << "no hung or free pawn lines at level 1";
  EXPECT_EQ(t.score, 21);

  Trace black = traceOf("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq -");
  EXPECT_EQ(black.lines[9], row("special:", 0, 21, -21, 0));
  EXPECT_EQ(black.printedEval, 21);
}

TEST(EvalTrace, MaterialColumnAndTotals) {
  initAll();
  // Black is a knight short.
  Trace t = traceOf("r1bqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
  EXPECT_EQ(t.rows["knights:"][3], 365);
  EXPECT_EQ(t.rows["pawns:"][3], 0);
  EXPECT_EQ(t.rows["queens:"][3], 0);
  for (const auto& [label, v] : t.rows) EXPECT_EQ(v[2], v[0] - v[1]) << label;
  EXPECT_NEAR(t.printedEval, unscaledFromRows(t), 9);
  EXPECT_EQ(t.score, t.printedEval);
  // A few random middlegames: the printed eval is the returned one.
  for (const auto& fen : evaltest::playoutFens(5, 4, 30)) {
    Trace r = traceOf(fen);
    if (r.phase < 0) continue;  // exact endings print nothing
    EXPECT_NEAR(r.score, r.printedEval, 1) << fen;
    EXPECT_EQ(r.rule50, testutil::Board(fen).pos.rule50);
  }
}

TEST(EvalTrace, EndgameWeightRunsFromZeroToOne) {
  initAll();
  EXPECT_NEAR(traceOf(kStartFen).phase, 0.0, 1e-9);
  EXPECT_NEAR(traceOf("4k3/p7/8/8/8/8/PP6/4K3 w - -").phase, 1.0, 1e-9);
  // Two rooks each: 20 non-pawn units, w = 1 - 0.34.
  EXPECT_NEAR(traceOf("r3k2r/pppppppp/8/8/8/8/PPPPPPPP/R3K2R w - -").phase, 0.66, 1e-9);
  // 0.017 per unit reaches 1 at 59 units: 61 and 59 give 0, 58 does not.
  EXPECT_NEAR(traceOf("r1bqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -").phase, 0.0, 1e-9);
  EXPECT_NEAR(traceOf("1nbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w Kk -").phase, 0.0, 1e-9);
  EXPECT_NEAR(traceOf("r1bqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKB1R w KQkq -").phase, 0.01, 1e-9);
  // 32 units: w = 0.456.
  EXPECT_NEAR(traceOf("r3k2r/pppppppp/8/8/8/8/PPPPPPPP/RNB1KBNR w KQkq -").phase, 0.46, 1e-9);
}

TEST(EvalTrace, HungPiecesAndFreePawnsAreListed) {
  initAll();
  // Knight on d5 hung to the e4 pawn; a6 runs free.
  Trace t = traceOf("4k3/8/P7/3n4/4P3/8/8/4K3 w - -");
  ASSERT_GE(t.lines.size(), 13u);
  EXPECT_EQ(t.lines[10], "hung pieces on:  d5");
  EXPECT_EQ(t.lines[11], "free pawns on:  a6");
  EXPECT_EQ(t.lines[12].rfind("eval= ", 0), 0u);
  Trace two = traceOf("4k3/8/P7/3n4/4P3/1b6/2P5/3K4 w - -");
  bool found = false;
  for (const auto& l : two.lines) found |= l == "hung pieces on:  b3 d5";
  EXPECT_TRUE(found);
}

TEST(EvalTrace, LevelTwoPrintsWeightsAndTables) {
  initAll();
  Trace t = traceOf(kStartFen, 2);
  size_t i = 0;
  while (i < t.lines.size() && t.lines[i].rfind("eval= ", 0) != 0) ++i;
  ASSERT_LT(i + 2, t.lines.size());
  i += 2;  // eval line and the empty line after it
  int weights = 0;
  for (const auto& e : eval::evalParams) {
    if (std::strstr(e.name, "PST_")) continue;
    char buf[96];
    snprintf(buf, sizeof buf, "%-22s  %4d , %4d", e.name, eval::mgOf(e.packed), eval::egOf(e.packed));
    ASSERT_LT(i, t.lines.size());
    EXPECT_EQ(t.lines[i++], buf);
    ++weights;
  }
  EXPECT_EQ(weights, 166);
  EXPECT_EQ(t.lines[i - 166], "mtl_pawn                 100 ,  100");
  EXPECT_EQ(t.lines[i - 33], "stm_bonus                 21 ,   17");
  EXPECT_EQ(t.lines[i - 1], "ttune                      0 ,    0");

  const std::pair<const char*, const char*> tables[] = {
      {"Pawn1", "PST_P1"},   {"Pawn2", "PST_P2"},   {"Connected Pawn", "PST_CP"}, {"Defended Pawn", "PST_DP"},
      {"Knight1", "PST_N1"}, {"Knight2", "PST_N2"}, {"Bishop1", "PST_B1"},        {"Bishop2", "PST_B2"},
      {"Rook1", "PST_R1"},   {"Rook2", "PST_R2"},   {"Queen1", "PST_Q1"},         {"Queen2", "PST_Q2"},
      {"King", "PST_K"}};
  for (auto [title, name] : tables) {
    int first = -1;
    for (int k = 0; k < eval::kParamCount; ++k)
      if (std::strcmp(eval::evalParams[k].name, name) == 0) {
        first = k;
        break;
      }
    ASSERT_GE(first, 0) << name;
    ASSERT_LT(i + 9, t.lines.size());
    EXPECT_EQ(t.lines[i++], title);
    for (int rank = 7; rank >= 0; --rank) {
      std::string expected;
      char buf[16];
      for (int f = 0; f < 8; ++f) {
        snprintf(buf, sizeof buf, " %3d", eval::mgOf(eval::evalParams[first + rank * 8 + f].packed));
        expected += buf;
      }
      expected += "     ";
      for (int f = 0; f < 8; ++f) {
        snprintf(buf, sizeof buf, " %3d", eval::egOf(eval::evalParams[first + rank * 8 + f].packed));
        expected += buf;
      }
      EXPECT_EQ(t.lines[i++], expected) << title << " rank " << rank + 1;
    }
    EXPECT_EQ(t.lines[i++], "") << title;
  }
  EXPECT_EQ(i, t.lines.size());
  // The king table as the defaults give it, rank 1 last.
  EXPECT_EQ(t.lines[i - 2], "   0   0   0   0 -18 -32   8   1        0   0   0   0 -49 -34 -59 -87");
}
