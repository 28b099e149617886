#include "tuner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <thread>

#include "eval/eval.h"
#include "search/search.h"
#include "parallel.h"
#include "selfplay.h"
#include "tools/tools.h"

namespace train {

using namespace board;

namespace {

using eval::kParamCount;

// K is searched on this range (per centipawn); 0.006 is the usual scale.
constexpr double kLowestK = 0.0005, kHighestK = 0.03;
constexpr int kKSearchSteps = 40;
constexpr double kGoldenRatio = 0.6180339887498949;
// Tracing runs in slices of this many records per thread turn.
constexpr size_t kTraceSlice = 4096;
// Fitted weights stay within a packed half.
constexpr double kWeightLimit = 32000;

inline double sigmoid(double x) { return 1.0 / (1.0 + std::exp(-x)); }

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The traced sum before the drawish factor: (1 - phase) x mg + phase x eg.
inline double blendedSum(const TuneSet& set, const TunePosition& p, const Weights& w) {
  double mg = 0, eg = 0;
  const WeightTerm* t = set.terms.data() + p.firstTerm;
  for (int k = 0; k < p.termCount; ++k) {
    mg += t[k].multiplier * w.mg[t[k].index];
    eg += t[k].multiplier * w.eg[t[k].index];
  }
  return (1.0 - p.phase) * mg + p.phase * eg;
}

inline double scaleOf(const TunePosition& p, double S) { return S > 0 ? p.scaleWhite : S < 0 ? p.scaleBlack : 1.0; }

}  // namespace

bool isFreePstEntry(int index) {
  using namespace eval;
  if (index < kPstCP || index >= kParamCount || (index >= kPstK && index < kPstP2)) return false;
  const int table = index < kPstP2 ? kPstCP + (index - kPstCP) / 64 * 64 : kPstP2 + (index - kPstP2) / 64 * 64;
  const int sq = index - table, rank = sq / 8;
  if (table == kPstCP) return rank != 0 && rank != 7 && rank != 5;  // rank 6 is given
  if (table == kPstDP) return rank > 1 && rank != 7 && rank != 4;   // rank 5 is given
  if (table == kPstN1) return sq != 56 && sq != 63;                 // a8 and h8 are given
  if (table == kPstP2) return rank != 0 && rank != 7;
  return true;
}

bool tunable(int index, TuneSelection s) {
  using namespace eval;
  if (s == kTuneFreePst) return isFreePstEntry(index);
  const bool unread = index == kKnightTrapped || index == kBishopTrapped || index == kRookTrapped ||
                      index == kQueenTrapped || (index >= kTtune && index < kPstP1);
  return !unread && index < kParamCount;
}

Weights currentWeights() {
  Weights w;
  w.mg.resize(kParamCount);
  w.eg.resize(kParamCount);
  for (int i = 0; i < kParamCount; ++i) {
    w.mg[i] = eval::evalParams[i].mg;
    w.eg[i] = eval::evalParams[i].eg;
  }
  return w;
}

void applyWeights(const Weights& w) {
  for (int i = 0; i < kParamCount; ++i) {
    eval::EvalParam& e = eval::evalParams[i];
    e.mg = static_cast<float>(w.mg[i]);
    e.eg = static_cast<float>(w.eg[i]);
    e.packed = eval::pack(static_cast<int>(std::lround(w.mg[i])), static_cast<int>(std::lround(w.eg[i])));
  }
}

double modelEval(const TuneSet& set, size_t i, const Weights& w) {
  const TunePosition& p = set.positions[i];
  const double S = blendedSum(set, p, w);
  return scaleOf(p, S) * S;
}

double meanError(const TuneSet& set, const Weights& w, double K, int threads) {
  const size_t n = set.positions.size();
  if (n == 0) return 0;
  const int nt = std::max(1, threads);
  std::vector<double> sums(static_cast<size_t>(nt), 0.0);
  onThreads(nt, [&](int t) {
    double sum = 0;
    for (size_t i = sliceStart(n, t, nt); i < sliceStart(n, t + 1, nt); ++i) {
      const double d = sigmoid(K * modelEval(set, i, w)) - set.positions[i].result;
      sum += d * d;
    }
    sums[static_cast<size_t>(t)] = sum;
  });
  double total = 0;
  for (double s : sums) total += s;
  return total / static_cast<double>(n);
}

double addGradient(const TuneSet& set, const Weights& w, double K, const uint32_t* indices, size_t count,
                   int threads, std::vector<double>& gmg, std::vector<double>& geg) {
  if (count == 0) return 0;
  const int nt = std::max(1, threads);
  std::vector<std::vector<double>> local(static_cast<size_t>(nt), std::vector<double>(2 * kParamCount, 0.0));
  std::vector<double> errors(static_cast<size_t>(nt), 0.0);
  onThreads(nt, [&](int t) {
    std::vector<double>& g = local[static_cast<size_t>(t)];
    double error = 0;
    for (size_t k = sliceStart(count, t, nt); k < sliceStart(count, t + 1, nt); ++k) {
      const TunePosition& p = set.positions[indices[k]];
      const double S = blendedSum(set, p, w);
      const double f = scaleOf(p, S);
      const double q = sigmoid(K * f * S);
      const double d = q - p.result;
      error += d * d;
      // d/dweight of (q - r)^2 = 2 (q - r) q (1 - q) K f dS/dweight.
      const double common = 2 * d * q * (1 - q) * K * f;
      const double cmg = common * (1.0 - p.phase), ceg = common * p.phase;
      const WeightTerm* term = set.terms.data() + p.firstTerm;
      for (int j = 0; j < p.termCount; ++j) {
        g[term[j].index] += cmg * term[j].multiplier;
        g[kParamCount + term[j].index] += ceg * term[j].multiplier;
      }
    }
    errors[static_cast<size_t>(t)] = error;
  });
  const double inv = 1.0 / static_cast<double>(count);
  double error = 0;
  for (int t = 0; t < nt; ++t) {
    const std::vector<double>& g = local[static_cast<size_t>(t)];
    for (int i = 0; i < kParamCount; ++i) {
      gmg[i] += g[i] * inv;
      geg[i] += g[kParamCount + i] * inv;
    }
    error += errors[static_cast<size_t>(t)];
  }
  return error * inv;
}

double fitK(const TuneSet& set, const Weights& w, int threads) {
  // Golden-section search: the error is unimodal in K over this range.
  double a = kLowestK, b = kHighestK;
  double x1 = b - kGoldenRatio * (b - a), x2 = a + kGoldenRatio * (b - a);
  double e1 = meanError(set, w, x1, threads), e2 = meanError(set, w, x2, threads);
  for (int i = 0; i < kKSearchSteps; ++i) {
    if (e1 < e2) {
      b = x2;
      x2 = x1;
      e2 = e1;
      x1 = b - kGoldenRatio * (b - a);
      e1 = meanError(set, w, x1, threads);
    } else {
      a = x1;
      x1 = x2;
      e1 = e2;
      x2 = a + kGoldenRatio * (b - a);
      e2 = meanError(set, w, x2, threads);
    }
  }
  return (a + b) / 2;
}

void adamStep(Weights& w, const std::vector<double>& gmg, const std::vector<double>& geg, TuneSelection s,
              const TuneAdam& a, AdamState& state) {
  if (state.m.empty()) {
    state.m.assign(2 * kParamCount, 0.0);
    state.v.assign(2 * kParamCount, 0.0);
  }
  ++state.step;
  const double c1 = 1 - std::pow(a.beta1, static_cast<double>(state.step));
  const double c2 = 1 - std::pow(a.beta2, static_cast<double>(state.step));
  for (int i = 0; i < kParamCount; ++i) {
    if (!tunable(i, s)) continue;
    for (int half = 0; half < 2; ++half) {
      const size_t k = static_cast<size_t>(half * kParamCount + i);
      const double g = half ? geg[i] : gmg[i];
      state.m[k] = a.beta1 * state.m[k] + (1 - a.beta1) * g;
      state.v[k] = a.beta2 * state.v[k] + (1 - a.beta2) * g * g;
      double& x = half ? w.eg[i] : w.mg[i];
      x -= a.lr * (state.m[k] / c1) / (std::sqrt(state.v[k] / c2) + a.epsilon);
      x = std::clamp(x, -kWeightLimit, kWeightLimit);
    }
  }
}

namespace {

// A labelled position before resolution; game numbers decide the split.
struct Labelled {
  Position pos;
  float result;  // White's
  uint64_t game;
};

bool heldOut(uint64_t game, const TuneOptions& o) { return heldOutGame(game, o.seed, o.validationShare); }

// Records of the data files that pass the filter; a new game starts where the ply falls.
int loadRecords(const TuneOptions& o, std::vector<Labelled>& out, uint64_t& games) {
  for (const std::string& path : o.dataFiles) {
    DataScan scan;
    std::vector<PackedRecord> records;
    const int status = readDataFile(path, scan, &records);
    if (status != kDataOk) {
      printf("error: %s %s\n", path.c_str(), dataStatusText(status));
      return -1;
    }
    for (const std::string& note : scan.notes) printf("warning: %s: %s\n", path.c_str(), note.c_str());
    int lastPly = -1;
    for (const PackedRecord& r : records) {
      if (startsGame(r, lastPly)) ++games;
      lastPly = r.ply;
      if (!keepRecord(r, o.filter)) continue;
      Labelled l{};
      if (!unpackPosition(r, l.pos)) continue;
      l.result = r.result == kWhiteWins ? 1.0f : r.result == kBlackWins ? 0.0f : 0.5f;
      l.game = games;
      out.push_back(l);
    }
  }
  return 0;
}

// EPD lines with "gr" (the side to move's result); each line its own game.
int loadEpd(const TuneOptions& o, std::vector<Labelled>& out, uint64_t& games) {
  for (const std::string& path : o.epdFiles) {
    FILE* f = fopen(path.c_str(), "r");
    if (!f) {
      printf("error: %s cannot be opened\n", path.c_str());
      return -1;
    }
    std::string line;
    uint64_t lineNo = 0, skipped = 0;
    for (int c = 0; c != EOF;) {
      line.clear();
      while ((c = fgetc(f)) != EOF && c != '\n')
        if (c != '\r') line += static_cast<char>(c);
      if (line.empty() && c == EOF) break;
      ++lineNo;
      if (line.empty() || line[0] == ' ' || line[0] == '#' || line[0] == ';') continue;
      const tools::EpdRecord r = tools::parse_epd(line);
      char* end = nullptr;
      const double gr = r.gr.empty() ? -1 : strtod(r.gr.c_str(), &end);
      Labelled l{};
      if (r.gr.empty() || *end || gr < 0 || gr > 1 || setFromFen(l.pos, r.fen) == kFenRejected) {
        ++skipped;
        continue;
      }
      l.result = static_cast<float>(l.pos.sideToMove == kWhite ? gr : 1 - gr);
      l.game = ++games;
      out.push_back(l);
    }
    fclose(f);
    if (skipped) printf("warning: %s: %llu lines without a sound position and \"gr\" skipped\n", path.c_str(),
                        static_cast<unsigned long long>(skipped));
  }
  return 0;
}

// Resolves and traces every position on the threads; slices keep the file order.
void buildSets(const std::vector<Labelled>& in, const TuneOptions& o, int threads, TuneSet& trainSet,
               TuneSet& validSet, uint64_t& dropped) {
  const size_t slices = (in.size() + kTraceSlice - 1) / kTraceSlice;
  std::vector<TuneSet> trainParts(slices), validParts(slices);
  std::vector<uint64_t> droppedBy(static_cast<size_t>(threads), 0);
  std::atomic<size_t> next{0};
  onThreads(threads, [&](int t) {
    TraceWorker* w = makeTraceWorker();
    for (size_t s; (s = next.fetch_add(1)) < slices;) {
      for (size_t i = s * kTraceSlice; i < std::min(in.size(), (s + 1) * kTraceSlice); ++i) {
        Position pos = in[i].pos;
        TuneSet& to = heldOut(in[i].game, o) ? validParts[s] : trainParts[s];
        if (!resolveQuiet(*w, pos) || !tracePosition(*w, pos, in[i].result, to)) ++droppedBy[static_cast<size_t>(t)];
      }
    }
    freeTraceWorker(w);
  });
  auto join = [](std::vector<TuneSet>& parts, TuneSet& out) {
    for (TuneSet& part : parts) {
      const uint64_t base = out.terms.size();
      for (TunePosition p : part.positions) {
        p.firstTerm += base;
        out.positions.push_back(p);
      }
      out.terms.insert(out.terms.end(), part.terms.begin(), part.terms.end());
      part = TuneSet{};
    }
  };
  join(trainParts, trainSet);
  join(validParts, validSet);
  for (uint64_t d : droppedBy) dropped += d;
}

// The gradient of (pull / 2) x the squared distance from the starting
// weights: a few thousand games label the data, and without it the fit
// learns their results rather than the weights.
void addPull(const Weights& w, const Weights& start, double pull, std::vector<double>& gmg,
             std::vector<double>& geg) {
  if (pull <= 0) return;
  for (int i = 0; i < kParamCount; ++i) {
    gmg[i] += pull * (w.mg[i] - start.mg[i]);
    geg[i] += pull * (w.eg[i] - start.eg[i]);
  }
}

bool writeWeights(const Weights& w, const std::string& path) {
  applyWeights(w);
  return eval::writeParamsFile(path.c_str());
}

}  // namespace

int runTuning(const TuneOptions& o) {
  const auto began = std::chrono::steady_clock::now();
  std::string why;
  if (setUpEngine("", why) != 0) {
    printf("error: %s\n", why.c_str());
    return 1;
  }
  search::ttSetEnabled(false);
  search::applySelectivity(search::SearchSettings{});
  if (!o.startFile.empty()) {
    if (FILE* f = fopen(o.startFile.c_str(), "r")) {
      fclose(f);
    } else {
      printf("error: %s cannot be opened\n", o.startFile.c_str());
      return 1;
    }
    if (eval::read_params_file(o.startFile.c_str()) != 0) {
      printf("error: %s has bad lines\n", o.startFile.c_str());
      return 1;
    }
  }
  const int threads = threadsFor(o.threads);

  std::vector<Labelled> labelled;
  uint64_t games = 0;
  if (loadRecords(o, labelled, games) != 0 || loadEpd(o, labelled, games) != 0) return 1;
  if (o.maxPositions && labelled.size() > o.maxPositions) labelled.resize(o.maxPositions);
  if (labelled.empty()) {
    printf("error: no labelled positions\n");
    return 1;
  }
  printf("%zu labelled positions from %llu games; resolving on %d threads\n", labelled.size(),
         static_cast<unsigned long long>(games), threads);
  TuneSet trainSet, validSet;
  uint64_t dropped = 0;
  buildSets(labelled, o, threads, trainSet, validSet, dropped);
  labelled = {};
  printf("quiet positions: %zu training, %zu validation (%llu dropped: in check or exact endings), %.1f s\n",
         trainSet.positions.size(), validSet.positions.size(), static_cast<unsigned long long>(dropped),
         seconds(began));
  if (trainSet.positions.empty()) {
    printf("error: no training positions\n");
    return 1;
  }

  Weights w = currentWeights();
  const Weights start = w;
  const double K = fitK(trainSet, w, threads);
  const double trainBefore = meanError(trainSet, w, K, threads), validBefore = meanError(validSet, w, K, threads);
  printf("K = %.6f; before: training error %.6f, validation error %.6f\n", K, trainBefore, validBefore);

  int tuned = 0;
  for (int i = 0; i < kParamCount; ++i) tuned += tunable(i, o.selection) ? 1 : 0;
  printf("fitting %d entries (mg and eg each), %d epochs, batch %d, lr %.3g\n", tuned, o.epochs, o.batchSize,
         o.adam.lr);
  std::vector<uint32_t> order(trainSet.positions.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
  std::mt19937_64 rng(o.seed);
  TuneAdam adam = o.adam;
  AdamState state;
  std::vector<double> gmg(kParamCount), geg(kParamCount);
  double validAfter = validBefore;
  int bestEpoch = 0;  // the starting weights, written first
  if (!writeWeights(w, o.outFile)) {
    printf("error: %s cannot be written\n", o.outFile.c_str());
    return 1;
  }
  for (int epoch = 1; epoch <= o.epochs; ++epoch) {
    std::shuffle(order.begin(), order.end(), rng);
    for (size_t b = 0; b < order.size(); b += static_cast<size_t>(o.batchSize)) {
      std::fill(gmg.begin(), gmg.end(), 0.0);
      std::fill(geg.begin(), geg.end(), 0.0);
      const size_t count = std::min(order.size() - b, static_cast<size_t>(o.batchSize));
      addGradient(trainSet, w, K, order.data() + b, count, threads, gmg, geg);
      addPull(w, start, o.pull, gmg, geg);
      adamStep(w, gmg, geg, o.selection, adam, state);
    }
    const double trainError = meanError(trainSet, w, K, threads);
    const double validError = meanError(validSet, w, K, threads);
    // The file keeps the epoch that did best on the held-out games.
    const bool best = validSet.positions.empty() || validError < validAfter;
    printf("epoch %d  training error %.6f  validation error %.6f  lr %.3g  %.1f s%s\n", epoch, trainError,
           validError, adam.lr, seconds(began), best ? "  (written)" : "");
    if (best) {
      validAfter = validError;
      bestEpoch = epoch;
      if (!writeWeights(w, o.outFile)) {
        printf("error: %s cannot be written\n", o.outFile.c_str());
        return 1;
      }
    }
    if (epoch % o.lrDropEvery == 0) adam.lr *= o.lrDrop;
  }
  printf("validation error %.6f before, %.6f after (K = %.6f); weights of epoch %d in %s\n", validBefore,
         validAfter, K, bestEpoch, o.outFile.c_str());
  return 0;
}

}  // namespace train
