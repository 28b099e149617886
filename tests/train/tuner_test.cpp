// The evaluation tuner: the traced form against the engine's evaluation and
// its finite differences, the error gradient, K and weight recovery on
// synthetic data, the params file round trip and a short run of the tool.
#include <cmath>
#include <memory>
#include <random>

#include "eval/eval.h"
#include "protocol/options.h"
#include "search/search.h"
#include "tools/tools.h"
#include "train_test_util.h"
#include "tuner.h"

using namespace board;
using namespace train;

namespace {

struct WorkerFree {
  void operator()(TraceWorker* w) const { freeTraceWorker(w); }
};
using Worker = std::unique_ptr<TraceWorker, WorkerFree>;

void useDefaultWeights() {
  eval::eval_mode = eval::kHandCrafted;
  eval::init_eval_params(protocol::EngineOptions{}.personalityPercent, nullptr);
  search::applySelectivity(search::SearchSettings{});
}

// The Bratko-Kopec positions and every tenth self-play position, quiet.
std::vector<Position> samplePositions(TraceWorker& w) {
  std::vector<Position> out;
  FILE* f = fopen((std::string(VESK_TEST_DATA) + "/bratko-kopec.epd").c_str(), "r");
  char line[512];
  while (f && fgets(line, sizeof line, f)) {
    Position pos{};
    if (setFromFen(pos, tools::parse_epd(line).fen) == kFenRejected) continue;
    out.push_back(pos);
  }
  if (f) fclose(f);
  const std::vector<PackedRecord> records = traintest::allRecords(traintest::sampleGames());
  for (size_t i = 0; i < records.size(); i += 10) {
    Position pos{};
    if (unpackPosition(records[i], pos)) out.push_back(pos);
  }
  std::vector<Position> quiet;
  for (Position& pos : out)
    if (resolveQuiet(w, pos)) quiet.push_back(pos);
  return quiet;
}

}  // namespace

TEST(TunerTest, FreePieceSquareEntriesAreThe630WithoutDefaults) {
  int free = 0, all = 0;
  for (int i = 0; i < eval::kParamCount; ++i) {
    free += isFreePstEntry(i);
    all += tunable(i, kTuneAll);
  }
  EXPECT_EQ(free, 630);
  EXPECT_EQ(all, eval::kParamCount - 36);  // the four trapped weights and ttune are never read
  EXPECT_FALSE(isFreePstEntry(eval::kPstP1 + 12));     // given
  EXPECT_FALSE(isFreePstEntry(eval::kPstCP + 5 * 8));  // rank 6, given
  EXPECT_TRUE(isFreePstEntry(eval::kPstCP + 4 * 8));
  EXPECT_FALSE(isFreePstEntry(eval::kPstDP + 8));      // rank 2, always 0
  EXPECT_FALSE(isFreePstEntry(eval::kPstN1 + 63));     // h8, given
  EXPECT_TRUE(isFreePstEntry(eval::kPstN1 + 62));
  EXPECT_FALSE(isFreePstEntry(eval::kPstP2 + 60));     // rank 8
  EXPECT_TRUE(isFreePstEntry(eval::kPstQ2 + 63));
}

// The traced multipliers reproduce the engine's evaluation (up to the
// truncation of its fractional terms), and each is the engine's own finite
// difference for its weight, king danger and the drawish factor included.
TEST(TunerTest, TracedFormMatchesEngineAndItsFiniteDifferences) {
  ASSERT_TRUE(traintest::setUpEngineOnce());
  useDefaultWeights();
  Worker w(makeTraceWorker());
  TuneSet set;
  std::vector<Position> positions;  // those traced: the exact endings have no weights
  std::vector<int> engine;
  for (const Position& pos : samplePositions(*w)) {
    if (!tracePosition(*w, pos, 0.5f, set)) continue;
    positions.push_back(pos);
    engine.push_back(engineEvalWhite(*w, pos));
  }
  ASSERT_GE(set.positions.size(), 40u);
  const Weights weights = currentWeights();
  for (size_t i = 0; i < engine.size(); ++i)
    EXPECT_NEAR(modelEval(set, i, weights), engine[i], 6.0) << "position " << i;

  constexpr int kStep = 40;
  const int probes[] = {eval::kMtlKnight, eval::kMtlRook, eval::kPstN1 + 21, eval::kPstK + 6, eval::kKingDanger1,
                        eval::kPawnShield, eval::kPpawnEkdist + 3, eval::kKnightMobility + 5, eval::kStmBonus};
  int compared = 0;
  for (size_t i = 0; i < set.positions.size(); i += 3) {
    const TunePosition& p = set.positions[i];
    for (int index : probes) {
      double multiplier = 0;
      for (int k = 0; k < p.termCount; ++k)
        if (set.terms[p.firstTerm + k].index == index) multiplier = set.terms[p.firstTerm + k].multiplier;
      for (int half = 0; half < 2; ++half) {
        eval::EvalParam saved = eval::evalParams[index];
        auto shifted = [&](int by) {
          eval::EvalParam& e = eval::evalParams[index];
          e = saved;
          (half ? e.eg : e.mg) += static_cast<float>(by);
          e.packed = eval::pack(static_cast<int>(e.mg), static_cast<int>(e.eg));
          return engineEvalWhite(*w, positions[i]);
        };
        const double numeric = (shifted(kStep) - shifted(-kStep)) / (2.0 * kStep);
        eval::evalParams[index] = saved;
        const double S = modelEval(set, i, weights);
        const double f = S > 0 ? p.scaleWhite : p.scaleBlack;
        const double traced = f * (half ? p.phase : 1 - p.phase) * multiplier;
        // Truncations move the engine's score by a few centipawns at most.
        EXPECT_NEAR(numeric, traced, 8.0 / kStep) << "position " << i << " weight " << index << " half " << half;
        compared += multiplier != 0;
      }
    }
  }
  EXPECT_GT(compared, 60);
}

