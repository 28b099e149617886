// The trainer: records to samples (the engine's own feature list), the
// loss, Adam steps over shuffled batches on several threads, and the epoch
// loop with validation, checkpoints, the exported network and a loss CSV.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "network.h"
#include "walks.h"
#include "records.h"

namespace train {

// The score scale of the network's output: R is about 0.006 x centipawns.
constexpr float kScoreToLogit = 0.006f;

struct RecordFilter {
  bool skipInCheck = true;
  bool skipTactical = true;  // the best move captures or promotes
  bool skipMate = true;      // mate and tablebase scores
  int minPly = 16;           // earlier plies are skipped
};
bool keepRecord(const PackedRecord& r, const RecordFilter& f);

struct Sample {
  uint16_t features[eval::kMaxFeatures];
  int count;
  float phase;
  float target;
};
// target = lambda x result + (1 - lambda) x sigmoid(0.006 x score), for the side to move.
float targetOf(const PackedRecord& r, float lambda);
// False when the record holds no sound position.
bool prepareSample(const PackedRecord& r, int squareInputs, float lambda, Sample& s);

struct AdamSettings {
  float lr = 1e-3f;
  float beta1 = 0.9f;
  float beta2 = 0.999f;
  float epsilon = 1e-8f;
  float weightDecay = 0;  // decoupled (AdamW); 0 is plain Adam
  float clip = 4.0f;      // every weight stays within +-clip
};

// What the gradient descends. Reported losses are the squared error either
// way, so that runs with either loss compare.
enum LossKind : int { kSquaredError, kCrossEntropy };

// Squared error of sigmoid(R) against the target for one record; adds
// gradScale times the gradient of loss to grad when grad is given.
double sampleLoss(const Network& net, const PackedRecord& r, float lambda, float gradScale, float* grad,
                  LossKind loss = kSquaredError);

// Per-thread gradient buffers, each laid out as the network's floats.
struct GradientBuffers {
  std::vector<std::vector<float>> perThread;
};
void makeGradientBuffers(GradientBuffers& g, int threads, size_t floats);

// One Adam step on the records picked by indices; returns the batch's mean
// squared error of sigmoid(R) against the target.
double trainStep(Checkpoint& c, const std::vector<PackedRecord>& records, const uint32_t* indices, size_t count,
                 float lambda, const AdamSettings& adam, GradientBuffers& g, LossKind loss = kSquaredError);
// Mean loss over the records picked by indices, nothing changed.
double meanLoss(const Network& net, const std::vector<PackedRecord>& records, const uint32_t* indices, size_t count,
                float lambda, int threads);

struct TrainOptions {
  std::vector<std::string> dataFiles;
  std::string outFile = "nn.bin";
  std::string checkpointFile;  // default: outFile + ".ckpt"
  std::string csvFile;         // default: outFile + ".csv"
  std::string resumeFile;      // a checkpoint (goes on exactly) or a network file (weights only)
  Topology top;
  RecordFilter filter;
  AdamSettings adam;
  int epochs = 10;
  int batchSize = 16384;
  int threads = 0;              // 0: one per core
  float lambda = 0.5f;
  LossKind loss = kSquaredError;
  bool keepBest = false;        // the network file holds the epoch of lowest validation loss
  float lrDrop = 0.3f;          // the learning rate is multiplied by this...
  int lrDropEvery = 4;          // ...every this many epochs
  float validationShare = 0.05f;
  uint64_t epochPositions = 0;  // 0: the whole training share per epoch
  bool hceLabels = false;       // score each position by the hand-crafted evaluation, not its search
  WalkSettings walks;           // random-walk positions added from each kept one
  uint64_t seed = 1;
  double progressSeconds = 10;
};

// The positions of the data files that pass the filter, split into
// training and validation by whole games (by single positions only when
// there are too few games to split).
struct Dataset {
  std::vector<PackedRecord> records;
  std::vector<uint32_t> trainIndices, validIndices;
};
// False after saying why when a file cannot be used or nothing is left.
bool loadTrainingData(const TrainOptions& o, Dataset& d);

// Returns the exit status; on bad input nothing is written.
int runTraining(const TrainOptions& o);
struct LossReportOptions {
  std::vector<std::string> dataFiles;
  std::string networkFile;
  bool useHce = false;  // measure the hand-crafted evaluation instead of a network
  RecordFilter filter;
  float lambda = 0.5f;
  int threads = 0;
};
// Prints a network's (or the hand-crafted evaluation's) squared error and
// cross-entropy on the filtered positions of the data files, so nets trained
// on different data compare on one set; returns the exit status.
int runLossReport(const LossReportOptions& o);

// Writes the network of a checkpoint as the engine's network file.
int runExport(const std::string& checkpointFile, const std::string& outFile);

}  // namespace train
