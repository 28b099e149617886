// Completing the principal variation a search reports. Table cuts end the
// collected line early; the table's moves carry it on to the depth searched.
// A mate score's line must run to the mate exactly: table entries are taken
// only when their score fits the line, and the last few plies are worked out
// here when the table does not hold them.
#include <algorithm>
#include <cstdlib>

#include "board/attacks.h"
#include "search/search.h"

namespace search {

using namespace board;

namespace {

constexpr int kMaxLineMoves = 66;
constexpr int kMostSolvedPlies = 3;
// Moves the mate completion may make at the most (a few milliseconds).
constexpr int kSolverBudget = 5000;

struct Budget {
  int left = kSolverBudget;
  bool spend() { return --left >= 0; }
};

bool isMated(Position& pos) {
  MoveEntry list[kMaxMoves];
  return inCheck(pos, pos.sideToMove) && generateLegal(pos, list) == 0;
}

// A move of the side to move that mates at once, or 0.
Move mateInOne(Position& pos, Budget& budget) {
  MoveEntry list[kMaxMoves];
  const int n = generateLegal(pos, list);
  for (int i = 0; i < n && budget.spend(); ++i) {
    makeMove(pos, list[i].move);
    const bool mates = isMated(pos);
    unmakeMove(pos);
    if (mates) return list[i].move;
  }
  return 0;
}

// The side to move is mated in exactly two plies: one reply and the mate.
bool replyThenMate(Position& pos, Budget& budget, Move* out) {
  MoveEntry list[kMaxMoves];
  const int n = generateLegal(pos, list);
  for (int i = 0; i < n && budget.spend(); ++i) {
    makeMove(pos, list[i].move);
    const Move mate = mateInOne(pos, budget);
    unmakeMove(pos);
    if (mate) {
      out[0] = list[i].move;
      out[1] = mate;
      return true;
    }
  }
  return false;
}

// Every reply to the move just made is mated at once (and there is one).
bool allRepliesMated(Position& pos, Budget& budget, Move* firstPair) {
  MoveEntry list[kMaxMoves];
  const int n = generateLegal(pos, list);
  if (n == 0) return false;
  for (int i = 0; i < n; ++i) {
    if (!budget.spend()) return false;
    makeMove(pos, list[i].move);
    const Move mate = mateInOne(pos, budget);
    unmakeMove(pos);
    if (!mate) return false;
    if (i == 0) {
      firstPair[0] = list[i].move;
      firstPair[1] = mate;
    }
  }
  return true;
}

// The side to move mates in exactly three plies; checks are tried first.
bool mateInThreePlies(Position& pos, Budget& budget, Move* out) {
  MoveEntry list[kMaxMoves];
  const int n = generateLegal(pos, list);
  for (int pass = 0; pass < 2; ++pass)
    for (int i = 0; i < n && budget.left > 0; ++i) {
      if (givesCheck(pos, list[i].move) != (pass == 0)) continue;
      makeMove(pos, list[i].move);
      const bool forced = allRepliesMated(pos, budget, out + 1);
      unmakeMove(pos);
      if (forced) {
        out[0] = list[i].move;
        return true;
      }
    }
  return false;
}

bool solveMate(Position& pos, int plies, Move* out) {
  Budget budget;
  if (plies == 1) return (out[0] = mateInOne(pos, budget)) != 0;
  if (plies == 2) return replyThenMate(pos, budget, out);
  if (plies == 3) return mateInThreePlies(pos, budget, out);
  return false;
}

// The table score a node on a mate line must hold, `made` moves from the
// root (the table keeps mate scores as distances from the node).
int expectedEntryScore(int rootScore, int made) {
  const int ply = made + 1;
  const int nodeScore = made % 2 == 0 ? rootScore : -rootScore;
  return nodeScore > 0 ? nodeScore + ply : nodeScore - ply;
}

// Appends table moves while they lead on; returns the new length.
int walkTable(Position& pos, Move* line, int made, int wanted, bool mate, int score) {
  while (made < wanted && made + 2 < kStackSize) {
    HashProbe h;
    if (isDraw(pos, made) || !ttProbe(pos, h) || !h.move) break;
    if (mate && h.score != expectedEntryScore(score, made)) break;
    makeMove(pos, h.move);
    if (isDraw(pos, made + 1)) {
      unmakeMove(pos);
      break;
    }
    line[++made] = h.move;
    line[made + 1] = 0;
  }
  return made;
}

// A mate line that stops short, or ends without the mate, gets its last plies
// worked out. Returns the new length (the moves stay made).
int finishMate(Position& pos, Move* line, int made, int wanted) {
  Move tail[kMostSolvedPlies];
  if (made < wanted) {
    if (wanted - made > kMostSolvedPlies || !solveMate(pos, wanted - made, tail)) return made;
    for (int i = 0; made < wanted; ++i) {
      line[++made] = tail[i];
      line[made + 1] = 0;
      makeMove(pos, tail[i]);
    }
    return made;
  }
  if (isMated(pos)) return made;
  // The line has its length but not the mate: replace its tail.
  for (int k = 1; k <= kMostSolvedPlies && k <= made; ++k) {
    for (int i = 0; i < k; ++i) unmakeMove(pos);
    if (solveMate(pos, k, tail)) {
      for (int i = 0; i < k; ++i) {
        line[made - k + 1 + i] = tail[i];
        makeMove(pos, tail[i]);
      }
      return made;
    }
    for (int i = made - k + 1; i <= made; ++i) makeMove(pos, line[i]);
  }
  return made;
}

}  // namespace

void completeLine(SearchThread& t, Move* line, int depth, int score) {
  const bool mate = std::abs(score) > kMateShownAbove;
  const int wanted = std::min(kMaxLineMoves, mate ? kMateValue - std::abs(score) - 1 : depth);
  Position& pos = t.position;
  int made = 0;
  while (made + 1 < kStackSize - 1 && line[made + 1]) makeMove(pos, line[++made]);
  if (ttIsEnabled()) made = walkTable(pos, line, made, wanted, mate, score);
  if (mate) made = finishMate(pos, line, made, wanted);
  for (int i = 0; i < made; ++i) unmakeMove(pos);
}

}  // namespace search
