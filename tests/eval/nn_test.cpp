// Network evaluation: file loading, the input encoding, the forward pass
// against a plain double-precision reference, the incremental first layer,
// and the score mapping.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "eval/nn.h"
#include "eval_test_util.h"

using namespace board;

namespace {

struct Shape {
  int G = 896, X = 42, H1 = 16, H2 = 8, L = 1;
};

struct Net {
  Shape s;
  std::vector<float> f;
  size_t w2() const { return static_cast<size_t>(s.G + s.X) * s.H1; }
  size_t w3() const { return w2() + static_cast<size_t>(s.H1) * s.H2; }
  size_t constants() const { return w3() + static_cast<size_t>(s.H2) * s.L + s.L; }
  size_t count() const { return constants() + 8; }
};

Net randomNet(Shape s, uint64_t seed) {
  Net n{s, {}};
  evaltest::Rng rng(seed);
  n.f.resize(n.count());
  // Sized so that R spreads over a few units: scores of some hundreds.
  for (size_t i = 0; i < n.w2(); ++i) n.f[i] = static_cast<float>(rng.uniform(-0.25, 0.25));
  for (size_t i = n.w2(); i < n.w3(); ++i) n.f[i] = static_cast<float>(rng.uniform(-0.5, 0.5));
  for (size_t i = n.w3(); i < n.count(); ++i) n.f[i] = static_cast<float>(rng.uniform(-1.0, 1.0));
  n.f[n.constants() + 1] = 0.05f;
  n.f[n.constants() + 2] = -0.03f;
  return n;
}

// One neuron per layer, no first-layer weights: R = a(b2) whatever the position.
Net constantNet(float b2) {
  Net n{Shape{896, 42, 1, 1, 1}, {}};
  n.f.assign(n.count(), 0.0f);
  n.f[n.w3()] = 1.0f;
  n.f[n.constants() + 1] = 1.0f;
  n.f[n.constants() + 2] = b2;
  return n;
}

void putU16(std::string& out, int v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

// Header and floats of one network; netCount is the value written in the header.
std::string netBytes(const Net& n, int netCount) {
  std::string out;
  putU16(out, 0);
  putU16(out, netCount);
  putU16(out, n.s.G);
  putU16(out, n.s.X);
  putU16(out, n.s.H1);
  putU16(out, n.s.H2);
  putU16(out, n.s.L);
  putU16(out, 0);
  putU16(out, 0);
  out.append(reinterpret_cast<const char*>(n.f.data()), n.f.size() * sizeof(float));
  return out;
}

std::string writeNetFile(const std::string& name, const std::string& bytes) {
  std::string path = testing::TempDir() + "/vesk_nn_" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// ----------------------------------------------------------- the reference

int nonPawn(const Position& pos, int c) { return pos.pieceMaterial[c]; }

bool passedPawn(const Position& pos, int sq) {
  const int c = colourOf(pos.board[sq]);
  const int f = sq % 8, r = sq / 8;
  for (int rr = 0; rr < 8; ++rr) {
    if (c == kWhite ? rr <= r : rr >= r) continue;
    for (int ff = std::max(0, f - 1); ff <= std::min(7, f + 1); ++ff) {
      int code = pos.board[rr * 8 + ff];
      if (code && typeOf(code) == kPawn && colourOf(code) != c) return false;
    }
  }
  return true;
}

std::vector<int> referenceFeatures(const Position& pos, int G) {
  const int stm = pos.sideToMove;
  const bool qs[2] = {pos.kingSquare[0] % 8 < 4, pos.kingSquare[1] % 8 < 4};
  const int shift = (qs[0] != qs[1] && G >= 1792) ? 896 : 0;
  std::vector<int> out;
  for (int sq = 0; sq < 64; ++sq) {
    int code = pos.board[sq];
    if (!code) continue;
    int c = colourOf(code), type = typeOf(code);
    int base = (c == stm ? 0 : 448) + shift;
    int t = sq ^ (qs[c] ? 7 : 0) ^ (stm == kBlack ? 56 : 0);
    int block = type == kKing ? 0 : 64 * type;  // pawns 64, ..., queens 320
    out.push_back(base + block + t);
    if (type == kPawn && passedPawn(pos, sq)) out.push_back(base + 384 + t);
  }
  out.push_back(G + 22 + std::clamp(nonPawn(pos, stm) - nonPawn(pos, stm ^ 1), -19, 19));
  std::sort(out.begin(), out.end());
  return out;
}

double act(double x) { return x >= 0 ? x : x * 0.0625; }

double forwardReference(const Net& n, const std::vector<int>& features, double phase) {
  const Shape& s = n.s;
  std::vector<double> out1(s.H1), out2(s.H2), o(s.L);
  const double b1 = n.f[n.constants() + 1], b2 = n.f[n.constants() + 2];
  for (int i = 0; i < s.H1; ++i) {
    double sum = 0;
    for (int feat : features) sum += n.f[static_cast<size_t>(feat) * s.H1 + i];
    out1[i] = act(sum + b1);
  }
  for (int k = 0; k < s.H2; ++k) {
    double sum = 0;
    for (int i = 0; i < s.H1; ++i) sum += n.f[n.w2() + static_cast<size_t>(k) * s.H1 + i] * out1[i];
    out2[k] = act(sum + b2);
  }
  for (int j = 0; j < s.L; ++j) {
    double sum = 0;
    for (int k = 0; k < s.H2; ++k) sum += n.f[n.w3() + static_cast<size_t>(j) * s.H2 + k] * out2[k];
    o[j] = sum;
  }
  return s.L == 1 ? o[0] : phase * o[0] + (1 - phase) * o[1];
}

int mapScore(double R) {
  const double P = 1.0 / (1.0 + std::exp(-R));
  if (P < 0.0005) return -1266;
  if (P > 0.9995) return 1266;
  return static_cast<int>(-166.66666521794266 * std::log(1.0 / P - 1.0));
}

int pieceCount(const Position& pos, int c) {
  return popCount(pos.pieces[c][kKnight] | pos.pieces[c][kBishop] | pos.pieces[c][kRook] | pos.pieces[c][kQueen]);
}

// The networks of a file as the evaluation should use them: the first and the last.
struct Model {
  std::vector<Net> slots;

  int choose(const Position& pos, double& phase) const {
    phase = std::min(1.0, 0.016 * (nonPawn(pos, 0) + nonPawn(pos, 1)));
    if (slots.size() < 2) return 0;
    int p = std::max(pieceCount(pos, 0), pieceCount(pos, 1));
    if (slots[1].s.L == 1 && p == 0) {
      phase = 0;
      return 1;
    }
    if (slots[1].s.L == 2 && p <= 1) {
      phase = p;
      return 1;
    }
    return 0;
  }
  double R(const Position& pos) const {
    double phase;
    const Net& n = slots[choose(pos, phase)];
    return forwardReference(n, referenceFeatures(pos, n.s.G), phase);
  }
  int score(const Position& pos) const {
    int s = mapScore(R(pos));
    const auto& ps = pos.pieces;
    if (!(ps[0][kPawn] | ps[1][kPawn] | ps[0][kRook] | ps[1][kRook] | ps[0][kQueen] | ps[1][kQueen]) &&
        nonPawn(pos, 0) <= 3 && nonPawn(pos, 1) <= 3)
      s /= 4;
    return s;
  }
};

// From scratch: no saved first layer to start from, no cache.
int freshScore(const Position& pos, eval::EvalState& st) {
  st.useCaches = false;
  if (st.network)
    for (auto& s : st.network->saved) s.net = -1;
  return eval::nn_evaluate(pos, st, false);
}

std::vector<std::string> testPositions(int playoutGames) {
  std::vector<std::string> fens;
  for (const char* file : {"wac.epd", "bratko-kopec.epd", "perft-subset.epd"}) {
    auto f = evaltest::loadEpd(file);
    fens.insert(fens.end(), f.begin(), f.end());
  }
  auto p = evaltest::playoutFens(3, playoutGames, 80);
  fens.insert(fens.end(), p.begin(), p.end());
  // Few pieces, for the second network and the minor-piece rule.
  for (const char* fen : {"4k3/8/8/8/8/8/4P3/4K3 w - -", "8/5k2/3p4/1p1P4/1P6/3K4/8/8 b - -",
                          "8/8/3k4/8/8/2N5/4P3/4K3 w - -", "8/8/3k4/2n5/8/2B5/8/4K3 b - -",
                          "8/p7/1k6/8/8/5K2/6P1/8 w - -", "2r5/8/3k4/8/8/2B5/5PP1/6K1 w - -"})
    fens.push_back(fen);
  return fens;
}

class NnTest : public testing::Test {
 protected:
  void SetUp() override {
    evaltest::initAll();
    eval::unloadNetworks();
  }
  void TearDown() override {
    eval::unloadNetworks();
    for (const auto& p : files) std::remove(p.c_str());
  }
  std::string file(const std::string& name, const std::string& bytes) {
    files.push_back(writeNetFile(name, bytes));
    return files.back();
  }
  std::vector<std::string> files;
};

// Compares the evaluation with the reference on the given positions.
void expectMatchesModel(const Model& model, const std::vector<std::string>& fens, const std::string& what) {
  auto st = evaltest::newState();
  auto ns = std::make_unique<eval::NetworkState>();
  int opposite = 0;
  for (const auto& fen : fens) {
    testutil::Board b(fen);
    const Position& pos = b.pos;
    double phase;
    const int index = model.choose(pos, phase);
    float enginePhase;
    ASSERT_EQ(eval::chooseNetwork(pos, enginePhase), index) << what << " " << fen;
    EXPECT_FLOAT_EQ(enginePhase, static_cast<float>(phase)) << what << " " << fen;
    const eval::NetworkSlot& slot = eval::networks[index];
    const Net& net = model.slots[index];

    uint16_t engineFeatures[eval::kMaxFeatures];
    int n = eval::buildFeatureList(pos, slot.G, engineFeatures);
    std::vector<int> got(engineFeatures, engineFeatures + n);
    std::sort(got.begin(), got.end());
    const std::vector<int> expected = referenceFeatures(pos, net.s.G);
    ASSERT_EQ(got, expected) << what << " " << fen;
    opposite += (pos.kingSquare[0] % 8 < 4) != (pos.kingSquare[1] % 8 < 4);

    // The forward pass from the first-layer sums, before the score mapping.
    std::vector<float> sums(net.s.H1, 0.0f);
    for (int feat : expected)
      for (int i = 0; i < net.s.H1; ++i) sums[i] += slot.W1[static_cast<size_t>(feat) * net.s.H1 + i];
    const double R = forwardReference(net, expected, phase);
    EXPECT_NEAR(eval::forwardFromSums(slot, *ns, sums.data(), static_cast<float>(phase)), R, 1e-3) << what << " " << fen;
    EXPECT_NEAR(freshScore(pos, *st), model.score(pos), 1) << what << " " << fen << " R=" << R;
  }
  EXPECT_GT(opposite, 20) << "kings on opposite wings must be covered";
}

}  // namespace

TEST_F(NnTest, HeaderVariantsLoadAndEvaluateLikeTheReference) {
  const auto fens = testPositions(6);
  struct Variant {
    const char* what;
    std::vector<Shape> nets;
    int countField;  // net_count written in every header
  };
  const Variant variants[] = {
      {"G896 L1", {{896, 42, 16, 8, 1}}, 1},
      {"G1792 L1", {{1792, 42, 16, 8, 1}}, 1},
      {"G896 L2", {{896, 42, 24, 4, 2}}, 1},
      {"G1792 L2 X50", {{1792, 50, 32, 8, 2}}, 1},
      {"net_count 0", {{896, 42, 16, 8, 1}}, 0},
      {"two, second L1", {{1792, 42, 32, 8, 2}, {896, 42, 16, 4, 1}}, 2},
      {"two, second L2", {{1792, 42, 32, 8, 2}, {1792, 42, 32, 8, 2}}, 2},
      {"three, the last one used", {{896, 42, 32, 8, 2}, {896, 42, 8, 8, 1}, {896, 42, 16, 4, 2}}, 3},
  };
  uint64_t seed = 100;
  for (const auto& v : variants) {
    Model model;
    std::string bytes;
    std::vector<Net> all;
    for (const Shape& s : v.nets) {
      all.push_back(randomNet(s, ++seed));
      bytes += netBytes(all.back(), v.countField);
    }
    model.slots.push_back(all.front());
    if (all.size() > 1) model.slots.push_back(all.back());
    std::string why;
    ASSERT_EQ(eval::load_network(file("variant.bin", bytes), &why), 1) << v.what << ": " << why;
    ASSERT_EQ(eval::network_count, static_cast<int>(model.slots.size())) << v.what;
    for (size_t k = 0; k < model.slots.size(); ++k) {
      const Shape& s = model.slots[k].s;
      const auto& slot = eval::networks[k];
      EXPECT_EQ(slot.G, s.G) << v.what;
      EXPECT_EQ(slot.X, s.X) << v.what;
      EXPECT_EQ(slot.H1, s.H1) << v.what;
      EXPECT_EQ(slot.H2, s.H2) << v.what;
      EXPECT_EQ(slot.L, s.L) << v.what;
    }
    expectMatchesModel(model, fens, v.what);
  }
}

// The loop follows the net_count of the latest header: a second header that
// says 2 ends the file after it, whatever the first one said.
TEST_F(NnTest, LatestNetCountEndsTheFile) {
  const Net first = randomNet(Shape{896, 42, 16, 8, 2}, 51), second = randomNet(Shape{896, 42, 8, 4, 1}, 52),
            third = randomNet(Shape{896, 42, 12, 4, 2}, 53);
  std::string bytes = netBytes(first, 3) + netBytes(second, 2) + netBytes(third, 3);
  ASSERT_EQ(eval::load_network(file("shrink.bin", bytes)), 1);
  ASSERT_EQ(eval::network_count, 2);
  EXPECT_EQ(eval::networks[1].H1, 8);
  Model model;
  model.slots = {first, second};
  expectMatchesModel(model, testPositions(2), "net_count 3 then 2");
}

TEST_F(NnTest, FullSizeNetworkMatchesTheReference) {
  Model model;
  model.slots.push_back(randomNet(Shape{1792, 42, 256, 32, 2}, 7));
  ASSERT_EQ(eval::load_network(file("big.bin", netBytes(model.slots[0], 1))), 1);
  expectMatchesModel(model, testPositions(20), "256 wide");
}

TEST_F(NnTest, BadFilesAreRefusedAndKeepThePreviousNetwork) {
  const Net good = randomNet(Shape{896, 42, 32, 8, 1}, 1);
  ASSERT_EQ(eval::load_network(file("good.bin", netBytes(good, 1))), 1);
  const auto fens = testPositions(1);
  auto st = evaltest::newState();
  std::vector<int> before;
  for (const auto& fen : fens) before.push_back(freshScore(testutil::Board(fen).pos, *st));

  auto shaped = [](Shape s) { return netBytes(randomNet(s, 9), 1); };
  std::string full = netBytes(good, 1);
  std::string twoHeaders = netBytes(good, 2);
  struct Bad {
    const char* what;
    std::string bytes;
  };
  const Bad bad[] = {
      {"empty", ""},
      {"short header", full.substr(0, 10)},
      {"short floats", full.substr(0, full.size() - 4)},
      {"half the floats", full.substr(0, full.size() / 2)},
      {"H1 above 256", shaped(Shape{896, 42, 257, 8, 1})},
      {"H1 zero", shaped(Shape{896, 42, 0, 8, 1})},
      {"H2 zero", shaped(Shape{896, 42, 16, 0, 1})},
      {"G not 896 or 1792", shaped(Shape{1000, 42, 16, 8, 1})},
      {"X below 42", shaped(Shape{896, 41, 16, 8, 1})},
      {"L = 3", shaped(Shape{896, 42, 16, 8, 3})},
      {"L = 0", shaped(Shape{896, 42, 16, 8, 0})},
      {"second net missing", twoHeaders},
      {"second net wider", twoHeaders + netBytes(randomNet(Shape{896, 42, 64, 8, 1}, 3), 2)},
      {"second net on more inputs", twoHeaders + netBytes(randomNet(Shape{1792, 42, 32, 8, 1}, 3), 2)},
      {"second net with more outputs", twoHeaders + netBytes(randomNet(Shape{896, 42, 32, 8, 2}, 3), 2)},
      {"second net bad", twoHeaders + shaped(Shape{896, 40, 16, 8, 1})},
  };
  for (const auto& b : bad) {
    std::string why;
    EXPECT_EQ(eval::load_network(file("bad.bin", b.bytes), &why), 0) << b.what;
    EXPECT_FALSE(why.empty()) << b.what;
    EXPECT_EQ(eval::network_count, 1) << b.what;
    EXPECT_EQ(eval::networks[0].H1, 32) << b.what;
  }
  EXPECT_EQ(eval::load_network(testing::TempDir() + "/vesk_nn_no_such_file.bin"), 0);
  for (size_t i = 0; i < fens.size(); ++i) EXPECT_EQ(freshScore(testutil::Board(fens[i]).pos, *st), before[i]) << fens[i];
}

// A long-lived state that updates its saved first layer must agree with
// evaluations from scratch, down the line and after moves are taken back.
TEST_F(NnTest, IncrementalFirstLayerEqualsFromScratch) {
  Model model;
  model.slots.push_back(randomNet(Shape{1792, 42, 64, 16, 2}, 21));
  model.slots.push_back(randomNet(Shape{896, 42, 32, 8, 1}, 22));
  std::string bytes = netBytes(model.slots[0], 2) + netBytes(model.slots[1], 2);
  ASSERT_EQ(eval::load_network(file("inc.bin", bytes)), 1);

  auto live = evaltest::newState(), scratch = evaltest::newState();
  live->useCaches = false;
  evaltest::Rng rng(5);
  MoveEntry list[kMaxMoves + 1];
  int compared = 0;
  for (int game = 0; game < 16; ++game) {
    testutil::Board b(game % 2 ? kStartFen : "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -");
    const bool pinnedPly = game % 4 >= 2;  // any saved state, not only shallower ones
    for (int step = 0; step < 100; ++step) {
      int n = generateLegal(b.pos, list);
      if (n == 0) break;
      auto check = [&] {
        if (pinnedPly) b.history->ply = 3;
        int a = eval::nn_evaluate(b.pos, *live, false);
        int f = freshScore(b.pos, *scratch);
        ASSERT_NEAR(a, f, 1) << positionToFen(b.pos, false);
        ++compared;
      };
      check();
      if (rng.below(3) == 0) {
        // A short excursion, taken back.
        int depth = 1 + rng.below(3);
        int made = 0;
        for (; made < depth; ++made) {
          int m = generateLegal(b.pos, list);
          if (m == 0) break;
          makeMove(b.pos, list[rng.below(m)].move);
          check();
        }
        while (made--) {
          unmakeMove(b.pos);
          check();
        }
        n = generateLegal(b.pos, list);
      }
      makeMove(b.pos, list[rng.below(n)].move);
    }
  }
  EXPECT_GT(compared, 2500);

  // The saved sums are really reused: spoiling them shows in the next score
  // of the same side to move.
  testutil::Board b(kStartFen);
  b.history->ply = 3;
  eval::nn_evaluate(b.pos, *live, false);
  for (float& s : live->network->saved[kWhite].sums) s += 50.0f;
  makeMove(b.pos, makeMoveCode(12, 28));
  makeMove(b.pos, makeMoveCode(52, 36));
  b.history->ply = 3;
  EXPECT_NE(eval::nn_evaluate(b.pos, *live, false), freshScore(b.pos, *scratch));
}

TEST_F(NnTest, ReloadInvalidatesSavedStateAndCache) {
  Model a, b;
  a.slots.push_back(randomNet(Shape{896, 42, 16, 8, 1}, 31));
  b.slots.push_back(randomNet(Shape{896, 42, 16, 8, 1}, 32));
  ASSERT_EQ(eval::load_network(file("a.bin", netBytes(a.slots[0], 1))), 1);
  testutil::Board board("r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP1B1PPP/R2QKB1R w KQ -");
  board.history->ply = 4;  // deep enough for the cache
  auto st = evaltest::newState();
  EXPECT_NEAR(eval::nn_evaluate(board.pos, *st, false), a.score(board.pos), 1);
  EXPECT_NEAR(eval::nn_evaluate(board.pos, *st, false), a.score(board.pos), 1);
  ASSERT_EQ(eval::load_network(file("b.bin", netBytes(b.slots[0], 1))), 1);
  ASSERT_NE(a.score(board.pos), b.score(board.pos));
  EXPECT_NEAR(eval::nn_evaluate(board.pos, *st, false), b.score(board.pos), 1);
}

TEST_F(NnTest, InCheckGivesTheSentinel) {
  ASSERT_EQ(eval::load_network(file("n.bin", netBytes(randomNet(Shape{}, 2), 1))), 1);
  auto st = evaltest::newState();
  testutil::Board b("rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -");
  EXPECT_EQ(eval::nn_evaluate(b.pos, *st, true), -10001);
  st->useCaches = true;
  b.history->ply = 5;
  EXPECT_EQ(eval::nn_evaluate(b.pos, *st, true), -10001);
}

TEST_F(NnTest, ScoreMappingEnds) {
  struct Case {
    float b2;
    int expected;  // R = a(b2)
  };
  const Case cases[] = {{0.0f, 0}, {8.0f, 1266}, {7.7f, 1266}, {7.0f, 1166}, {-112.0f, -1166},
                        {-123.2f, -1266}, {-128.0f, -1266}, {0.31f, 51}, {-4.96f, -51}};
  const auto fens = testPositions(0);
  auto st = evaltest::newState();
  for (const auto& c : cases) {
    ASSERT_EQ(eval::load_network(file("const.bin", netBytes(constantNet(c.b2), 1))), 1);
    for (size_t i = 0; i < fens.size(); i += 7) {
      testutil::Board b(fens[i]);
      const auto& ps = b.pos.pieces;
      bool quartered = !(ps[0][kPawn] | ps[1][kPawn] | ps[0][kRook] | ps[1][kRook] | ps[0][kQueen] | ps[1][kQueen]) &&
                       b.pos.pieceMaterial[0] <= 3 && b.pos.pieceMaterial[1] <= 3;
      EXPECT_EQ(freshScore(b.pos, *st), quartered ? c.expected / 4 : c.expected) << c.b2 << " " << fens[i];
    }
  }
}

TEST_F(NnTest, MinorPieceEndingsAreDividedByFour) {
  ASSERT_EQ(eval::load_network(file("max.bin", netBytes(constantNet(9.0f), 1))), 1);
  auto st = evaltest::newState();
  struct Case {
    const char* fen;
    int expected;
  };
  for (const Case& c : {Case{"8/8/3k4/2n5/8/2B5/8/4K3 w - -", 316}, Case{"8/8/3k4/2n5/8/2B5/8/4K3 b - -", 316},
                        Case{"8/8/3k4/8/8/2N5/8/4K3 w - -", 316}, Case{"8/8/3k4/8/8/8/8/4K3 w - -", 316},
                        Case{"8/8/3k4/2n5/8/2BB4/8/4K3 w - -", 1266}, Case{"8/8/3k4/2n5/8/2R5/8/4K3 w - -", 1266},
                        Case{"8/8/3k4/2n5/8/2B5/4P3/4K3 w - -", 1266}, Case{"8/8/3k4/2q5/8/8/8/4K3 w - -", 1266}}) {
    testutil::Board b(c.fen);
    EXPECT_EQ(freshScore(b.pos, *st), c.expected) << c.fen;
  }
  // The same rule with a real network: a quarter of the plain score.
  Model model;
  model.slots.push_back(randomNet(Shape{}, 77));
  ASSERT_EQ(eval::load_network(file("r.bin", netBytes(model.slots[0], 1))), 1);
  for (const char* fen : {"8/8/3k4/2n5/8/2B5/8/4K3 w - -", "8/1b6/3k4/8/8/2B5/8/4K3 b - -"}) {
    testutil::Board b(fen);
    EXPECT_NEAR(freshScore(b.pos, *st), mapScore(model.R(b.pos)) / 4, 1) << fen;
  }
}

// With noise and contempt off the encoding is the same for a position and
// its colour-flipped twin, and for its left-right mirror (squares are seen
// from each king's wing), so the scores are identical.
TEST_F(NnTest, ColourFlippedAndMirroredPositionsScoreTheSame) {
  std::string bytes = netBytes(randomNet(Shape{1792, 42, 48, 8, 2}, 41), 2) + netBytes(randomNet(Shape{896, 42, 16, 8, 1}, 42), 2);
  ASSERT_EQ(eval::load_network(file("sym.bin", bytes)), 1);
  auto fens = testPositions(0);
  auto played = evaltest::playoutFens(13, 36, 60);
  fens.insert(fens.end(), played.begin(), played.end());
  ASSERT_GE(played.size(), 2000u);
  auto st = evaltest::newState();
  for (const auto& fen : fens) {
    testutil::Board a(fen), b(evaltest::flipFen(fen));
    testutil::Board c(evaltest::mirrorFilesFen(fen));
    const int score = freshScore(a.pos, *st);
    EXPECT_EQ(freshScore(b.pos, *st), score) << fen;
    EXPECT_EQ(freshScore(c.pos, *st), score) << fen;
  }
}

// The saved-accumulator update walks two feature lists in step, so every list
// must come out strictly increasing, for both wing layouts and both sides.
TEST_F(NnTest, FeatureListsAreSorted) {
  eval::NetworkSlot net;
  for (int G : {896, 1792}) {
    net.G = G;
    int lists = 0;
    for (const std::string& fen : evaltest::playoutFens(9, 24, 120)) {
      testutil::Board b(fen);
      uint16_t features[eval::kMaxFeatures];
      int n = eval::buildFeatureList(b.pos, net.G, features);
      ASSERT_GT(n, 2) << fen;
      for (int i = 1; i < n; ++i) ASSERT_LT(features[i - 1], features[i]) << fen << " G=" << G;
      ++lists;
    }
    EXPECT_GT(lists, 1000);
  }
}
