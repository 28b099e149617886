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

// dst[1] = first, then the child's line rest[2..] (a 0 ends it).
void copyLine(Move* dst, Move first, const Move* rest) {
  dst[0] = 0;
  dst[1] = first;
  int i = 2;
  for (; i < kStackSize && rest[i]; ++i) dst[i] = rest[i];
  if (i < kStackSize) dst[i] = 0;
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
    char head[256];
    snprintf(head, sizeof head, "info %sdepth %d seldepth %d score %s time %.0f nodes %.0f nps %.0f tbhits %.0f hashfull %.0f pv ",
             prefix, depth, control.sel_depth - 1, scoreText(score).c_str(), elapsed * 1000.0,
             static_cast<double>(control.total_nodes), elapsed > 0.001 ? control.total_nodes / elapsed : 0.0,
             static_cast<double>(control.total_tbhits), static_cast<double>(full));
    text = head + lineText(line, kMaxLineMoves);
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
  if (threads[0]) reportSearchInfo(*threads[0], lineNumber, depth, score, line);
}

double effectiveBranchingFactor() {
  const int d = control.last_iteration_depth;
  if (d <= 5) return 2.0;
  const double a = static_cast<double>(control.nodes_by_depth[d]), b = static_cast<double>(control.nodes_by_depth[d - 4]);
  if (a == 0 || b == 0) return 2.0;
  return std::pow(a / b, 0.25);
}

