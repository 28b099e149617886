// Win/draw/loss estimates for the info lines: a model of how often games
// were won, drawn and lost from a search score with a given amount of
// material on the board, fitted to our own self-play games.
#pragma once

#include <array>

#include "board/board.h"

namespace search {

// W = 1 / (1 + exp((a - s) / b)) and L = 1 / (1 + exp((a + s) / b)) for the
// score s, with a and b cubic in the material m / kWdlMaterialScale.
struct WdlModel {
  std::array<double, 4> a;  // highest power first
  std::array<double, 4> b;
};

// Material counts pawns 1, minor pieces 3, rooks 5, queens 9, both sides;
// the model holds it within these bounds.
constexpr int kWdlMaterialMin = 10, kWdlMaterialMax = 78;
constexpr double kWdlMaterialScale = 58.0;
constexpr int kWdlScoreBound = 4000;  // scores beyond are clamped before the model

// The fitted model (wdl.cpp; train/ writes its constants).
extern const WdlModel wdl_model;

struct Wdl {
  int win = 0, draw = 1000, loss = 0;  // per mille, summing to 1000
};

int wdlMaterial(const board::Position& pos);
// The probabilities in [0, 1] before rounding.
void wdlProbabilities(const WdlModel& model, int score, int material, double& win, double& loss);
Wdl wdlFromScore(const WdlModel& model, int score, int material);
// What an info line shows: mates and tablebase roots are certain, other
// scores go through the model with the root's material.
Wdl reportedWdl(int score, int rootTbResult, const board::Position& root);

}  // namespace search
