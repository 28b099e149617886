// The tuner's positions: each one played to the end of its quiescence line
// with the engine's own search, then evaluated once with the weight
// multipliers recorded.
#include <algorithm>
#include <cmath>
#include <memory>

#include "eval/eval.h"
#include "search/search.h"
#include "tuner.h"

namespace train {

using namespace board;

namespace {

// A line's moves are played on a scratch history of this room.
constexpr int kLineRoom = search::kStackSize;
// Multipliers this small are rounding noise of the fractional terms.
constexpr float kNoMultiplier = 1e-6f;
// The search damps static scores as the fifty-move counter runs.
constexpr int kFiftyMoveDamping = 128;
constexpr uint64_t kNoNodeLimit = uint64_t{1} << 62;

}  // namespace

struct TraceWorker {
  std::unique_ptr<search::SearchThread> thread = std::make_unique<search::SearchThread>();
  std::unique_ptr<UndoHistory> line = std::make_unique<UndoHistory>();
  float multipliers[eval::kParamCount];
};

TraceWorker* makeTraceWorker() { return new TraceWorker; }
void freeTraceWorker(TraceWorker* w) { delete w; }

namespace {

// A search record ready for a search from pos at ply 1 with no history.
void placeRoot(search::SearchThread& t, const Position& pos) {
  t.position = pos;
  t.position.owner = &t.history;
  t.history.undoCount = 0;
  t.history.undoStack[0].move = 0;
  t.history.ply = 1;
  t.history.lastMove = 0;
  for (int p = 0; p < 2; ++p) {
    t.stack[p].listStart = t.stack[p].current = t.stack[p].listEnd = t.moveLists[p].data();
    t.moveLists[p][0].move = kEndOfList;
  }
  t.threadIndex = 1;  // not thread 0: no clock checks, no reports
  t.nodeLimit = kNoNodeLimit;
  t.nodes = 0;
  t.threadCompletedDepth = 0;
  t.selDepth = 0;
  t.evalState.contempt = 0;
  t.evalState.rootSide = pos.sideToMove;
  search::resetThreadTables(t);
  t.stack[0] = search::StackEntry{};
  search::StackEntry& root = t.stack[1];
  root.movesSearched = 0;
  root.tbResult = -1;
  root.moveClass = 0;
  root.reSearching = 0;
  root.inCheck = 0;
  root.checker = kNoSquare;
}

bool inCheck(const Position& pos) {
  return findAttacker(pos, pos.kingSquare[pos.sideToMove], pos.sideToMove ^ 1, occupied(pos)) != kNoSquare;
}

float fiftyMoveDamping(const Position& pos) {
  return static_cast<float>(kFiftyMoveDamping - pos.rule50) / static_cast<float>(kFiftyMoveDamping);
}

}  // namespace

bool resolveQuiet(TraceWorker& w, Position& pos) {
  if (inCheck(pos)) return false;
  search::SearchThread& t = *w.thread;
  placeRoot(t, pos);
  t.stack[1].staticEval = static_cast<int16_t>(search::staticEvaluation(t, 1, false));
  t.pv[1][1] = t.pv[1][2] = 0;
  search::quiesce(t, 1, 0, -search::kInfinity, search::kInfinity, search::kPvNode);
  pos.owner = w.line.get();
  w.line->undoCount = 0;
  w.line->ply = 1;
  w.line->lastMove = 0;
  for (int i = 1; i < kLineRoom && t.pv[1][i]; ++i) {
    if (!isLegal(pos, pos.sideToMove, t.pv[1][i])) break;
    makeMove(pos, t.pv[1][i]);
  }
  return !inCheck(pos);
}

bool tracePosition(TraceWorker& w, const Position& pos, float result, TuneSet& out) {
  int exact;
  if (eval::exactEndingScore(pos, exact)) return false;
  eval::EvalState& st = w.thread->evalState;
  std::fill(std::begin(w.multipliers), std::end(w.multipliers), 0.0f);
  st.coefficients = w.multipliers;
  eval::evaluate(pos, st, 2, false, 0);
  st.coefficients = nullptr;
  TunePosition p;
  p.firstTerm = out.terms.size();
  p.termCount = 0;
  for (int i = 0; i < eval::kParamCount; ++i) {
    if (std::fabs(w.multipliers[i]) < kNoMultiplier) continue;
    out.terms.push_back(WeightTerm{static_cast<uint16_t>(i), w.multipliers[i]});
    ++p.termCount;
  }
  p.phase = st.info.endgameWeight;
  const float damping = fiftyMoveDamping(pos);
  p.scaleWhite = eval::drawishScale(pos, 1) * damping;
  p.scaleBlack = eval::drawishScale(pos, -1) * damping;
  p.result = result;
  out.positions.push_back(p);
  return true;
}

int engineEvalWhite(TraceWorker& w, const Position& pos) {
  eval::EvalState& st = w.thread->evalState;
  const bool caches = st.useCaches;
  st.useCaches = false;
  int e = eval::evaluate(pos, st, 2, false, 0);
  st.useCaches = caches;
  e = e * (kFiftyMoveDamping - pos.rule50) / kFiftyMoveDamping;
  return pos.sideToMove == kWhite ? e : -e;
}

}  // namespace train