void rootSearch(SearchThread& t) {
  Position& pos = t.position;
  const bool main = t.threadIndex == 0;
  resetThreadTables(t);
  StackEntry& root = t.stack[1];
  root.checker = kNoSquare;
  root.movesSearched = 0;
  root.tbResult = -1;
  root.moveClass = 0;
  root.reSearching = 0;
  t.stack[0] = StackEntry{};
  t.seed = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^ (t.threadIndex * 2654435761u);

  const int us = pos.sideToMove;
  const int checker = findAttacker(pos, pos.kingSquare[us], us ^ 1, occupied(pos));
  const bool inCheck = checker != kNoSquare;
  root.checker = static_cast<uint8_t>(checker);
  root.inCheck = inCheck;
  const int rootEval = staticEvaluation(t, 1, inCheck);
  t.threadBestScore = rootEval;
  root.staticEval = static_cast<int16_t>(rootEval);

  Move quietLine[kStackSize] = {};
  if (main) {
    applySelectivity(control.settings);
    if (!inCheck) {
      t.pv[1][1] = t.pv[1][2] = 0;  // no line left over from an earlier search
      quiesce(t, 1, 0, -kInfinity, kInfinity, 0);
      for (int i = 1; i < kStackSize && t.pv[1][i]; ++i) quietLine[i] = t.pv[1][i];
    }
    control.root_tb_result = kTbRootNone;
  }

  MoveEntry list[kMaxMoves];
  MoveEntry* end = generateAll(pos, list);
  t.rootMoveCount = 0;
  for (MoveEntry* e = list; e != end; ++e)
    if (isLegal(pos, us, e->move)) t.rootMoves[t.rootMoveCount++] = *e;
  if (t.rootMoveCount == 0) {
    t.threadBestScore = inCheck ? kMatedAtRoot : 0;
    t.threadCompletedDepth = 1;
    if (main) {
      control.best_score = t.threadBestScore.load();
      control.completed_depth = 1;
      control.best_line[1] = 0;
      control.score_history[1] = t.threadBestScore.load();
      stop_requested = 1;
    }
    return;
  }
  scoreRootMoves(t);
  if (main) {
    control.one_reply = t.rootMoveCount == 1;
    // A search stopped before its first move completes still answers a legal move.
    int first = 0;
    for (int i = 1; i < t.rootMoveCount; ++i)
      if (t.rootMoves[i].score > t.rootMoves[first].score) first = i;
    control.best_line[1] = t.rootMoves[first].move;
    control.best_line[2] = 0;
  }

  if (control.limits.depth_limit == 0 && main) {
    // The quiescence line, or the best-ordered legal move when it has none
    // (in check, or nothing worth capturing), so the answer is always legal.
    if (!quietLine[1]) {
      selectRootMove(t, 0);
      quietLine[1] = t.rootMoves[0].move;
      quietLine[2] = 0;
    }
    std::copy(quietLine, quietLine + kStackSize, control.best_line);
    control.best_score = t.threadBestScore.load();
    stop_requested = 1;
    return;
  }
  if (!main && control.root_tb_result.load() != kTbRootNone) return;

  t.threadCompletedDepth = 0;
  for (int d = 1;; ++d) {
    if (d + t.history.undoCount > 883 || d + 1 > 68) break;
    int depth = d;
    if (!main && d > 5 && d < control.limits.depth_limit && control.multi_pv == 1) {
      const int n = threadCount, k = (n + 14) / 4;
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
    }
    if (main) control.iteration_depth = depth;
    t.threadIterationDepth = depth;
    root.depth = static_cast<int16_t>(depth);

    for (int line = 0; line < control.multi_pv && line < t.rootMoveCount; ++line) {
      const int V = t.threadBestScore.load();
      t.failState = kNotFailing;
      int delta = std::abs(V) / 16 + 25;
      int alpha, beta;
      if (depth >= 6) {
        alpha = V - delta;
        beta = V + delta;
      } else if (depth >= 2) {
        delta += 60 - 10 * depth;
        alpha = V - delta;
        beta = V + delta;
      } else {
        alpha = -kInfinity;
        beta = kInfinity;
        delta += 50;
      }
      while (!stopped()) {
        if (alpha < -5000) alpha = -kInfinity;
        if (beta > 5000) beta = kInfinity;
        int best = -kInfinity;
        int searched = 0;
        root.movesSearched = 0;
        for (int i = line; i < t.rootMoveCount; ++i) {
          selectRootMove(t, i);
          MoveEntry& e = t.rootMoves[i];
          const Move m = e.move;
          const int moveClass = moveClassOf(pos, m);
          root.moveClass = static_cast<uint16_t>(moveClass);
          e.score = static_cast<int16_t>(kSearchedOrder - searched);
          const float elapsed = control.elapsed.load(std::memory_order_relaxed);
          if (main && line == 0 && platform::uci_mode && elapsed > 3.5f && elapsed > control.settings.noise) progressLines(t, searched, m);
          int reduction = 0;
          if (main && line == 0 && depth >= 6 && searched >= 5 && !inCheck && moveClass == 0) {
            int previous = control.score_history[depth - 1];
            int bar = previous < kLossBand + kRootReductionMargin ? kTbLossAtRoot : previous - kRootReductionMargin;
            if (bar < best && pos.pieceMaterial[us] > 0 && (pos.materialSignature[us] & 15)) reduction = 1;
          }
          root.currentMove = m;
          root.currentPiece = e.piece;
          ttPrefetch(makeMove(pos, m));
          int score;
          if (searched == 0 || (depth <= 1 && control.settings.target_nps > kFullWindowBelowNps)) {
            score = -search(t, 2, depth - 1, -beta, -alpha, 0);
            e.score = static_cast<int16_t>(std::clamp(score, -32000, 32000));
          } else {
            const int a = std::max(alpha, best);
            score = -search(t, 2, depth - 1 - reduction, -a - 1, -a, 1);
            if (score > a && !stopped()) {
              root.reSearching = 1;
              score = -search(t, 2, depth - 1, -beta, -alpha, 0);
              root.reSearching = 0;
              if (score > alpha) e.score = static_cast<int16_t>(std::clamp(score, -32000, 32000));
            }
          }
          unmakeMove(pos);
          if (stopped()) break;
          ++searched;
          root.movesSearched = static_cast<int16_t>(searched);
          if (score > best) {
            t.threadBestScore = score;
            t.threadBestMove = m;
            t.threadCompletedDepth = depth;
            copyLine(t.threadLine, m, t.pv[2]);
            if (main) completeLine(t, t.threadLine, depth, score);
            if (main && line == 0) {
              // best_line[1] holds a stand-in move until the first one is searched.
              if (m != control.best_line[1] || control.completed_depth == 0) control.best_change_depth = depth;
              control.best_score = score;
              control.completed_depth = depth;
              std::copy(t.threadLine, t.threadLine + kStackSize, control.best_line);
              control.score_history[depth] = score;
              const float el = control.elapsed.load(std::memory_order_relaxed);
              if (depth > 1 && control.multi_pv == 1 && (stopped() || el >= control.settings.noise) && control.settings.noise < kNoOutput)
                reportSearchInfo(t, 0, depth, score, control.best_line);
            }
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
        if (stopped()) break;
        if (best > alpha && best < beta) break;
        if (best <= alpha) alpha -= delta;
        if (best >= beta) beta += delta;
        delta *= 2;
      }
      if (stopped()) break;
      if (main && control.multi_pv > 1 && (stopped() || control.elapsed.load() >= control.settings.noise) &&
          control.settings.noise < kNoOutput &&
          t.threadLine[1])
        reportSearchInfo(t, line + 1, depth, t.threadBestScore, t.threadLine);
    }
    {
      std::lock_guard<std::mutex> guard(statsLock);
      control.nodes_by_depth[std::min(depth, kStackSize - 1)] += t.nodes.load(std::memory_order_relaxed);
    }
    if (main && !stopped()) {
      control.last_iteration_time = control.elapsed.load();
      control.last_iteration_depth = depth;
    }
    const int score = t.threadBestScore.load();
    // A mate within the depth searched is final.
    const bool mateFound = score >= kMateValue - 1 - depth || score < depth + 1 - kMateValue;
    if (stopped() || mateFound || depth >= control.limits.depth_limit) break;
  }
  if (main) stop_requested = 1;
}

}  // namespace search