// The error gradient against central differences of the error itself.
TEST(TunerTest, ErrorGradientMatchesFiniteDifferences) {
  ASSERT_TRUE(traintest::setUpEngineOnce());
  useDefaultWeights();
  Worker w(makeTraceWorker());
  TuneSet set;
  const std::vector<Position> positions = samplePositions(*w);
  for (size_t i = 0; i < positions.size(); ++i) tracePosition(*w, positions[i], (i % 3) * 0.5f, set);
  ASSERT_GE(set.positions.size(), 40u);
  const Weights weights = currentWeights();
  constexpr double K = 0.006;
  std::vector<uint32_t> all(set.positions.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint32_t>(i);
  std::vector<double> gmg(eval::kParamCount, 0.0), geg(eval::kParamCount, 0.0);
  const double error = addGradient(set, weights, K, all.data(), all.size(), 2, gmg, geg);
  EXPECT_NEAR(error, meanError(set, weights, K, 1), 1e-12);
  int compared = 0;
  for (int index = 0; index < eval::kParamCount; index += 7) {
    for (int half = 0; half < 2; ++half) {
      constexpr double kStep = 1e-3;
      Weights plus = weights, minus = weights;
      (half ? plus.eg : plus.mg)[index] += kStep;
      (half ? minus.eg : minus.mg)[index] -= kStep;
      const double numeric = (meanError(set, plus, K, 1) - meanError(set, minus, K, 1)) / (2 * kStep);
      const double analytic = (half ? geg : gmg)[index];
      EXPECT_NEAR(analytic, numeric, 1e-4 * std::abs(numeric) + 1e-10) << index << " half " << half;
      compared += analytic != 0;
    }
  }
  EXPECT_GT(compared, 40);
}

namespace {

// Positions with a few random multipliers over a small block of weights,
// labelled with the expected result of the known weights (no noise).
TuneSet syntheticSet(const Weights& truth, double K, int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> pick(0, 15), terms(2, 6);
  std::uniform_real_distribution<float> multiplier(-2.0f, 2.0f), phase(0.0f, 1.0f);
  TuneSet set;
  for (int n = 0; n < count; ++n) {
    TunePosition p{set.terms.size(), 0, phase(rng), 1.0f, 0.5f, 0.0f};
    for (int k = terms(rng); k > 0; --k) {
      set.terms.push_back(WeightTerm{static_cast<uint16_t>(eval::kPstB1 + pick(rng)), multiplier(rng)});
      ++p.termCount;
    }
    set.positions.push_back(p);
    const double e = modelEval(set, set.positions.size() - 1, truth);
    set.positions.back().result = static_cast<float>(1 / (1 + std::exp(-K * e)));
  }
  return set;
}

Weights truthWeights() {
  Weights w;
  w.mg.assign(eval::kParamCount, 0.0);
  w.eg.assign(eval::kParamCount, 0.0);
  for (int i = 0; i < 16; ++i) {
    w.mg[eval::kPstB1 + i] = 30.0 * std::sin(i + 1.0) + 10;
    w.eg[eval::kPstB1 + i] = 40.0 * std::cos(2.0 * i) - 5;
  }
  return w;
}

}  // namespace

TEST(TunerTest, FitsKnownKAndRecoversKnownWeights) {
  const Weights truth = truthWeights();
  constexpr double kTrueK = 0.0072;
  const TuneSet set = syntheticSet(truth, kTrueK, 4000, 11);
  EXPECT_NEAR(fitK(set, truth, 2), kTrueK, 1e-5);

  // From a wrong start, Adam on the labels of the known weights comes back to them.
  Weights w = truth;
  for (int i = 0; i < 16; ++i) {
    w.mg[eval::kPstB1 + i] += (i % 2 ? 25 : -20);
    w.eg[eval::kPstB1 + i] += (i % 3 ? -30 : 15);
  }
  const double before = meanError(set, w, kTrueK, 2);
  TuneAdam adam;
  adam.lr = 2.0;
  AdamState state;
  std::vector<uint32_t> all(set.positions.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint32_t>(i);
  std::vector<double> gmg(eval::kParamCount), geg(eval::kParamCount);
  for (int step = 0; step < 600; ++step) {
    if (step == 400) adam.lr = 0.2;
    std::fill(gmg.begin(), gmg.end(), 0.0);
    std::fill(geg.begin(), geg.end(), 0.0);
    addGradient(set, w, kTrueK, all.data(), all.size(), 2, gmg, geg);
    adamStep(w, gmg, geg, kTuneFreePst, adam, state);
  }
  EXPECT_LT(meanError(set, w, kTrueK, 2), before * 1e-3);
  for (int i = 0; i < 16; ++i) {
    EXPECT_NEAR(w.mg[eval::kPstB1 + i], truth.mg[eval::kPstB1 + i], 1.0) << i;
    EXPECT_NEAR(w.eg[eval::kPstB1 + i], truth.eg[eval::kPstB1 + i], 1.0) << i;
  }
  // Entries outside the selection never move.
  EXPECT_EQ(w.mg[eval::kMtlPawn], 0.0);
}

// A fitted table written as a params file is read back by the engine's own
// loader unchanged, and writing it again gives the same bytes.
TEST(TunerTest, ParamsFileRoundTrip) {
  useDefaultWeights();
  Weights w = currentWeights();
  for (int i = 0; i < eval::kParamCount; i += 5) {
    w.mg[i] += 0.37 * (i % 11) - 1.6;
    w.eg[i] -= 0.55 * (i % 7) - 1.2;
  }
  w.mg[eval::kPstQ2 + 9] = -6.5;  // halves round away from zero
  w.eg[eval::kPstQ2 + 9] = 2.5;
  applyWeights(w);
  testutil::TempDir dir;
  const std::string first = dir.file("params.txt"), second = dir.file("again.txt");
  ASSERT_TRUE(eval::writeParamsFile(first.c_str()));
  {
    testutil::StdoutCapture quiet;
    eval::init_eval_params(protocol::EngineOptions{}.personalityPercent, first.c_str());
    EXPECT_EQ(quiet.finish(), "");  // no line reported
  }
  for (int i = 0; i < eval::kParamCount; ++i) {
    const long mg = std::lround(w.mg[i] < 0 ? w.mg[i] - 1e-9 : w.mg[i] + 1e-9);
    const long eg = std::lround(w.eg[i] < 0 ? w.eg[i] - 1e-9 : w.eg[i] + 1e-9);
    ASSERT_EQ(eval::evalParams[i].packed, eval::pack(static_cast<int>(mg), static_cast<int>(eg))) << i;
  }
  EXPECT_EQ(eval::mgOf(eval::evalParams[eval::kPstQ2 + 9].packed), -7);
  EXPECT_EQ(eval::egOf(eval::evalParams[eval::kPstQ2 + 9].packed), 3);
  ASSERT_TRUE(eval::writeParamsFile(second.c_str()));
  EXPECT_EQ(traintest::fileBytes(first), traintest::fileBytes(second));
  useDefaultWeights();
}

// The tool on EPD lines ("ce ...; gr ...;" and bare "gr") writes a whole
// params file the engine accepts, and reports the errors it promises.
TEST(TunerTest, ToolTunesFromEpdLines) {
  testutil::TempDir dir;
  std::string epd;
  FILE* f = fopen((std::string(VESK_TEST_DATA) + "/wac.epd").c_str(), "r");
  ASSERT_NE(f, nullptr);
  char line[512];
  for (int n = 0; fgets(line, sizeof line, f); ++n) {
    const std::string fen = tools::parse_epd(line).fen;
    epd += fen + (n % 2 ? " ce 35; gr 1.0;\n" : " gr 0.5;\n");
  }
  fclose(f);
  epd += "not a position gr 1.0;\n8/8/8/8/8/8/8/8 w - - gr 0;\n";
  traintest::writeBytes(dir.file("in.epd"), epd);
  std::string out;
  ASSERT_EQ(traintest::runTool({"tune", "-epd", "in.epd", "-epochs", "2", "-batch", "64", "-threads", "2", "-out",
                                "tuned.txt"},
                               dir.path(), out),
            0)
      << out;
  EXPECT_NE(out.find("2 lines without a sound position"), std::string::npos) << out;
  EXPECT_NE(out.find("epoch 2  training error"), std::string::npos) << out;
  EXPECT_NE(out.find("validation error"), std::string::npos) << out;
  useDefaultWeights();  // the table the file is read into
  testutil::StdoutCapture quiet;
  EXPECT_EQ(eval::read_params_file(dir.file("tuned.txt").c_str()), 0);
  EXPECT_EQ(quiet.finish(), "");
  useDefaultWeights();
}
