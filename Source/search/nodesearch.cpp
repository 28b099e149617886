// The node search below the root: principal-variation alpha-beta with the
// table, razoring, threat pruning, null move, internal iterative deepening,
// late-move and exchange pruning, and late-move reductions.
#include <algorithm>
#include <cmath>

#include "board/attacks.h"
#include "eval/nn.h"
#include "search/search.h"
#include "syzygy/syzygy.h"

namespace search {

using namespace board;

namespace {


// Late-move reductions: the table value plus these adjustments.
constexpr float kLmrNonPvBonus = 1.2f, kLmrFarFactor = 0.7f;
constexpr int kLmrWellOrdered = 31, kLmrFarFromHorizon = 5, kLmrMost = 4;

// A quiet move that late-move pruning keeps because it creates a threat.
bool createsThreat(const Position& pos, Move m) {
  const int us = pos.sideToMove, them = us ^ 1;
  const int from = moveFrom(m), to = moveTo(m);
  const int type = typeOf(pos.board[from]);
  const auto& e = pos.pieces[them];
  const auto& own = pos.pieces[us];
  const Bitboard zone = kingAttacks[pos.kingSquare[them]];
  const Bitboard occ = occupied(pos);
  const Bitboard after = (occ & ~bit(from)) | bit(to);
  switch (type) {
    case kPawn:
      return pawnAttacks[us][to] & (e[kKnight] | e[kBishop] | e[kRook] | e[kQueen] | zone);
    case kKnight:
      return knightAttacks[to] & (e[kRook] | e[kQueen] | zone);
    case kKing:
      return false;
    default:
      break;
  }
  if (type == kBishop && (bishopAttacks(to, after) & ~bishopAttacks(from, occ) & (e[kRook] | e[kQueen]))) return true;
  if (type == kRook && (rookAttacks(to, after) & ~rookAttacks(from, occ) & e[kQueen])) return true;
  // Sliders reaching the king zone, seeing through own sliders of their kind.
  auto reach = [&](int sq, Bitboard o) {
    Bitboard a = 0;
    if (type == kBishop || type == kQueen) a |= bishopAttacks(sq, o & ~(own[kBishop] | own[kQueen]));
    if (type == kRook || type == kQueen) a |= rookAttacks(sq, o & ~(own[kRook] | own[kQueen]));
    return a;
  };
  Bitboard fresh = reach(to, after) & ~reach(from, occ) & zone;
  while (fresh) {
    int sq = popLowest(fresh);
    if (attackersOf(pos, sq, us, occ) & ~bit(from)) return true;
  }
  return false;
}

// Static threat pruning: the side can afford what it is threatened with.
bool sepPrune(SearchThread& t, int ply, int depth, int eval, int beta) {
  const Position& pos = t.position;
  const int us = pos.sideToMove, them = us ^ 1;
  int threat = t.stack[ply].threat[us];
  if (eval::eval_mode != eval::kHandCrafted) {
    // The network leaves no threat record; estimate the largest one here.
    const Bitboard advanced = them == kWhite ? 0x00FFFF0000000000ull : 0x0000000000FFFF00ull;
    Bitboard runners = pos.pieces[them][kPawn] & advanced;
    const Bitboard empty = ~occupied(pos);
    if (them == kWhite ? ((runners << 8) & empty) : ((runners >> 8) & empty)) threat = std::max(threat, 350);
    Bitboard targets = pos.pieces[us][kQueen];
    if (beta + 100 > eval) targets |= pos.pieces[us][kPawn];
    if (beta + 335 > eval) targets |= pos.pieces[us][kKnight] | pos.pieces[us][kBishop];
    if (beta + 535 > eval) targets |= pos.pieces[us][kRook];
    while (targets) threat = std::max(threat, staticExchange(pos, them, kNoSquare, popLowest(targets)));
  }
  return eval - threat >= beta + sel.SEP_margin[std::min(depth, 11)];
}

// Late-move pruning of quiet moves past the count (unless they threaten
// something) and exchange pruning of losing moves, near the horizon.
bool prunedLate(const Position& pos, const StackEntry& s, int depth, const MoveEntry& e, int moveClass) {
  if (moveClass == 0 && s.movesSearched >= sel.LMP_count[std::min(depth, 11)] + e.score / 4 && !createsThreat(pos, e.move))
    return true;
  return failsExchange(pos, e.move);
}

// The table's reduction for depth and move number, more at non-PV nodes and
// far from the iteration's horizon, less for well-ordered moves; at most one
// for tactical moves, one more for losing ones, never past depth 1.
int lateMoveReduction(const Position& pos, const StackEntry& s, int ply, int depth, int nodeType, const MoveEntry& e,
                      int moveClass, int iterationDepth) {
  const int d = std::min(depth, 31);
  float x = sel.LMR_table[d][std::min<int>(s.movesSearched, 31)];
  if (nodeType != kPvNode) x += kLmrNonPvBonus;
  if (e.score > kLmrWellOrdered) x -= 1.0f;
  if (ply + d < iterationDepth - kLmrFarFromHorizon) x *= kLmrFarFactor;
  const int r = static_cast<int>(std::lround(x));
  int R = r < 0 ? 0 : (moveClass != 0 && r >= 2) ? 1 : std::min(r, kLmrMost);
  if (failsExchange(pos, e.move)) ++R;
  if (d - R < 1) R = d - 1;
  return R;
}

int searchMoves(SearchThread& t, int ply, int depth, int alpha, int beta, bool inCheck, int nodeType) {
  Position& pos = t.position;
  StackEntry& s = t.stack[ply];
  const int alphaAtEntry = alpha;
  int best = -kInfinity;
  Move bestMove = 0;
  s.movesSearched = 0;
  const bool pruningAllowed = depth >= 1 && depth <= sel.LMP_depth && !inCheck && nodeType != 0 && !s.iidActive;
  const int iterationDepth = t.threadIterationDepth.load(std::memory_order_relaxed);
  Move* pv = t.pv[ply];
  startPicker(t, ply, kPickMain);
  for (MoveEntry* e; (e = pickNextMove(t, ply));) {
    const Move m = e->move;
    if (m == 0 || (m == s.ttMove && e != &s.ttEntry)) continue;
    if (!isLegal(pos, pos.sideToMove, m)) continue;
    const int moveClass = moveClassOf(pos, m);
    s.moveClass = static_cast<uint16_t>(moveClass);
    int R = 0;
    if (best >= kLossBand) {  // no pruning while every move so far loses
      if (pruningAllowed && !(depth > 1 && moveClass != 0) && prunedLate(pos, s, depth, *e, moveClass)) continue;
      if (depth >= sel.LMR_depth) R = lateMoveReduction(pos, s, ply, depth, nodeType, *e, moveClass, iterationDepth);
    }
    s.currentMove = m;
    s.currentPiece = e->piece;
    ttPrefetch(makeMove(pos, m));
    int score;
    if (s.movesSearched == 0 || depth < 2) {
      score = -search(t, ply + 1, depth - 1, -beta, -alpha, -nodeType);
    } else {
      score = -search(t, ply + 1, depth - R - 1, -alpha - 1, -alpha, 1);
      if (score > alpha && !stop_requested.load(std::memory_order_relaxed)) {
        s.reSearching = 1;
        score = -search(t, ply + 1, depth - 1, -beta, -alpha, nodeType != 0 ? -1 : 0);
        s.reSearching = 0;
      }
    }
    unmakeMove(pos);
    if (stop_requested.load(std::memory_order_relaxed)) return 0;
    ++s.movesSearched;
    if (e->captured == 0 && depth > 0) updateQuietStats(t, ply, m, e->piece, depth, score, alpha);
    if (score > best) {
      best = score;
      bestMove = m;
      pv[ply] = m;
      pv[ply + 1] = 0;
      if (score > alpha) {
        if (score >= beta) break;
        alpha = score;
        copyChildLine(t, ply);
      }
    }
  }
  int storeAlpha = alphaAtEntry, storeBeta = beta;
  if (bestMove == 0) {
    best = inCheck ? ply - kMateValue : 0;
    storeAlpha = -kInfinity;
    storeBeta = kInfinity;
  }
  if (depth >= 0) ttStore(pos, ply, depth, bestMove, best, storeAlpha, storeBeta);
  return best;
}

}  // namespace

bool failsExchange(const Position& pos, Move m) {
  const int from = moveFrom(m), to = moveTo(m);
  const int mover = typeOf(pos.board[from]);
  if (kExchangeRank[mover] <= kExchangeRank[typeOf(pos.board[to])]) return false;
  if (mover == kPawn && to == pos.epSquare) return false;
  return staticExchange(pos, pos.sideToMove, from, to) < -70;
}

void copyChildLine(SearchThread& t, int ply) {
  if (ply + 1 >= kStackSize) return;
  Move* pv = t.pv[ply];
  const Move* child = t.pv[ply + 1];
  for (int i = ply + 1; i < kStackSize; ++i) {
    pv[i] = child[i];
    if (!child[i]) break;
  }
}

int moveClassOf(const Position& pos, Move m) {
  const int from = moveFrom(m), to = moveTo(m);
  const int type = typeOf(pos.board[from]);
  int c = 0;
  if (pos.board[to] || (type == kPawn && to == pos.epSquare)) c |= kClassCapture;
  if (givesCheck(pos, m)) c |= kClassCheck;
  if (type != kPawn) return c;
  const int us = pos.sideToMove;
  const int relRank = us == kWhite ? rankOf(to) : 7 - rankOf(to);
  if (relRank == 7) return c | kClassPawnRush | ((m & kPromoQueen) || !isPromotion(m) ? kClassQueening : 0);
  if (relRank == 6) return c | kClassPawnRush | kClassSeventh;
  if (relRank == 5) {
    // A passed pawn reaching its sixth rank with the way ahead open.
    const int ahead = to + kForward[us];
    const Bitboard front = bit(ahead) | bit(ahead + kForward[us]);
    const Bitboard files = front | sideways(front);
    if (!pos.board[ahead] && !(files & pos.pieces[us ^ 1][kPawn])) c |= kClassPawnRush;
  }
  return c;
}

int staticEvaluation(SearchThread& t, int ply, bool inCheck) {
  const Position& pos = t.position;
  StackEntry& s = t.stack[ply];
  int eval = eval::evaluatePosition(pos, t.evalState, ply, inCheck, control.nn_noise, s.threat);
  return eval * (128 - pos.rule50) / 128;
}

namespace {

// Thread 0 reads the clock itself once per this many nodes (under a millisecond).
constexpr uint64_t kDeadlineCheckMask = 1023;
// Nodes beyond this ply return their static score.
constexpr int kMaxSearchPly = 65;
// A dangerous pawn move (promotion, push to the seventh) is extended below this depth.
constexpr int kPawnRushExtensionBelow = 3;
// Null move: R = 4 from depth 10 with more than a minor piece, else 3; a
// fail-high from depth 6 on reduces the node by 5 instead of cutting it.
constexpr int kNullDeepFrom = 10, kNullDeepReduction = 4, kNullReduction = 3;
constexpr int kNullVerifyFrom = 6, kNullFailHighReduction = 5;
// Internal iterative deepening: depth - 3 at PV nodes and after razoring,
// depth - 5 (one more below depth 9) elsewhere, when the static score is
// no more than 199 below alpha.
constexpr int kIidPvReduction = 3, kIidReduction = 5, kIidShallowBelow = 9, kIidEvalMargin = 199;

// 1. Node accounting; true when the search must stop here.
bool mustStop(SearchThread& t) {
  // Only this thread writes its counter: a plain increment, readable by others.
  const uint64_t nodes = t.nodes.load(std::memory_order_relaxed) + 1;
  t.nodes.store(nodes, std::memory_order_relaxed);
  if (limit_active && control.iteration_depth.load(std::memory_order_relaxed) >= 2 &&
      !stop_requested.load(std::memory_order_relaxed))
    throttle(t);
  if (nodes > t.nodeLimit && t.threadCompletedDepth.load(std::memory_order_relaxed) >= 2) stop_requested = 1;
  if ((nodes & kDeadlineCheckMask) == 0 && t.threadIndex == 0) checkDeadline();
  return stop_requested.load(std::memory_order_relaxed) != 0;
}

// 3. The stack entry of a new node; returns whether the side to move is in check.
bool enterNode(SearchThread& t, int ply, int nodeType) {
  StackEntry& s = t.stack[ply];
  s.threat[0] = s.threat[1] = 0;
  s.tbResult = -1;
  s.movesSearched = 0;
  s.iidActive = s.reSearching = 0;
  s.moveClass = 0;
  s.ttMove = 0;
  t.pv[ply][ply] = t.pv[ply][ply + 1] = 0;
  if (nodeType >= kAllNode && nodeType <= kCutNode) ++t.nodeTypeCount[nodeType + 1];
  const Position& pos = t.position;
  const int us = pos.sideToMove;
  const int checker = findAttacker(pos, pos.kingSquare[us], us ^ 1, occupied(pos));
  s.checker = static_cast<uint8_t>(checker);
  s.inCheck = checker != kNoSquare;
  return s.inCheck;
}

// 5. Check, a piece captured into a pawn ending, or a dangerous pawn move near the horizon.
int extensionOf(const SearchThread& t, int ply, int depth, bool inCheck) {
  if (inCheck) return 1;
  const Position& pos = t.position;
  if (pos.pieceMaterial[pos.sideToMove] == 0) {
    const int captured = t.history.undoCount > 0 ? t.history.undoStack[t.history.undoCount - 1].capturedType : 0;
    if (captured >= kKnight && captured <= kQueen) return 1;
  }
  return depth < kPawnRushExtensionBelow && (t.stack[ply - 1].moveClass & kClassPawnRush) ? 1 : 0;
}

// What the table said of the node.
struct TableHint {
  int depth = 0;
  bool low = false, high = false;  // the entry bounds the score below alpha / above beta
};

// 6. The table probe; true with cut set when the entry settles a non-PV node.
bool probeTable(SearchThread& t, int ply, int depth, int alpha, int beta, int nodeType, TableHint& hint, int& cut) {
  const Position& pos = t.position;
  ++t.ttProbes;
  HashProbe h;
  if (!ttProbe(pos, h)) return false;
  ++t.ttHits;
  t.stack[ply].ttMove = h.move;
  hint.depth = h.depth;
  int v = h.score;
  if (v < kLossBand) v += ply;
  else if (v > kWinBand) v -= ply;
  hint.low = v <= alpha && h.bound != kBoundLower;
  hint.high = v >= beta && h.bound != kBoundUpper;
  // An entry that could straddle a fifty-move draw does not cut.
  if (depth > hint.depth || nodeType == kPvNode || pos.rule50 + hint.depth >= kFiftyMovePlies) return false;
  if (hint.low) cut = alpha;
  else if (hint.high) cut = beta;
  else return false;
  return true;
}

// 10. The null move, tried when the side has pieces and pawns and no null
// move was made just before. Returns the reduced depth, or -1 for a cut.
int nullMoveDepth(SearchThread& t, int ply, int depth, int alpha, int beta, int nodeType) {
  Position& pos = t.position;
  StackEntry& s = t.stack[ply];
  const int us = pos.sideToMove;
  int R = (depth >= kNullDeepFrom && pos.pieceMaterial[us] > 3) ? kNullDeepReduction : kNullReduction;
  if (depth - R < 1) --R;
  s.currentMove = 0;
  s.currentPiece = 0;
  s.moveClass = 0;
  ttPrefetch(makeNullMove(pos));
  const int score = -search(t, ply + 1, depth - R - 1, -beta, -alpha, -nodeType);
  unmakeNullMove(pos);
  if (stop_requested.load(std::memory_order_relaxed) || score < beta) return depth;
  if (depth < kNullVerifyFrom) return -1;
  s.depth = static_cast<int16_t>(depth - kNullFailHighReduction);
  return depth - kNullFailHighReduction;
}

// 7. The tablebase probe. Below an unprobed parent the node ends with the
// table's value (raised to alpha); below a probed one only a move that gave
// the parent's result away is cut. True when the node ends with out.
bool tablebaseCut(SearchThread& t, int ply, int depth, int& alpha, int beta, int& out) {
  const Position& pos = t.position;
  if (popCount(occupied(pos)) > tablebaseMenLimit()) return false;
  StackEntry& s = t.stack[ply];
  const SearchSettings& set = control.settings;
  const int r = syzygy::probeWdlInSearch(pos, depth, set.tb_min_depth, set.tb_probe_depth6);
  s.tbResult = r;
  if (r < 0) return false;
  ++t.tbHits;
  const int parent = t.stack[ply - 1].tbResult;
  if (parent < 0) {
    const int v = r == syzygy::kTbLoss ? ply - kTbWinScore - 1 : r == syzygy::kTbWin ? kTbWinScore - ply : 0;
    if (v > alpha) {
      alpha = v;
      if (v >= beta) {
        out = v;
        return true;
      }
    }
    out = alpha;
    return true;
  }
  if (r + parent >= 2 * syzygy::kTbCursedWin) {
    out = beta;
    return true;
  }
  return false;
}

int iidDepthOf(int depth, bool pvLike) {
  return pvLike ? depth - kIidPvReduction : depth - kIidReduction + (depth < kIidShallowBelow ? 1 : 0);
}

}  // namespace

int search(SearchThread& t, int ply, int depth, int alpha, int beta, int nodeType) {
  Position& pos = t.position;
  // 1. Accounting, limits and the stop flag.
  if (mustStop(t)) return 0;
  if (ply > t.selDepth) t.selDepth = ply;

  // 2. Mate-distance window.
  alpha = std::max(alpha, ply - kMateValue);
  beta = std::min(beta, kMateValue - 1 - ply);
  if (alpha >= beta) return alpha;

  // 3. The node's stack entry.
  const bool inCheck = enterNode(t, ply, nodeType);
  StackEntry& s = t.stack[ply];
  const StackEntry& parent = t.stack[ply - 1];
  const int us = pos.sideToMove;

  // 4. Draws (ply 2 is one move from the root) and the ply limit.
  if (isDraw(pos, ply - 1)) return 0;
  if (ply > kMaxSearchPly) return inCheck ? 0 : staticEvaluation(t, ply, false);

  // 5. Extensions.
  depth += extensionOf(t, ply, depth, inCheck);
  s.depth = static_cast<int16_t>(depth);

  // 6. Transposition table.
  TableHint hint;
  int cut = 0;
  if (depth >= 0 && ttIsEnabled() && probeTable(t, ply, depth, alpha, beta, nodeType, hint, cut)) return cut;
  // 7. Tablebases, where no reversible move has been made or the parent was probed.
  if ((pos.rule50 == 0 || parent.tbResult != -1) && tablebaseCut(t, ply, depth, alpha, beta, cut)) return cut;

  // 8. Static evaluation; in check every move is searched, at the horizon
  // the quiescence search takes over.
  const int eval = staticEvaluation(t, ply, inCheck);
  s.staticEval = static_cast<int16_t>(eval);
  if (inCheck) return searchMoves(t, ply, depth, alpha, beta, true, nodeType);
  if (depth <= 0) return quiesce(t, ply, depth, alpha, beta, nodeType);

  // 9. Razoring: far below alpha near the horizon, a non-PV node drops into quiescence.
  int iidDepth;
  const int d11 = std::min(depth, 11);
  if (depth <= sel.FP_depth && eval <= alpha - sel.FP_margin[d11] && !hint.high && alpha <= kWinBand) {
    if (nodeType != kPvNode) return quiesce(t, ply, depth, alpha, beta, nodeType);
    iidDepth = iidDepthOf(depth, true);
  } else if (eval >= beta + sel.BP_margin) {
    // 10. Well above beta: threat pruning, then the null move (non-PV nodes).
    if (nodeType == kPvNode) {
      iidDepth = iidDepthOf(depth, true);
    } else {
      const bool hasPawn = (pos.materialSignature[us] & kSignaturePawns) != 0;
      if (!parent.reSearching && !hint.low && pos.pieceMaterial[us] > 0 && hasPawn && beta > kTbLossAtRoot) {
        if (depth <= sel.SEP_depth && sepPrune(t, ply, depth, eval, beta)) return beta;
        const bool nullBefore = parent.currentMove == 0 || (ply >= 3 && t.stack[ply - 2].currentMove == 0);
        if (depth >= sel.NMP_depth && !nullBefore) {
          depth = nullMoveDepth(t, ply, depth, alpha, beta, nodeType);
          if (stop_requested.load(std::memory_order_relaxed)) return 0;
          if (depth < 0) return beta;
        }
      }
      iidDepth = iidDepthOf(depth, false);
    }
  } else {
    iidDepth = iidDepthOf(depth, nodeType == kPvNode);
  }

  // 11. Internal iterative deepening finds a move to try first.
  if (std::max(hint.depth, 0) < iidDepth && eval >= alpha - kIidEvalMargin) {
    s.iidActive = 1;
    searchMoves(t, ply, iidDepth, alpha, beta, false, nodeType);
    s.iidActive = 0;
    if (stop_requested.load(std::memory_order_relaxed)) return 0;
    s.ttMove = t.pv[ply][ply];
  }

  // 12. The moves.
  return searchMoves(t, ply, depth, alpha, beta, false, nodeType);
}

}  // namespace search
