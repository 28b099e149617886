// The network the trainer fits: the engine's topology and activation, the
// parameters kept in the network file's own float order, the forward pass
// and its gradient, and the files (the engine's network file, checkpoints).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "eval/nn.h"

namespace train {

struct Topology {
  int G = 896;  // piece-square inputs: 896, or 1792 with inputs of their own for kings on opposite wings
  int X = 42;   // extra inputs (the material inputs)
  int H1 = 128;
  int H2 = 32;
  int L = 2;    // 2: a middlegame and an endgame output blended by the phase
};

// Where each block lies in the float block of the network file.
struct Layout {
  size_t w1, w2, w3, outputs, constants, count;
};
Layout layoutOf(const Topology& t);
// Empty when the engine loads such a network, else why not.
std::string topologyProblem(const Topology& t);
std::string topologyText(const Topology& t);
bool sameTopology(const Topology& a, const Topology& b);

struct Network {
  Topology top;
  Layout at{};
  std::vector<float> p;  // the float block of the file
};

// Small random weights from seed, biases zero.
void initNetwork(Network& net, const Topology& t, uint64_t seed);

// One position's pass, kept for the gradient.
struct Activations {
  float z1[eval::kMaxHidden1];  // first layer before the activation (bias added)
  float a1[eval::kMaxHidden1];
  float z2[eval::kMaxHidden2];
  float a2[eval::kMaxHidden2];
  float out[2];
  float R;
};

// R for the active inputs (sorted, as the engine lists them) at phase.
float forward(const Network& net, const uint16_t* features, int count, float phase, Activations& a);
// Adds dR times the gradient of R to grad (laid out as net.p); only the
// first-layer rows of the active inputs are touched.
void backward(const Network& net, const uint16_t* features, int count, float phase, const Activations& a, float dR,
              float* grad);

// The engine's network file, written through a temporary and renamed into
// place; 0 on success, else why says what failed.
int writeNetworkFile(const std::string& path, const Network& net, std::string& why);
// Reads a network file with the engine's own loader; expected (when given)
// must match the file's topology. 0 on success.
int readNetworkFile(const std::string& path, const Topology* expected, Network& net, std::string& why);

// Trainer state: the network, Adam's moments and where training stands.
struct Checkpoint {
  Network net;
  std::vector<float> m, v;
  int epoch = 0;      // epochs done
  uint64_t step = 0;  // optimiser steps done
};
int writeCheckpoint(const std::string& path, const Checkpoint& c, std::string& why);
int readCheckpoint(const std::string& path, const Topology* expected, Checkpoint& c, std::string& why);
// Whether the file starts as a checkpoint does (else it is taken for a network file).
bool isCheckpointFile(const std::string& path);

}  // namespace train
