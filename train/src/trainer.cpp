#include "trainer.h"

#include <algorithm>
#include <barrier>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>

#include "eval/eval.h"
#include "platform/platform.h"
#include "lossplot.h"
#include "parallel.h"
#include "selfplay.h"
#include "walks.h"

namespace train {

using namespace board;

namespace {

inline float sigmoid(float x) { return 1.0f / (1.0f + std::exp(-x)); }

// Adam on the floats [begin, end) with the summed gradients, which are
// cleared for the next step.
void adamUpdate(Checkpoint& c, GradientBuffers& g, size_t begin, size_t end, const AdamSettings& s) {
  const double t = static_cast<double>(c.step);
  const float correction1 = static_cast<float>(1 - std::pow(static_cast<double>(s.beta1), t));
  const float correction2 = static_cast<float>(1 - std::pow(static_cast<double>(s.beta2), t));
  float* p = c.net.p.data();
  for (size_t i = begin; i < end; ++i) {
    float grad = 0;
    for (auto& buffer : g.perThread) {
      grad += buffer[i];
      buffer[i] = 0;
    }
    c.m[i] = s.beta1 * c.m[i] + (1 - s.beta1) * grad;
    c.v[i] = s.beta2 * c.v[i] + (1 - s.beta2) * grad * grad;
    const float step = (c.m[i] / correction1) / (std::sqrt(c.v[i] / correction2) + s.epsilon);
    p[i] -= s.lr * (step + s.weightDecay * p[i]);
    p[i] = std::clamp(p[i], -s.clip, s.clip);
  }
}

// ---------------------------------------------------------------- the run

void shuffle(std::vector<uint32_t>& v, uint64_t seed) {
  Rng rng{seed};
  for (size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[rng.next() % i]);
}

// The starting state: a checkpoint, a network file's weights, or fresh weights.
bool startingPoint(const TrainOptions& o, Checkpoint& c) {
  std::string why;
  if (o.resumeFile.empty()) {
    initNetwork(c.net, o.top, o.seed);
  } else if (isCheckpointFile(o.resumeFile)) {
    if (readCheckpoint(o.resumeFile, &o.top, c, why) != 0) {
      printf("error: cannot resume: %s\n", why.c_str());
      return false;
    }
    printf("resuming from %s after epoch %d\n", o.resumeFile.c_str(), c.epoch);
    return true;
  } else if (readNetworkFile(o.resumeFile, &o.top, c.net, why) != 0) {
    printf("error: cannot resume: %s\n", why.c_str());
    return false;
  } else {
    printf("starting from the weights of %s\n", o.resumeFile.c_str());
  }
  c.m.assign(c.net.p.size(), 0.0f);
  c.v.assign(c.net.p.size(), 0.0f);
  c.epoch = 0;
  c.step = 0;
  return true;
}

// An output that cannot be written should fail before the first epoch, not after it.
bool writable(const std::string& path) {
  const std::string probe = path + ".tmp";
  FILE* f = fopen(probe.c_str(), "wb");
  if (!f) {
    printf("error: cannot write %s\n", path.c_str());
    return false;
  }
  fclose(f);
  remove(probe.c_str());
  return true;
}

struct EpochResult {
  double trainLoss, validLoss, positionsPerSecond, seconds;
};

EpochResult runEpoch(const TrainOptions& o, const Dataset& d, Checkpoint& c, GradientBuffers& g,
                     const AdamSettings& adam) {
  std::vector<uint32_t> order = d.trainIndices;
  shuffle(order, o.seed ^ (0x9E3779B97F4A7C15ull * static_cast<uint64_t>(c.epoch + 1)));
  const size_t total = o.epochPositions ? std::min<size_t>(order.size(), o.epochPositions) : order.size();
  const double start = platform::nowSeconds();
  double nextReport = start + o.progressSeconds, lossSum = 0;
  size_t done = 0;
  while (done < total) {
    const size_t n = std::min<size_t>(static_cast<size_t>(o.batchSize), total - done);
    lossSum += trainStep(c, d.records, order.data() + done, n, o.lambda, adam, g, o.loss) * static_cast<double>(n);
    done += n;
    if (platform::nowSeconds() >= nextReport && done < total) {
      const double s = platform::nowSeconds() - start;
      printf("  epoch %d: %.0f%%  train loss %.6f  %.0f pos/s\n", c.epoch + 1, 100.0 * done / total, lossSum / done,
             done / s);
      fflush(stdout);
      nextReport += o.progressSeconds;
    }
  }
  const double seconds = platform::nowSeconds() - start;
  const int threads = static_cast<int>(g.perThread.size());
  const double valid = d.validIndices.empty() ? 0 : meanLoss(c.net, d.records, d.validIndices.data(),
                                                             d.validIndices.size(), o.lambda, threads);
  ++c.epoch;
  return {total ? lossSum / total : 0, valid, seconds > 0 ? total / seconds : 0, seconds};
}

// Network file, checkpoint and CSV line after an epoch; false when one cannot be written.
bool saveEpoch(const TrainOptions& o, const std::string& checkpoint, FILE* csv, const Checkpoint& c,
               const EpochResult& e, float lr, bool writeNetwork) {
  std::string why;
  if ((writeNetwork && writeNetworkFile(o.outFile, c.net, why) != 0) || writeCheckpoint(checkpoint, c, why) != 0) {
    printf("error: %s\n", why.c_str());
    return false;
  }
  fprintf(csv, "%d,%.8f,%.8f,%.8g,%.0f,%.2f\n", c.epoch, e.trainLoss, e.validLoss, lr, e.positionsPerSecond,
          e.seconds);
  fflush(csv);
  return true;
}

// The lowest validation loss of a loss CSV (infinity when it has none), so
// that a resumed run keeps the best epoch of the run before.
double bestValidationLoss(const std::string& csvPath) {
  double best = INFINITY;
  FILE* f = fopen(csvPath.c_str(), "r");
  if (!f) return best;
  char line[256];
  while (fgets(line, sizeof line, f)) {
    int epoch;
    double train, valid;
    if (sscanf(line, "%d,%lf,%lf", &epoch, &train, &valid) == 3 && std::isfinite(valid)) best = std::min(best, valid);
  }
  fclose(f);
  return best;
}

// Replaces every record's search score by the hand-crafted evaluation's
// static score (side to move's view, clamped into the record's range).
bool relabelByHce(std::vector<PackedRecord>& records, int threadsAsked) {
  std::string why;
  if (setUpEngine("", why) != 0) {
    printf("error: %s\n", why.c_str());
    return false;
  }
  const int n = threadsFor(threadsAsked);
  onThreads(n, [&](int t) {
    auto st = std::make_unique<eval::EvalState>();
    st->useCaches = false;
    Position pos{};
    for (size_t i = sliceStart(records.size(), t, n); i < sliceStart(records.size(), t + 1, n); ++i)
      if (unpackPosition(records[i], pos))
        records[i].score = static_cast<int16_t>(std::clamp(eval::evaluate(pos, *st, 2, false, 0), -32000, 32000));
  });
  printf("%llu positions scored by the hand-crafted evaluation\n", static_cast<unsigned long long>(records.size()));
  return true;
}

// Random walks from the training and the validation positions, each kept on
// its own side of the split.
bool addWalks(const TrainOptions& o, Dataset& d) {
  std::string why;
  if (setUpEngine("", why) != 0) {
    printf("error: %s\n", why.c_str());
    return false;
  }
  WalkSettings s = o.walks;
  s.seed = o.seed;
  s.threads = o.threads;
  const size_t train = addHceWalks(d.records, d.trainIndices, s);
  s.seed = o.seed ^ 0x5DEECE66Dull;
  const size_t valid = addHceWalks(d.records, d.validIndices, s);
  printf("%llu random-walk positions scored by the hand-crafted evaluation (%llu held out)\n",
         static_cast<unsigned long long>(train + valid), static_cast<unsigned long long>(valid));
  return true;
}

}  // namespace

// Reads every data file and keeps the records the filter passes; false
// after saying why when a file cannot be used or nothing is left.
bool loadTrainingData(const TrainOptions& o, Dataset& d) {
  std::vector<PackedRecord> all;
  for (const std::string& path : o.dataFiles) {
    DataScan scan;
    const size_t before = all.size();
    const int status = readDataFile(path, scan, &all);
    if (status != kDataOk) {
      printf("error: %s %s\n", path.c_str(), dataStatusText(status));
      return false;
    }
    for (const std::string& n : scan.notes) printf("warning: %s: %s\n", path.c_str(), n.c_str());
    if (all.size() == before) {
      printf("error: %s holds no whole chunk of positions\n", path.c_str());
      return false;
    }
    printf("%s: %llu positions in %llu games\n", path.c_str(), static_cast<unsigned long long>(scan.records),
           static_cast<unsigned long long>(scan.games));
  }
  // Whole games are held out, so that validation measures positions of
  // games the net has not seen.
  Position pos{};
  uint64_t unsound = 0, games = 0, heldGames = 0;
  std::vector<uint8_t> held;
  int lastPly = -1;
  bool holdThisGame = false;
  for (const PackedRecord& r : all) {
    if (startsGame(r, lastPly)) {
      ++games;
      holdThisGame = o.validationShare > 0 && heldOutGame(games, o.seed, o.validationShare);
      heldGames += holdThisGame;
    }
    lastPly = r.ply;
    if (!keepRecord(r, o.filter)) continue;
    if (!unpackPosition(r, pos)) {
      ++unsound;
      continue;
    }
    d.records.push_back(r);
    held.push_back(holdThisGame);
  }
  if (unsound) printf("warning: %llu records hold no sound position; skipped\n", static_cast<unsigned long long>(unsound));
  printf("%llu of %llu positions pass the filter\n", static_cast<unsigned long long>(d.records.size()),
         static_cast<unsigned long long>(all.size()));
  if (d.records.size() < 2) {
    printf("error: too few positions to train on\n");
    return false;
  }
  if (o.hceLabels && !relabelByHce(d.records, o.threads)) return false;
  for (size_t i = 0; i < d.records.size(); ++i) (held[i] ? d.validIndices : d.trainIndices).push_back(static_cast<uint32_t>(i));
  if (o.validationShare > 0 && (d.validIndices.empty() || d.trainIndices.empty())) {
    // Too few games to split them: hold out single positions instead.
    std::vector<uint32_t> order(d.records.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    shuffle(order, o.seed);
    size_t valid = static_cast<size_t>(std::llround(o.validationShare * static_cast<double>(order.size())));
    valid = std::clamp<size_t>(valid, 1, order.size() - 1);
    d.validIndices.assign(order.begin(), order.begin() + static_cast<long>(valid));
    d.trainIndices.assign(order.begin() + static_cast<long>(valid), order.end());
    printf("note: %llu games are too few to hold out whole ones; single positions held out\n",
           static_cast<unsigned long long>(games));
  } else {
    printf("%llu games, %llu of them held out\n", static_cast<unsigned long long>(games),
           static_cast<unsigned long long>(heldGames));
  }
  if (o.walks.perPosition > 0 && !addWalks(o, d)) return false;
  return true;
}

bool keepRecord(const PackedRecord& r, const RecordFilter& f) {
  if (f.skipInCheck && (r.flags & kFlagInCheck)) return false;
  if (f.skipTactical && (r.flags & (kFlagCapture | kFlagPromotion))) return false;
  if (f.skipMate && (r.flags & kFlagMateScore)) return false;
  return r.ply >= f.minPly;
}

float targetOf(const PackedRecord& r, float lambda) {
  const float fromScore = sigmoid(kScoreToLogit * static_cast<float>(r.score));
  if (r.result == kNoResult) return fromScore;
  return lambda * resultForMover(r) + (1 - lambda) * fromScore;
}

bool prepareSample(const PackedRecord& r, int squareInputs, float lambda, Sample& s) {
  Position pos{};
  if (!unpackPosition(r, pos)) return false;
  s.count = eval::buildFeatureList(pos, squareInputs, s.features);
  s.phase = eval::networkPhase(pos);
  s.target = targetOf(r, lambda);
  return true;
}

double sampleLoss(const Network& net, const PackedRecord& r, float lambda, float gradScale, float* grad,
                  LossKind loss) {
  Sample s;
  Activations a;
  if (!prepareSample(r, net.top.G, lambda, s)) return 0;
  const float P = sigmoid(forward(net, s.features, s.count, s.phase, a));
  const float error = P - s.target;
  if (grad) {
    // d/dR of the cross-entropy is P - target: no sigmoid slope to vanish
    // on decided positions.
    const float dR = loss == kCrossEntropy ? error : 2 * error * P * (1 - P);
    backward(net, s.features, s.count, s.phase, a, dR * gradScale, grad);
  }
  return static_cast<double>(error) * error;
}

void makeGradientBuffers(GradientBuffers& g, int threads, size_t floats) {
  g.perThread.assign(static_cast<size_t>(std::max(1, threads)), std::vector<float>(floats, 0.0f));
}

double trainStep(Checkpoint& c, const std::vector<PackedRecord>& records, const uint32_t* indices, size_t count,
                 float lambda, const AdamSettings& adam, GradientBuffers& g, LossKind loss) {
  const int n = static_cast<int>(g.perThread.size());
  std::vector<double> losses(static_cast<size_t>(n), 0.0);
  std::barrier sync(n);
  ++c.step;
  const Layout& at = c.net.at;
  const float scale = 1.0f / static_cast<float>(count);
  onThreads(n, [&](int t) {
    // Each thread its share of the batch into its own buffer...
    float* grad = g.perThread[static_cast<size_t>(t)].data();
    for (size_t i = sliceStart(count, t, n); i < sliceStart(count, t + 1, n); ++i)
      losses[static_cast<size_t>(t)] += sampleLoss(c.net, records[indices[i]], lambda, scale, grad, loss);
    sync.arrive_and_wait();
    // ...then its share of the weights (the unused output floats and
    // constants stay as they are).
    adamUpdate(c, g, sliceStart(at.outputs, t, n), sliceStart(at.outputs, t + 1, n), adam);
    if (t == 0) {
      adamUpdate(c, g, at.constants + eval::kBias1Constant, at.constants + eval::kBias1Constant + 1, adam);
      adamUpdate(c, g, at.constants + eval::kBias2Constant, at.constants + eval::kBias2Constant + 1, adam);
    }
  });
  double sum = 0;
  for (double l : losses) sum += l;
  return count ? sum / static_cast<double>(count) : 0;
}

double meanLoss(const Network& net, const std::vector<PackedRecord>& records, const uint32_t* indices, size_t count,
                float lambda, int threads) {
  const int n = std::max(1, threads);
  std::vector<double> losses(static_cast<size_t>(n), 0.0);
  onThreads(n, [&](int t) {
    for (size_t i = sliceStart(count, t, n); i < sliceStart(count, t + 1, n); ++i)
      losses[static_cast<size_t>(t)] += sampleLoss(net, records[indices[i]], lambda, 0, nullptr);
  });
  double sum = 0;
  for (double l : losses) sum += l;
  return count ? sum / static_cast<double>(count) : 0;
}

int runTraining(const TrainOptions& o) {
  if (const std::string problem = topologyProblem(o.top); !problem.empty()) {
    printf("error: %s\n", problem.c_str());
    return 1;
  }
  if (o.dataFiles.empty()) {
    printf("error: no data file given (-data FILE)\n");
    return 1;
  }
  Dataset d;
  Checkpoint c;
  if (!loadTrainingData(o, d) || !startingPoint(o, c)) return 1;
  const std::string checkpoint = o.checkpointFile.empty() ? o.outFile + ".ckpt" : o.checkpointFile;
  const std::string csvPath = o.csvFile.empty() ? o.outFile + ".csv" : o.csvFile;
  if (c.epoch >= o.epochs) {
    printf("%s has had its %d epochs already (-epochs sets more)\n", o.resumeFile.c_str(), c.epoch);
    return 0;
  }
  if (!writable(o.outFile) || !writable(checkpoint)) return 1;
  const bool appendCsv = c.epoch > 0;
  FILE* csv = fopen(csvPath.c_str(), appendCsv ? "a" : "w");
  if (!csv) {
    printf("error: cannot write %s\n", csvPath.c_str());
    return 1;
  }
  if (!appendCsv) fprintf(csv, "epoch,train_loss,validation_loss,learning_rate,positions_per_second,seconds\n");

  const int threads = threadsFor(o.threads);
  GradientBuffers g;
  makeGradientBuffers(g, threads, c.net.p.size());
  printf("training %s on %llu positions (%llu held out), %d threads, batch %d\n", topologyText(c.net.top).c_str(),
         static_cast<unsigned long long>(d.trainIndices.size()), static_cast<unsigned long long>(d.validIndices.size()),
         threads, o.batchSize);
  fflush(stdout);
  bool ok = true;
  const bool keepBest = o.keepBest && !d.validIndices.empty();
  double best = keepBest && appendCsv ? bestValidationLoss(csvPath) : INFINITY;
  while (ok && c.epoch < o.epochs) {
    AdamSettings adam = o.adam;
    adam.lr = o.adam.lr * std::pow(o.lrDrop, static_cast<float>(c.epoch / std::max(1, o.lrDropEvery)));
    const EpochResult e = runEpoch(o, d, c, g, adam);
    printf("epoch %d  train loss %.6f  validation loss %.6f  lr %.3g  %.0f pos/s  %.1f s\n", c.epoch, e.trainLoss,
           e.validLoss, adam.lr, e.positionsPerSecond, e.seconds);
    fflush(stdout);
    const bool improved = e.validLoss < best;
    if (keepBest && improved) printf("  lowest validation loss so far: network written to %s\n", o.outFile.c_str());
    if (improved) best = e.validLoss;
    ok = saveEpoch(o, checkpoint, csv, c, e, adam.lr, !keepBest || improved);
  }
  fclose(csv);
  // The plot is a convenience: a failure to draw it is said, not fatal.
  const std::string plotPath = o.outFile + ".png";
  if (c.epoch > 0 && !plotLossCsv(csvPath, plotPath)) printf("note: no loss plot written to %s\n", plotPath.c_str());
  if (ok) printf("network written to %s (loss plot %s)\n", o.outFile.c_str(), plotPath.c_str());
  return ok ? 0 : 1;
}

int runLossReport(const LossReportOptions& o) {
  if (o.dataFiles.empty()) {
    printf("error: no data file given (-data FILE)\n");
    return 1;
  }
  Network net;
  std::string why;
  if (o.useHce ? setUpEngine("", why) != 0 : readNetworkFile(o.networkFile, nullptr, net, why) != 0) {
    printf("error: %s\n", why.c_str());
    return 1;
  }
  TrainOptions data;
  data.dataFiles = o.dataFiles;
  data.filter = o.filter;
  data.validationShare = 0;
  Dataset d;
  if (!loadTrainingData(data, d)) return 1;
  const int n = threadsFor(o.threads);
  const std::vector<uint32_t>& idx = d.trainIndices;
  std::vector<double> squared(static_cast<size_t>(n), 0.0), crossEntropy(static_cast<size_t>(n), 0.0);
  onThreads(n, [&](int t) {
    // The hand-crafted score goes through the same logistic as a search score in the target.
    std::unique_ptr<eval::EvalState> st;
    if (o.useHce) {
      st = std::make_unique<eval::EvalState>();
      st->useCaches = false;
    }
    Sample s;
    Activations a;
    Position pos{};
    for (size_t i = sliceStart(idx.size(), t, n); i < sliceStart(idx.size(), t + 1, n); ++i) {
      const PackedRecord& r = d.records[idx[i]];
      float R;
      if (o.useHce) {
        if (!unpackPosition(r, pos)) continue;
        s.target = targetOf(r, o.lambda);
        R = kScoreToLogit * static_cast<float>(eval::evaluate(pos, *st, 2, false, 0));
      } else {
        if (!prepareSample(r, net.top.G, o.lambda, s)) continue;
        R = forward(net, s.features, s.count, s.phase, a);
      }
      const double P = std::clamp<double>(sigmoid(R), 1e-7, 1 - 1e-7);
      squared[static_cast<size_t>(t)] += (P - s.target) * (P - s.target);
      crossEntropy[static_cast<size_t>(t)] -= s.target * std::log(P) + (1 - s.target) * std::log(1 - P);
    }
  });
  double se = 0, ce = 0;
  for (int t = 0; t < n; ++t) {
    se += squared[static_cast<size_t>(t)];
    ce += crossEntropy[static_cast<size_t>(t)];
  }
  const double count = static_cast<double>(std::max<size_t>(1, idx.size()));
  printf("%s on %llu positions, lambda %.2f: squared error %.6f  cross-entropy %.6f\n",
         o.useHce ? "hand-crafted evaluation" : o.networkFile.c_str(), static_cast<unsigned long long>(idx.size()),
         o.lambda, se / count, ce / count);
  return 0;
}

int runExport(const std::string& checkpointFile, const std::string& outFile) {
  Checkpoint c;
  std::string why;
  if (readCheckpoint(checkpointFile, nullptr, c, why) != 0 || writeNetworkFile(outFile, c.net, why) != 0) {
    printf("error: %s\n", why.c_str());
    return 1;
  }
  printf("%s (%s, after epoch %d) written to %s\n", checkpointFile.c_str(), topologyText(c.net.top).c_str(), c.epoch,
         outFile.c_str());
  return 0;
}

}  // namespace train
