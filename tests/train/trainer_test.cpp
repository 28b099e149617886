// The trainer: its gradient against finite differences, a short training
// that lowers the loss, the exported file read by the engine's own loader
// scoring as the trainer's forward pass does, and checkpoints.
#include <cmath>
#include <memory>

#include "eval/nn.h"
#include "trainer.h"
#include "train_test_util.h"

using namespace board;
using namespace train;

namespace {

std::vector<PackedRecord> trainingRecords() {
  std::vector<PackedRecord> out;
  for (const PackedRecord& r : traintest::allRecords(traintest::sampleGames()))
    if (keepRecord(r, RecordFilter{})) out.push_back(r);
  return out;
}

std::vector<uint32_t> allIndices(size_t n) {
  std::vector<uint32_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint32_t>(i);
  return v;
}

double loss(const Network& net, const std::vector<PackedRecord>& records, const std::vector<uint32_t>& idx) {
  return meanLoss(net, records, idx.data(), idx.size(), 0.5f, 1);
}

// The analytic gradient of the mean loss.
std::vector<float> analyticGradient(const Network& net, const std::vector<PackedRecord>& records, LossKind kind) {
  std::vector<float> grad(net.p.size(), 0.0f);
  for (const PackedRecord& r : records)
    sampleLoss(net, r, 0.5f, 1.0f / static_cast<float>(records.size()), grad.data(), kind);
  return grad;
}

// The same loss in plain double precision, straight from the file layout:
// fine enough for finite differences with a step far below any kink.
double referenceLoss(const Network& net, const std::vector<Sample>& samples, const std::vector<double>& p,
                     LossKind kind = kSquaredError) {
  const Topology& t = net.top;
  const Layout& at = net.at;
  auto act = [](double x) { return x >= 0 ? x : x * eval::kLeakySlope; };
  double sum = 0;
  for (const Sample& s : samples) {
    std::vector<double> a1(static_cast<size_t>(t.H1)), a2(static_cast<size_t>(t.H2));
    for (int i = 0; i < t.H1; ++i) {
      double z = p[at.constants + eval::kBias1Constant];
      for (int f = 0; f < s.count; ++f) z += p[at.w1 + static_cast<size_t>(s.features[f]) * t.H1 + i];
      a1[i] = act(z);
    }
    for (int k = 0; k < t.H2; ++k) {
      double z = p[at.constants + eval::kBias2Constant];
      for (int i = 0; i < t.H1; ++i) z += p[at.w2 + static_cast<size_t>(k) * t.H1 + i] * a1[i];
      a2[k] = act(z);
    }
    double out[2] = {0, 0};
    for (int j = 0; j < t.L; ++j)
      for (int k = 0; k < t.H2; ++k) out[j] += p[at.w3 + static_cast<size_t>(j) * t.H2 + k] * a2[k];
    const double R = t.L == 1 ? out[0] : s.phase * out[0] + (1 - s.phase) * out[1];
    const double P = 1 / (1 + std::exp(-R));
    const double e = P - s.target;
    sum += kind == kSquaredError ? e * e : -(s.target * std::log(P) + (1 - s.target) * std::log(1 - P));
  }
  return sum / static_cast<double>(samples.size());
}

class TrainerTest : public ::testing::TestWithParam<Topology> {};

// Either loss: the trainer's gradient against central differences of the
// double-precision reference.
void checkGradient(const Topology& top, LossKind kind) {
  ASSERT_TRUE(traintest::setUpEngineOnce());
  const std::vector<PackedRecord> all = trainingRecords();
  ASSERT_GE(all.size(), 40u);
  const std::vector<PackedRecord> records(all.begin(), all.begin() + 40);
  Network net;
  initNetwork(net, top, 3);
  net.p[net.at.constants + eval::kBias1Constant] = 0.02f;
  net.p[net.at.constants + eval::kBias2Constant] = -0.01f;
  const std::vector<float> grad = analyticGradient(net, records, kind);
  std::vector<Sample> samples(records.size());
  for (size_t i = 0; i < records.size(); ++i) ASSERT_TRUE(prepareSample(records[i], net.top.G, 0.5f, samples[i]));
  const std::vector<double> p(net.p.begin(), net.p.end());
  EXPECT_NEAR(referenceLoss(net, samples, p), loss(net, records, allIndices(records.size())), 1e-6);
  // Every block: the W1 rows of the first position's inputs, W2, W3, both biases.
  std::vector<size_t> probes;
  for (int f = 0; f < samples[0].count; f += 4)
    for (int i = 0; i < net.top.H1; i += 3) probes.push_back(static_cast<size_t>(samples[0].features[f]) * net.top.H1 + i);
  for (size_t i = net.at.w2; i < net.at.outputs; i += 7) probes.push_back(i);
  probes.push_back(net.at.constants + eval::kBias1Constant);
  probes.push_back(net.at.constants + eval::kBias2Constant);
  constexpr double kStep = 1e-6;
  int compared = 0;
  for (size_t i : probes) {
    std::vector<double> plus = p, minus = p;
    plus[i] += kStep;
    minus[i] -= kStep;
    const double numeric =
        (referenceLoss(net, samples, plus, kind) - referenceLoss(net, samples, minus, kind)) / (2 * kStep);
    if (std::abs(numeric) < 1e-6 && std::abs(grad[i]) < 1e-6) continue;
    ++compared;
    EXPECT_NEAR(grad[i], numeric, 1e-3 * std::abs(numeric) + 1e-7) << "float " << i;
  }
  EXPECT_GT(compared, 20);
  // The unused floats get no gradient.
  for (size_t i = net.at.outputs; i < net.at.count; ++i) {
    if (i == net.at.constants + eval::kBias1Constant || i == net.at.constants + eval::kBias2Constant) continue;
    EXPECT_EQ(grad[i], 0.0f) << i;
  }
}

TEST_P(TrainerTest, GradientMatchesFiniteDifferences) { checkGradient(GetParam(), kSquaredError); }
TEST_P(TrainerTest, CrossEntropyGradientMatchesFiniteDifferences) { checkGradient(GetParam(), kCrossEntropy); }

// Training lowers the loss, and the engine, loading the exported file,
// scores every position within 1 cp of the trainer's own forward pass.
TEST_P(TrainerTest, ExportedNetworkScoresAsTheTrainerComputes) {
  ASSERT_TRUE(traintest::setUpEngineOnce());
  const std::vector<PackedRecord> records = trainingRecords();
  ASSERT_GE(records.size(), 100u);
  const std::vector<uint32_t> idx = allIndices(records.size());
  Checkpoint c;
  initNetwork(c.net, GetParam(), 5);
  c.m.assign(c.net.p.size(), 0.0f);
  c.v.assign(c.net.p.size(), 0.0f);
  GradientBuffers g;
  makeGradientBuffers(g, 2, c.net.p.size());
  AdamSettings adam;
  adam.lr = 0.01f;
  const double before = loss(c.net, records, idx);
  for (int step = 0; step < 30; ++step) trainStep(c, records, idx.data(), idx.size(), 0.5f, adam, g);
  EXPECT_LT(loss(c.net, records, idx), before * 0.9);

  testutil::TempDir dir;
  const std::string path = dir.file("nn.bin");
  std::string why;
  ASSERT_EQ(writeNetworkFile(path, c.net, why), 0) << why;
  ASSERT_EQ(eval::load_network(path, &why), 1) << why;
  ASSERT_EQ(eval::network_count, 1);
  auto state = std::make_unique<eval::EvalState>();
  state->useCaches = false;
  auto history = std::make_unique<UndoHistory>();
  int spread = 0;
  for (const PackedRecord& r : records) {
    Position pos{};
    pos.owner = history.get();
    ASSERT_TRUE(unpackPosition(r, pos));
    Sample s;
    ASSERT_TRUE(prepareSample(r, c.net.top.G, 0.5f, s));
    Activations a;
    const int trainer = eval::scoreFromOutput(pos, forward(c.net, s.features, s.count, s.phase, a));
    const int engine = eval::nn_evaluate(pos, *state, false);
    EXPECT_LE(std::abs(engine - trainer), 1) << positionToFen(pos, false);
    spread = std::max(spread, std::abs(trainer));
  }
  EXPECT_GT(spread, 20) << "a net that scores everything near 0 would pass too easily";
  eval::unloadNetworks();
}

INSTANTIATE_TEST_SUITE_P(Topologies, TrainerTest,
                         ::testing::Values(Topology{896, 42, 16, 8, 2}, Topology{1792, 42, 8, 32, 1}),
                         [](const auto& info) { return info.param.G == 896 ? std::string("Narrow") : std::string("Wide"); });

// Splitting a batch over threads changes only the order of float sums.
TEST(TrainerSteps, ThreadsShareABatchWithoutChangingTheStep) {
  ASSERT_TRUE(traintest::setUpEngineOnce());
  const std::vector<PackedRecord> records = trainingRecords();
  const std::vector<uint32_t> idx = allIndices(records.size());
  Checkpoint start;
  initNetwork(start.net, Topology{896, 42, 16, 8, 2}, 4);
  start.m.assign(start.net.p.size(), 0.0f);
  start.v.assign(start.net.p.size(), 0.0f);
  Checkpoint results[2] = {start, start};
  double losses[2];
  const int threads[2] = {1, 3};
  // A large epsilon keeps Adam's step continuous in a gradient near zero,
  // whose sign the order of the sums may flip.
  AdamSettings adam;
  adam.epsilon = 1e-3f;
  for (int run = 0; run < 2; ++run) {
    GradientBuffers g;
    makeGradientBuffers(g, threads[run], start.net.p.size());
    for (int step = 0; step < 3; ++step)
      losses[run] = trainStep(results[run], records, idx.data(), idx.size(), 0.5f, adam, g);
  }
  EXPECT_NEAR(losses[0], losses[1], 1e-9);
  EXPECT_EQ(results[1].step, 3u);
  int moved = 0;
  for (size_t i = 0; i < start.net.p.size(); ++i) {
    EXPECT_NEAR(results[0].net.p[i], results[1].net.p[i], 1e-5f) << i;
    moved += results[0].net.p[i] != start.net.p[i];
  }
  EXPECT_GT(moved, 1000) << "the steps changed the weights";
}

// Validation holds out whole games: no game has positions on both sides,
// both sides get some, and every filtered position is used once.
TEST(TrainerData, ValidationHoldsOutWholeGames) {
  ASSERT_TRUE(traintest::setUpEngineOnce());
  const std::vector<PlayedGame>& games = traintest::sampleGames();
  testutil::TempDir dir;
  ASSERT_TRUE(traintest::writeGames(dir.file("games.bin"), games, 3));
  TrainOptions o;
  o.dataFiles = {dir.file("games.bin"), dir.file("games.bin")};  // a file read twice: its games count twice
  o.validationShare = 0.4f;
  Dataset d;
  ASSERT_TRUE(loadTrainingData(o, d));
  // Game number of every kept record, counted as the files list them.
  std::vector<int> gameOf;
  for (int copy = 0; copy < 2; ++copy)
    for (size_t g = 0; g < games.size(); ++g)
      for (const PackedRecord& r : games[g].records)
        if (keepRecord(r, o.filter)) gameOf.push_back(copy * static_cast<int>(games.size()) + static_cast<int>(g));
  ASSERT_EQ(gameOf.size(), d.records.size());
  ASSERT_EQ(d.trainIndices.size() + d.validIndices.size(), d.records.size());
  ASSERT_FALSE(d.trainIndices.empty());
  ASSERT_FALSE(d.validIndices.empty());
  std::vector<int> side(2 * games.size(), -1);
  for (int which = 0; which < 2; ++which)
    for (uint32_t i : which ? d.validIndices : d.trainIndices) {
      int& s = side[static_cast<size_t>(gameOf[i])];
      EXPECT_TRUE(s == -1 || s == which) << "game " << gameOf[i] << " is split";
      s = which;
    }
}

// -hce_labels: every kept position carries the hand-crafted static score of
// its own position in place of its search score, the rest of the record kept.
TEST(TrainerData, HceLabelsAreTheStaticScoresOfTheirPositions) {
  ASSERT_TRUE(traintest::setUpEngineOnce());
  testutil::TempDir dir;
  ASSERT_TRUE(traintest::writeGames(dir.file("games.bin"), traintest::sampleGames(), 3));
  TrainOptions o;
  o.dataFiles = {dir.file("games.bin")};
  o.threads = 2;
  Dataset searched, relabelled;
  ASSERT_TRUE(loadTrainingData(o, searched));
  o.hceLabels = true;
  ASSERT_TRUE(loadTrainingData(o, relabelled));
  ASSERT_EQ(searched.records.size(), relabelled.records.size());
  auto st = std::make_unique<eval::EvalState>();
  st->useCaches = false;
  int differ = 0;
  for (size_t i = 0; i < relabelled.records.size(); ++i) {
    const PackedRecord& a = searched.records[i];
    const PackedRecord& b = relabelled.records[i];
    Position pos{};
    ASSERT_TRUE(unpackPosition(b, pos));
    EXPECT_EQ(b.score, eval::evaluate(pos, *st, 2, false, 0)) << "record " << i;
    EXPECT_EQ(a.result, b.result);
    EXPECT_EQ(a.ply, b.ply);
    differ += a.score != b.score;
  }
  EXPECT_GT(differ, 0) << "a search score is rarely the static one";
}

// Random walks: positions that are not in check, scored by the static
// evaluation, without a game result (their target is the score alone), the
// same for the same seed, and listed after the records they came from.
TEST(TrainerData, WalksAddStaticallyScoredPositionsWithoutAResult) {
  ASSERT_TRUE(traintest::setUpEngineOnce());
  std::vector<PackedRecord> records = trainingRecords();
  const size_t base = records.size();
  std::vector<uint32_t> idx = allIndices(base);
  WalkSettings s;
  s.perPosition = 3;
  s.maxPlies = 4;
  s.seed = 5;
  s.threads = 2;
  const size_t added = addHceWalks(records, idx, s);
  ASSERT_GT(added, base);
  ASSERT_EQ(records.size(), base + added);
  ASSERT_EQ(idx.size(), base + added);
  auto st = std::make_unique<eval::EvalState>();
  st->useCaches = false;
  for (size_t i = base; i < records.size(); ++i) {
    const PackedRecord& r = records[idx[i]];
    EXPECT_EQ(idx[i], i);
    EXPECT_EQ(r.result, kNoResult);
    Position pos{};
    ASSERT_TRUE(unpackPosition(r, pos));
    EXPECT_FALSE(inCheck(pos, pos.sideToMove));
    EXPECT_EQ(r.score, eval::evaluate(pos, *st, 2, false, 0));
    EXPECT_FLOAT_EQ(targetOf(r, 0.7f), 1.0f / (1.0f + std::exp(-0.006f * r.score)));
  }
  std::vector<PackedRecord> again = trainingRecords();
  std::vector<uint32_t> idx2 = allIndices(base);
  s.threads = 1;
  ASSERT_EQ(addHceWalks(again, idx2, s), added);
  EXPECT_TRUE(traintest::sameRecords(again, records)) << "the walks depend on the seed alone";
}

TEST(TrainerFiles, CheckpointRoundTripsAndRefusesAnotherTopology) {
  ASSERT_TRUE(traintest::setUpEngineOnce());
  Checkpoint c;
  initNetwork(c.net, Topology{896, 42, 8, 4, 2}, 9);
  c.m.assign(c.net.p.size(), 0.25f);
  c.v.assign(c.net.p.size(), 0.5f);
  c.epoch = 3;
  c.step = 77;
  testutil::TempDir dir;
  const std::string path = dir.file("state.ckpt");
  std::string why;
  ASSERT_EQ(writeCheckpoint(path, c, why), 0) << why;
  EXPECT_TRUE(isCheckpointFile(path));
  Checkpoint back;
  ASSERT_EQ(readCheckpoint(path, &c.net.top, back, why), 0) << why;
  EXPECT_EQ(back.net.p, c.net.p);
  EXPECT_EQ(back.m, c.m);
  EXPECT_EQ(back.v, c.v);
  EXPECT_EQ(back.epoch, 3);
  EXPECT_EQ(back.step, 77u);
  const Topology other{896, 42, 16, 4, 2};
  EXPECT_NE(readCheckpoint(path, &other, back, why), 0);
  EXPECT_NE(why.find("topology"), std::string::npos) << why;
  // One flipped byte fails the checksum.
  std::string bytes = traintest::fileBytes(path);
  bytes[100] = static_cast<char>(bytes[100] ^ 4);
  traintest::writeBytes(path, bytes);
  EXPECT_NE(readCheckpoint(path, &c.net.top, back, why), 0);
  EXPECT_NE(why.find("checksum"), std::string::npos) << why;
}

TEST(TrainerFiles, NetworkFileReadsBackThroughTheEngineLoader) {
  ASSERT_TRUE(traintest::setUpEngineOnce());
  Network net;
  initNetwork(net, Topology{1792, 50, 4, 3, 1}, 2);
  testutil::TempDir dir;
  std::string why;
  ASSERT_EQ(writeNetworkFile(dir.file("a.bin"), net, why), 0);
  Network back;
  ASSERT_EQ(readNetworkFile(dir.file("a.bin"), &net.top, back, why), 0) << why;
  EXPECT_EQ(back.p, net.p);
  const Topology wider{1792, 50, 5, 3, 1};
  EXPECT_NE(readNetworkFile(dir.file("a.bin"), &wider, back, why), 0);
  EXPECT_NE(why.find("topology"), std::string::npos) << why;
  EXPECT_EQ(eval::network_count, 0) << "reading for the trainer leaves the engine without a network";
}

TEST(TrainerTargets, TargetBlendsResultAndScore) {
  testutil::initTables();
  testutil::Board b;
  PackedRecord r = packPosition(b.pos, 0, 20, 0);
  r.result = kWhiteWins;
  EXPECT_FLOAT_EQ(targetOf(r, 1.0f), 1.0f);
  EXPECT_FLOAT_EQ(targetOf(r, 0.0f), 0.5f);
  EXPECT_FLOAT_EQ(targetOf(r, 0.5f), 0.75f);
  r.score = 200;
  EXPECT_NEAR(targetOf(r, 0.0f), 1 / (1 + std::exp(-1.2)), 1e-6);
}

TEST(TrainerTargets, FilterDropsChecksTacticsMatesAndEarlyPlies) {
  testutil::initTables();
  testutil::Board b;
  const PackedRecord quiet = packPosition(b.pos, 10, 30, 0);
  EXPECT_TRUE(keepRecord(quiet, RecordFilter{}));
  for (uint8_t flag : {kFlagInCheck, kFlagCapture, kFlagPromotion, kFlagMateScore}) {
    const PackedRecord r = packPosition(b.pos, 10, 30, flag);
    EXPECT_FALSE(keepRecord(r, RecordFilter{})) << int(flag);
    EXPECT_TRUE(keepRecord(r, RecordFilter{false, false, false, 0})) << int(flag);
  }
  EXPECT_FALSE(keepRecord(packPosition(b.pos, 10, 15, 0), RecordFilter{}));
  EXPECT_TRUE(keepRecord(packPosition(b.pos, 10, 16, 0), RecordFilter{}));
}

}  // namespace
