// The tuner of the hand-crafted evaluation's weight table: result-labelled
// positions resolved to the end of their quiescence line, each evaluation
// recorded as multipliers of the weights, K fitted first, then Adam on the
// squared error between the game result and sigmoid(K x eval).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "eval/params.h"
#include "records.h"
#include "trainer.h"

namespace train {

// One position as the tuner sees it: the evaluation is
//   scale(S) x S,  S = (1 - phase) x sum(c x mg) + phase x sum(c x eg)
// over its weight multipliers c (white minus black), with scale the
// drawish-ending factor (one value for White ahead, one for Black ahead)
// times the fifty-move damping the search applies.
struct TunePosition {
  uint64_t firstTerm;  // into TuneSet::terms
  uint16_t termCount;
  float phase;        // endgame weight
  float scaleWhite;   // factor when S > 0
  float scaleBlack;   // factor when S < 0
  float result;       // 1 White won, 0.5 draw, 0 Black won
};

struct WeightTerm {
  uint16_t index;
  float multiplier;
};

struct TuneSet {
  std::vector<TunePosition> positions;
  std::vector<WeightTerm> terms;
};

// The weights being fitted, as floats (mg, eg per entry).
struct Weights {
  std::vector<double> mg, eg;  // kParamCount each
};
// The engine's table as it stands.
Weights currentWeights();
// Writes the weights into the engine's table (rounded into the packed pairs).
void applyWeights(const Weights& w);

// Which entries move: every weight the evaluation reads, or only the
// piece-square values that have no fixed default.
enum TuneSelection : int { kTuneAll = 0, kTuneFreePst = 1 };
// Whether entry index belongs to the selection.
bool tunable(int index, TuneSelection s);
// The piece-square entries without a fixed default (630 of them).
bool isFreePstEntry(int index);

// Resolving and tracing one position. The worker holds its own search
// record; one per thread.
struct TraceWorker;
TraceWorker* makeTraceWorker();
void freeTraceWorker(TraceWorker* w);
// Plays the quiescence line of pos (which it changes) to its end; false
// when the position is in check at the start or the end of the line.
bool resolveQuiet(TraceWorker& w, board::Position& pos);
// Records pos's evaluation as multipliers; false for the exact endings,
// which no weight changes. result is White's.
bool tracePosition(TraceWorker& w, const board::Position& pos, float result, TuneSet& out);
// The evaluation as the engine computes it, White's view, with the
// fifty-move damping: what the traced form reproduces.
int engineEvalWhite(TraceWorker& w, const board::Position& pos);

// The traced form's evaluation of position i (White's view).
double modelEval(const TuneSet& set, size_t i, const Weights& w);

// Mean squared error of sigmoid(K x eval) against the results over the set.
double meanError(const TuneSet& set, const Weights& w, double K, int threads);
// Adds the error's gradient over the positions picked by indices to gmg/geg
// (kParamCount each), scaled by 1 / count; returns the mean error of them.
double addGradient(const TuneSet& set, const Weights& w, double K, const uint32_t* indices, size_t count,
                   int threads, std::vector<double>& gmg, std::vector<double>& geg);
// The K that minimises the mean error for the weights given.
double fitK(const TuneSet& set, const Weights& w, int threads);

struct TuneAdam {
  double lr = 0.3;  // in centipawns per step
  double beta1 = 0.9;
  double beta2 = 0.999;
  double epsilon = 1e-8;
};
struct AdamState {
  std::vector<double> m, v;  // 2 x kParamCount: mg entries then eg
  uint64_t step = 0;
};
// One Adam step on the selected weights with the given gradient.
void adamStep(Weights& w, const std::vector<double>& gmg, const std::vector<double>& geg, TuneSelection s,
              const TuneAdam& a, AdamState& state);

struct TuneOptions {
  std::vector<std::string> dataFiles;  // the network pipeline's data files
  std::vector<std::string> epdFiles;   // EPD lines with "gr" (side to move's result)
  std::string outFile = "params.txt";
  std::string startFile;  // a params file to start from (default: the built-in table)
  TuneSelection selection = kTuneAll;
  RecordFilter filter{true, false, true, 16};
  TuneAdam adam;
  double pull = 3e-7;  // toward the starting weights, per centipawn of distance
  int epochs = 8;
  int batchSize = 16384;
  int threads = 0;  // 0: one per core
  double lrDrop = 0.5;
  int lrDropEvery = 8;
  double validationShare = 0.1;  // whole games (EPD: positions) held out
  uint64_t maxPositions = 0;     // 0: all
  uint64_t seed = 1;
};

// Returns the exit status; writes the params file after every epoch that
// lowers the validation error (after every epoch without validation).
int runTuning(const TuneOptions& o);

}  // namespace train
