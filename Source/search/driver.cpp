// Root search: iterative deepening with aspiration windows and MultiPV, and
// the search-information lines.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "board/attacks.h"
#include "platform/output.h"
#include "search/search.h"
#include "search/wdl.h"
#include "syzygy/syzygy.h"

namespace search {

using namespace board;

namespace {

constexpr int kMaxLineMoves = 66;
// With a strength limit, depth-1 moves get the full window (a weak engine
// must not see through null windows what it could not see otherwise).
constexpr double kFullWindowBelowNps = 1000;
// Order scores of the root moves behind the searched ones.
constexpr int kSearchedOrder = -11000, kUnsearchedOrder = -11500;
// The root reduction of late quiet moves: how far below the last score a
// move must stand.
constexpr int kRootReductionMargin = 50;

bool stopped() { return stop_requested.load(std::memory_order_relaxed) != 0; }

void scoreRootMoves(SearchThread& t) {
  const Position& pos = t.position;
  for (int i = 0; i < t.rootMoveCount; ++i) {
    MoveEntry& e = t.rootMoves[i];
    const int victim = typeOf(e.captured);
    const bool capture = e.captured || (typeOf(e.piece) == kPawn && moveTo(e.move) == pos.epSquare);
    if (capture || (e.move & kPromoQueen)) {
      if (staticExchange(pos, pos.sideToMove, moveFrom(e.move), moveTo(e.move)) < -50)
        e.score = static_cast<int16_t>(victim + 4);
      else
        e.score = static_cast<int16_t>(kMvvScore[victim] - typeOf(e.piece));
    } else {
      const int to = moveTo(e.move);
      e.score = static_cast<int16_t>((t.historyTable[0][e.piece][to] / 256 + t.historyTable[0][e.piece][to] / 256) / 2);
    }
  }
}

// Selection: the highest-scored of [from, count), first on ties, moved to from.
void selectRootMove(SearchThread& t, int from) {
  int best = from;
  for (int j = from + 1; j < t.rootMoveCount; ++j)
    if (t.rootMoves[j].score > t.rootMoves[best].score) best = j;
  std::swap(t.rootMoves[from], t.rootMoves[best]);
}

std::string scoreText(int score) {
  char buffer[32];
  if (score > kMateShownAbove) snprintf(buffer, sizeof buffer, "mate %d", (kMateValue - score) / 2);
  else if (score < kMatedShownBelow) snprintf(buffer, sizeof buffer, "mate -%d", (kMateValue + score) / 2);
  else snprintf(buffer, sizeof buffer, "cp %d", score);
  return buffer;
}

void progressLines(SearchThread& t, int movesSearched, Move move) {
  const float elapsed = control.elapsed.load(std::memory_order_relaxed);
  std::lock_guard<std::mutex> guard(infoLock);
  sumThreadCounters();
  if (movesSearched == 0) {
    const int full = ttEntryCount() >= 3000 ? ttHashfull() : 0;
    platform::outputFormat("info depth %d time %.0f nodes %.0f nps %.0f hashfull %.0f",
                            control.iteration_depth.load(), elapsed * 1000.0, static_cast<double>(control.total_nodes),
                            elapsed > 0.001 ? control.total_nodes / elapsed : 0.0, static_cast<double>(full));
  }
  if (control.multi_pv == 1)
    platform::outputFormat("info currmove %s currmovenumber %d", moveToText(move).c_str(), movesSearched + 1);
  (void)t;
}

}  // namespace

int tablebaseMenLimit() { return std::clamp(control.settings.tb_probe_limit, 0, syzygy::largestTable); }

std::string lineText(const Move* line, int maxMoves) {
  std::string text;
  for (int i = 1; i <= maxMoves && i < kStackSize && line[i]; ++i) {
    if (i > 1) text += ' ';
    text += moveToText(line[i]);
  }
  return text;
}

void sumThreadCounters() {
  if (search_state.load(std::memory_order_acquire) & kFinishedFlag) return;
  uint64_t nodes = 0, tb = 0, evals = 0, evalHits = 0, pawnProbes = 0, pawnHits = 0, ttp = 0, tth = 0;
  uint64_t types[4] = {};
  for (SearchThread* t : threads) {
    if (!t) continue;
    nodes += t->nodes.load(std::memory_order_relaxed);
    tb += t->tbHits.get();
    evals += t->evalState.counters.evaluations;
    evalHits += t->evalState.counters.cacheHits;
    pawnProbes += t->evalState.counters.pawnProbes;
    pawnHits += t->evalState.counters.pawnHits;
    ttp += t->ttProbes;
    tth += t->ttHits;
    for (int k = 0; k < 4; ++k) types[k] += t->nodeTypeCount[k];
  }
  control.total_nodes = nodes;
  control.total_tbhits = tb;
  control.total_evals = evals;
  control.total_eval_hits = evalHits;
  control.total_pawn_probes = pawnProbes;
  control.total_pawn_hits = pawnHits;
  control.total_tt_probes = ttp;
  control.total_tt_hits = tth;
  for (int k = 0; k < 4; ++k) control.node_type_count[k] = types[k];
  if (SearchThread* t0 = threads[0]) control.sel_depth = t0->selDepth;
}

void reportSearchInfo(SearchThread& t, int lineNumber, int depth, int score, const Move* line) {
  std::lock_guard<std::mutex> guard(infoLock);
  sumThreadCounters();
  const float elapsed = control.elapsed.load(std::memory_order_relaxed);
  const int full = depth > 6 ? ttHashfull() : 0;
  const int tb = control.root_tb_result.load();
  // A tablebase root shows its result unless the search found the mate.
  if (tb == kTbRootWin && score < kMateShownAbove) score = kTbWinScore;
  if (tb == kTbRootLoss && score > kMatedShownBelow) score = kTbLossAtRoot;
  if (tb == kTbRootDraw) score = 0;
  std::string text;
  if (platform::uci_mode) {
    char prefix[32] = "";
    if (control.multi_pv > 1) snprintf(prefix, sizeof prefix, "multipv %d ", lineNumber);
    std::string scored = scoreText(score);
    if (control.settings.show_wdl) {
      const Wdl w = reportedWdl(score, tb, game->position);
      char wdl[48];
      snprintf(wdl, sizeof wdl, " wdl %d %d %d", w.win, w.draw, w.loss);
      scored += wdl;
    }
    char head[256];
    snprintf(head, sizeof head, "info %sdepth %d seldepth %d score %s time %.0f nodes %.0f nps %.0f tbhits %.0f hashfull %.0f",
             prefix, depth, control.sel_depth - 1, scored.c_str(), elapsed * 1000.0,
             static_cast<double>(control.total_nodes), elapsed > 0.001 ? control.total_nodes / elapsed : 0.0,
             static_cast<double>(control.total_tbhits), static_cast<double>(full));
    text = head;
    if (line[1]) text += " pv " + lineText(line, kMaxLineMoves);
  } else {
    char head[96];
    snprintf(head, sizeof head, "%02d] %02d%c %5.1f %7.0fK %5d  ", t.threadIndex, depth, lineNumber > 0 ? '.' : ' ',
             elapsed, control.total_nodes * 0.001, score);
    text = head;
    const int shown = stopped() ? 32 : 8;
    for (int i = 1; i <= shown && i < kStackSize && line[i]; ++i) {
      if (i > 1) text += (i == 9 || i == 17 || i == 25) ? std::string("\n") + std::string(30, ' ') : std::string(" ");
      text += moveToText(line[i]);
    }
    if (t.threadIndex == 0 && lineNumber == control.multi_pv) text += '\n';
  }
  platform::output_line(text);
}

void reportFinalInfo(int lineNumber, int depth, int score, const Move* line) {
  const double noise = control.settings.noise;
  if ((!stopped() && noise > control.elapsed.load()) || noise >= kNoOutput || depth == 0 || line[1] == 0) return;
  // The score without a line rather than a mating line that stops short.
  const Move none[2] = {0, 0};
  const bool shortMate = line == control.best_line && !control.best_line_showable;
  if (threads[0]) reportSearchInfo(*threads[0], lineNumber, depth, score, shortMate ? none : line);
}

double effectiveBranchingFactor() {
  const int d = control.last_iteration_depth;
  if (d <= 5) return 2.0;
  const double a = static_cast<double>(control.nodes_by_depth[d]), b = static_cast<double>(control.nodes_by_depth[d - 4]);
  if (a == 0 || b == 0) return 2.0;
  return std::pow(a / b, 0.25);
}

namespace {

// What the steps of one thread's root search share.
struct RootState {
  bool main = false;
  bool inCheck = false;
  int us = 0;
  Move quietLine[kStackSize] = {};  // thread 0's quiescence line, the depth-0 answer
};

// An iteration ends the search past these (the history and the stack bound the line).
constexpr int kDeepestLine = 883;
constexpr int kMaxIterations = 68;
// Aspiration windows: half-width |V| / 16 + 25, wider at small depths; past
// these bounds the window opens fully.
constexpr int kWindowBase = 25, kWindowOpenBeyond = 5000;
// The root reduction applies from this depth and this many moves searched.
constexpr int kRootReductionDepth = 6, kRootReductionMoves = 5;
// Helper threads skip depths from this one on.
constexpr int kHelperSkipFrom = 5;
constexpr int kOrderScoreLimit = 32000;

// 1. Root set-up: stack, seed, check, the static evaluation, and for thread 0
// the selectivity and the quiescence line.
void setUpRoot(SearchThread& t, RootState& r) {
  Position& pos = t.position;
  r.main = t.threadIndex == 0;
  resetThreadTables(t);
  StackEntry& root = t.stack[1];
  root.movesSearched = 0;
  root.tbResult = -1;
  root.moveClass = 0;
  root.reSearching = 0;
  t.stack[0] = StackEntry{};
  t.seed = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^ (t.threadIndex * 2654435761u);
  r.us = pos.sideToMove;
  const int checker = findAttacker(pos, pos.kingSquare[r.us], r.us ^ 1, occupied(pos));
  r.inCheck = checker != kNoSquare;
  root.checker = static_cast<uint8_t>(checker);
  root.inCheck = r.inCheck;
  const int rootEval = staticEvaluation(t, 1, r.inCheck);
  t.threadBestScore = rootEval;
  root.staticEval = static_cast<int16_t>(rootEval);
  if (!r.main) return;
  applySelectivity(control.settings);
  if (!r.inCheck) {
    t.pv[1][1] = t.pv[1][2] = 0;  // no line left over from an earlier search
    quiesce(t, 1, 0, -kInfinity, kInfinity, kPvNode);
    for (int i = 1; i < kStackSize && t.pv[1][i]; ++i) r.quietLine[i] = t.pv[1][i];
  }
  control.root_tb_result = kTbRootNone;
}

// "go searchmoves": whether the root may search move.
bool listedAtRoot(Move move) {
  const SearchLimits& l = control.limits;
  if (l.search_move_count == 0) return true;
  return std::find(l.search_moves.begin(), l.search_moves.begin() + l.search_move_count, move) !=
         l.search_moves.begin() + l.search_move_count;
}

// 2. The legal root moves, ordered; false (mate or stalemate answered) when there are none.
bool collectRootMoves(SearchThread& t, const RootState& r) {
  Position& pos = t.position;
  MoveEntry list[kMaxMoves];
  MoveEntry* end = generateAll(pos, list);
  t.rootMoveCount = 0;
  for (MoveEntry* e = list; e != end; ++e)
    if (isLegal(pos, r.us, e->move) && listedAtRoot(e->move)) t.rootMoves[t.rootMoveCount++] = *e;
  if (t.rootMoveCount == 0) {
    t.threadBestScore = r.inCheck ? kMatedAtRoot : 0;
    t.threadCompletedDepth = 1;
    if (r.main) {
      control.best_score = t.threadBestScore.load();
      control.completed_depth = 1;
      control.best_line[1] = 0;
      control.score_history[1] = t.threadBestScore.load();
      stop_requested = 1;
    }
    return false;
  }
  scoreRootMoves(t);
  if (r.main) {
    control.one_reply = t.rootMoveCount == 1;
    // A search stopped before its first move completes still answers a legal move.
    int first = 0;
    for (int i = 1; i < t.rootMoveCount; ++i)
      if (t.rootMoves[i].score > t.rootMoves[first].score) first = i;
    control.best_line[1] = t.rootMoves[first].move;
    control.best_line[2] = 0;
  }
  return true;
}

// 3. Depth 0: the quiescence line, or the best-ordered legal move when it
// has none (in check, or nothing worth capturing).
void answerFromQuiescence(SearchThread& t, RootState& r) {
  if (!r.quietLine[1] || !listedAtRoot(r.quietLine[1])) {
    selectRootMove(t, 0);
    r.quietLine[1] = t.rootMoves[0].move;
    r.quietLine[2] = 0;
  }
  std::copy(r.quietLine, r.quietLine + kStackSize, control.best_line);
  control.best_score = t.threadBestScore.load();
  stop_requested = 1;
}

// The table's move is played at once only when this many reversible plies
// are already on the clock; earlier the search finds its own way within the
// table's result.
constexpr int kTbMoveFromRule50 = 10;
constexpr int kTbAnswerDepth = 99;

// 3b. Thread 0, a root the tables cover: the result guides the search (or
// with the table's move, answers at once; then true).
// With "searchmoves" the root is worth the best of its listed moves: each
// child's table value, seen from the root (-1 when one is unknown).
int listedMovesResult(SearchThread& t) {
  Position& pos = t.position;
  const SearchSettings& set = control.settings;
  int best = -1;
  for (int i = 0; i < t.rootMoveCount; ++i) {
    makeMove(pos, t.rootMoves[i].move);
    MoveEntry replies[kMaxMoves];
    const bool mates = generateLegal(pos, replies) == 0 && inCheck(pos, pos.sideToMove);
    const int child = mates ? syzygy::kTbLoss : syzygy::probeWdlInSearch(pos, kMaxDepth, set.tb_min_depth, set.tb_probe_depth6);
    unmakeMove(pos);
    if (child < 0) return -1;
    best = std::max(best, syzygy::kTbWin - child);
  }
  return best;
}

bool settleTablebaseRoot(SearchThread& t) {
  Position& pos = t.position;
  const int men = tablebaseMenLimit();
  if (men == 0 || popCount(occupied(pos)) > men || pos.castleRights) return false;
  int category = 0, distance = 0;
  Move move = 0;
  int result = -1;
  if (control.limits.search_move_count) {
    result = listedMovesResult(t);
  } else {
    result = syzygy::probeRoot(pos, category, distance, move);
    if (result < 0) {
      move = 0;
      result = syzygy::probeWdlInSearch(pos, kMaxDepth, control.settings.tb_min_depth, control.settings.tb_probe_depth6);
    }
  }
  if (result < 0) return false;
  ++t.tbHits;
  control.root_tb_result = result;
  t.stack[1].tbResult = result;
  bool legal = false;
  for (int i = 0; i < t.rootMoveCount; ++i) legal |= t.rootMoves[i].move == move;
  if (!move || !legal || pos.rule50 < kTbMoveFromRule50) return false;
  const int score = result == syzygy::kTbWin ? kTbWinAtRoot : result == syzygy::kTbLoss ? kTbLossAtRoot : 0;
  t.threadBestMove = move;
  t.threadBestScore = score;
  t.threadCompletedDepth = kTbAnswerDepth;
  t.selDepth = kTbAnswerDepth;
  std::fill(std::begin(t.threadLine), std::end(t.threadLine), Move{0});
  t.threadLine[1] = move;
  if (move != control.best_line[1]) control.best_change_depth = kTbAnswerDepth;
  control.best_score = score;
  control.completed_depth = kTbAnswerDepth;
  std::copy(t.threadLine, t.threadLine + kStackSize, control.best_line);
  control.best_line_showable = true;
  if (control.multi_pv == 1 && control.settings.noise < kNoOutput)
    reportSearchInfo(t, 0, kTbAnswerDepth, score, control.best_line);
  stop_requested = 1;
  return true;
}

// 4. A helper thread's depth: one or two deeper when enough threads are
// already at this one, and its own shuffled root order.
int helperDepth(SearchThread& t, int d) {
  int depth = d;
  const int k = (threadCount + 14) / 4;
  int busy = 0;
  for (SearchThread* other : threads)
    if (other && other->threadIterationDepth.load(std::memory_order_relaxed) >= d) ++busy;
  if (busy >= k) ++depth;
  if (busy >= 3 * k) ++depth;
  depth = std::min(std::max(depth, control.iteration_depth.load()), control.limits.depth_limit);
  for (int i = 1; i < t.rootMoveCount; ++i) {
    t.seed = t.seed * 1357 + 1234567;
    t.rootMoves[i].score = static_cast<int16_t>(t.rootMoves[i].score - (t.seed & 15));
  }
  return depth;
}

// 5. The aspiration window around the last score V.
struct Window {
  int alpha, beta, delta;
};
Window aspirationWindow(int V, int depth) {
  int delta = std::abs(V) / 16 + kWindowBase;
  if (depth >= 6) return {V - delta, V + delta, delta};
  if (depth >= 2) {
    delta += 60 - 10 * depth;
    return {V - delta, V + delta, delta};
  }
  return {-kInfinity, kInfinity, delta + 50};
}

int clampedOrder(int score) { return std::clamp(score, -kOrderScoreLimit, kOrderScoreLimit); }

// 6. Thread 0 reduces late quiet moves of the first line by one when the
// best score already clears the previous iteration's less a margin.
int rootReduction(const SearchThread& t, const RootState& r, int depth, int line, int searched, int moveClass,
                  int best) {
  if (!r.main || line != 0 || depth < kRootReductionDepth || searched < kRootReductionMoves || r.inCheck ||
      moveClass != 0)
    return 0;
  const int previous = control.score_history[depth - 1];
  const int bar = previous < kLossBand + kRootReductionMargin ? kTbLossAtRoot : previous - kRootReductionMargin;
  const Position& pos = t.position;
  const bool hasPawns = (pos.materialSignature[r.us] & kSignaturePawns) != 0;
  return bar < best && pos.pieceMaterial[r.us] > 0 && hasPawns ? 1 : 0;
}

// 7. One root move: the first with the full window, the others with a null
// window (reduced as above) and a full re-search when they beat the best.
int searchRootMove(SearchThread& t, const RootState& r, MoveEntry& e, int depth, int line, int searched, int alpha,
                   int beta, int best) {
  Position& pos = t.position;
  StackEntry& root = t.stack[1];
  const Move m = e.move;
  const int moveClass = moveClassOf(pos, m);
  root.moveClass = static_cast<uint16_t>(moveClass);
  e.score = static_cast<int16_t>(kSearchedOrder - searched);
  const float elapsed = control.elapsed.load(std::memory_order_relaxed);
  if (r.main && line == 0 && platform::uci_mode && elapsed > 3.5f && elapsed > control.settings.noise)
    progressLines(t, searched, m);
  const int reduction = rootReduction(t, r, depth, line, searched, moveClass, best);
  root.currentMove = m;
  root.currentPiece = e.piece;
  ttPrefetch(makeMove(pos, m));
  int score;
  if (searched == 0 || (depth <= 1 && control.settings.target_nps > kFullWindowBelowNps)) {
    score = -search(t, 2, depth - 1, -beta, -alpha, kPvNode);
    e.score = static_cast<int16_t>(clampedOrder(score));
  } else {
    const int a = std::max(alpha, best);
    score = -search(t, 2, depth - 1 - reduction, -a - 1, -a, kCutNode);
    if (score > a && !stopped()) {
      root.reSearching = 1;
      score = -search(t, 2, depth - 1, -beta, -alpha, kPvNode);
      root.reSearching = 0;
      if (score > alpha) e.score = static_cast<int16_t>(clampedOrder(score));
    }
  }
  unmakeMove(pos);
  return score;
}

bool showsLines() { return control.settings.noise < kNoOutput; }
bool pastNoise() { return stopped() || control.elapsed.load(std::memory_order_relaxed) >= control.settings.noise; }

// 8. A new best move: the thread's line, and for thread 0's first line the
// published result, shown at once past the first depth.
void publishBest(SearchThread& t, const RootState& r, Move m, int depth, int score, int line) {
  t.threadBestScore = score;
  t.threadBestMove = m;
  t.threadCompletedDepth = depth;
  t.pv[1][1] = m;
  copyChildLine(t, 1);
  std::copy(t.pv[1], t.pv[1] + kStackSize, t.threadLine);
  t.threadLine[0] = 0;
  if (!r.main) return;
  // A mate the line cannot show yet (a table score from an earlier search)
  // waits for a deeper iteration rather than printing a short mating line.
  t.threadLineShowable = completeLine(t, t.threadLine, depth, score);
  if (line != 0) return;
  // best_line[1] holds a stand-in move until the first one is searched.
  if (m != control.best_line[1] || control.completed_depth == 0) control.best_change_depth = depth;
  control.best_score = score;
  control.completed_depth = depth;
  std::copy(t.threadLine, t.threadLine + kStackSize, control.best_line);
  control.best_line_showable = t.threadLineShowable;
  control.score_history[depth] = score;
  if (depth > 1 && control.multi_pv == 1 && pastNoise() && showsLines() && t.threadLineShowable)
    reportSearchInfo(t, 0, depth, score, control.best_line);
}

// 9. The moves of one line in one window; returns the best score.
int searchWindow(SearchThread& t, const RootState& r, int depth, int line, int alpha, int beta) {
  int best = -kInfinity;
  int searched = 0;
  t.stack[1].movesSearched = 0;
  for (int i = line; i < t.rootMoveCount; ++i) {
    selectRootMove(t, i);
    MoveEntry& e = t.rootMoves[i];
    const int score = searchRootMove(t, r, e, depth, line, searched, alpha, beta, best);
    if (stopped()) break;
    ++searched;
    t.stack[1].movesSearched = static_cast<int16_t>(searched);
    if (score > best) {
      publishBest(t, r, e.move, depth, score, line);
      best = score;
    }
    if (best > alpha) {
      if (best >= beta) {
        t.failState = kFailingHigh;
        break;
      }
      t.failState = kNotFailing;
    } else {
      t.failState = kFailingLow;
    }
  }
  // Searched moves by their new scores, unsearched ones behind them.
  for (int i = line; i < line + searched; ++i) selectRootMove(t, i);
  for (int i = line + searched, k = 0; i < t.rootMoveCount; ++i, ++k)
    t.rootMoves[i].score = static_cast<int16_t>(kUnsearchedOrder - k);
  return best;
}

// 10. One principal variation of an iteration: the window widens until the
// score lies inside it.
void searchLine(SearchThread& t, const RootState& r, int depth, int line) {
  t.failState = kNotFailing;
  Window w = aspirationWindow(t.threadBestScore.load(), depth);
  while (!stopped()) {
    if (w.alpha < -kWindowOpenBeyond) w.alpha = -kInfinity;
    if (w.beta > kWindowOpenBeyond) w.beta = kInfinity;
    const int best = searchWindow(t, r, depth, line, w.alpha, w.beta);
    if (stopped()) break;
    if (best > w.alpha && best < w.beta) break;
    if (best <= w.alpha) w.alpha -= w.delta;
    if (best >= w.beta) w.beta += w.delta;
    w.delta *= 2;
  }
}

// 11. After an iteration: its node count, and for thread 0 its time.
void finishIteration(SearchThread& t, const RootState& r, int depth) {
  {
    std::lock_guard<std::mutex> guard(statsLock);
    control.nodes_by_depth[std::min(depth, kStackSize - 1)] += t.nodes.load(std::memory_order_relaxed);
  }
  if (r.main && !stopped()) {
    control.last_iteration_time = control.elapsed.load();
    control.last_iteration_depth = depth;
  }
}

// One move listed by "searchmoves": its first iteration gives the answer,
// except to an analysis or a ponder search, which goes on until "stop".
bool singleListedMove(const SearchThread& t) {
  const SearchLimits& l = control.limits;
  if (l.search_move_count == 0 || t.rootMoveCount != 1) return false;
  return !l.analysis && search_state.load(std::memory_order_relaxed) != kPondering;
}

}  // namespace

void rootSearch(SearchThread& t) {
  RootState r;
  setUpRoot(t, r);
  if (!collectRootMoves(t, r)) return;
  if (control.limits.depth_limit == 0 && r.main) {
    answerFromQuiescence(t, r);
    return;
  }
  if (!r.main && control.root_tb_result.load() != kTbRootNone) return;
  if (r.main && settleTablebaseRoot(t)) return;

  t.threadCompletedDepth = 0;
  for (int d = 1;; ++d) {
    if (d + t.history.undoCount > kDeepestLine || d + 1 > kMaxIterations) break;
    const bool skips = !r.main && d > kHelperSkipFrom && d < control.limits.depth_limit && control.multi_pv == 1;
    const int depth = skips ? helperDepth(t, d) : d;
    if (r.main) control.iteration_depth = depth;
    t.threadIterationDepth = depth;
    t.stack[1].depth = static_cast<int16_t>(depth);
    for (int line = 0; line < control.multi_pv && line < t.rootMoveCount; ++line) {
      searchLine(t, r, depth, line);
      if (stopped()) break;
      if (r.main && control.multi_pv > 1 && pastNoise() && showsLines() && t.threadLine[1] &&
          t.threadLineShowable)
        reportSearchInfo(t, line + 1, depth, t.threadBestScore, t.threadLine);
    }
    finishIteration(t, r, depth);
    const int score = t.threadBestScore.load();
    // A mate within the depth searched is final; "go mate N" also ends at
    // once when one of at most N moves is proven (and not at a longer one).
    const int mateMoves = control.limits.mate_moves;
    bool mateFound = score >= kMateValue - 1 - depth || score < depth + 1 - kMateValue;
    if (mateMoves > 0) mateFound = score >= kMateValue - 2 * mateMoves;
    if (stopped() || mateFound || depth >= control.limits.depth_limit || singleListedMove(t)) break;
    // A soft node budget ends the search between iterations only.
    const uint64_t soft = control.limits.soft_node_limit;
    if (r.main && soft && t.nodes.load(std::memory_order_relaxed) >= soft) break;
  }
  if (r.main) stop_requested = 1;
}

}  // namespace search
