// Network evaluation: file format, per-thread accumulators, forward pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "board/board.h"
#include "eval/eval.h"

namespace eval {

constexpr int kMaxHidden1 = 256;
constexpr int kMaxHidden2 = 1024;
constexpr int kMaxFeatures = 50;
constexpr int kMaxFeatureIndex = 1792 + 64;  // square inputs plus the material inputs we use

// The file layout, shared with the trainer's exporter.
constexpr int kNetworkHeaderBytes = 18;
constexpr int kNetworkConstants = 8;  // after W1, W2, W3 and the unused output block
constexpr int kBias1Constant = 1;     // one value added to every first-layer neuron
constexpr int kBias2Constant = 2;     // one value added to every second-layer neuron
static_assert(kBias2Constant < kNetworkConstants);
// Negative side of the activation: x below zero becomes x times this.
constexpr float kLeakySlope = 0.0625f;

struct NetworkSlot {
  int netCount = 0;
  int G = 0, X = 0, H1 = 0, H2 = 0, L = 0;
  uint64_t floatCount = 0;
  std::vector<float> data;
  const float* W1 = nullptr;  // (G + X) rows of H1
  const float* W2 = nullptr;  // H2 rows of H1
  const float* W3 = nullptr;  // L rows of H2
  const float* constants = nullptr;  // [1] first-layer bias, [2] second-layer bias
  std::vector<float> W2t;  // W2 transposed (H1 rows of H2) for the vector pass
};

// Slot 0 holds the first network of the file, slot 1 the last of the others.
extern NetworkSlot networks[2];
extern int network_count;       // networks loaded: 0, 1 or 2
extern uint64_t network_generation;  // bumped by every successful load

struct SavedAccumulator {
  uint16_t features[kMaxFeatures];
  int count = 0;
  int ply = 0;
  int net = -1;
  uint64_t generation = 0;
  alignas(64) float sums[kMaxHidden1];
};

struct NetworkState {
  alignas(64) float out1[kMaxHidden1];
  alignas(64) float out2[kMaxHidden2];
  float outputs[2];
  uint16_t features[kMaxFeatures];
  int count = 0;
  SavedAccumulator saved[2];
  float phase = 0;
  uint64_t generation = 0;
};

// Reads a network file; 1 on success. On failure the loaded networks are
// unchanged and why holds the reason.
int load_network(const std::string& path, std::string* why = nullptr);
// The network built into the binary ("make EVALFILE=..."), as load_network.
int load_embedded_network(std::string* why = nullptr);

// The bytes of the network file built into this binary (size 0: none);
// defined in the source the build generates.
extern const unsigned char* const embedded_network;
extern const size_t embedded_network_size;
void unloadNetworks();

// Score for the side to move. noise adds the small key-dependent jitter.
int nn_evaluate(const board::Position& pos, EvalState& st, bool inCheck, bool noise = false);

// Pieces of the feature computation, exposed for tests and the trainer.
// The sorted active inputs for a network of squareInputs (896 or 1792)
// piece-square inputs; returns the count (at most kMaxFeatures).
int buildFeatureList(const board::Position& pos, int squareInputs, uint16_t* out);
// The blend weight of the first output with the single network: more
// non-pawn material, more of output 0.
float networkPhase(const board::Position& pos);
int chooseNetwork(const board::Position& pos, float& phase);
// Centipawns from the network's output R (before contempt): the clamped
// logistic mapping and the drawish minor-piece ending rule.
int scoreFromOutput(const board::Position& pos, float R);
// Forward pass from a raw first-layer sum (before bias); returns R.
float forwardFromSums(const NetworkSlot& net, NetworkState& ns, const float* sums, float phase);

}  // namespace eval
