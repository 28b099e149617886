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
constexpr int kMostSolvedPlies = 7;   // a missing end of a mate line
constexpr int kMostReplacedPlies = 3;  // a wrong end of one
// Moves the mate completion may make at the most (some milliseconds; a
// position that fails is not tried again).
constexpr int kSolverBudget = 12000;

struct Budget {
  int left = kSolverBudget;
  bool spend() { return --left >= 0; }
};

bool isMated(Position& pos) {
  MoveEntry list[kMaxMoves];
  return inCheck(pos, pos.sideToMove) && generateLegal(pos, list) == 0;
}

bool loserMatedIn(Position& pos, int plies, Move* line, Budget& budget);

// The side to move mates in exactly `plies` plies (odd): line[0..plies-1].
// Checks are tried first, quiet moves after them; what is not found within
// the budget is not found.
bool winnerMatesIn(Position& pos, int plies, Move* line, Budget& budget) {
  MoveEntry list[kMaxMoves];
  const int n = generateLegal(pos, list);
  for (int pass = 0; pass < (plies > 1 ? 2 : 1); ++pass)
    for (int i = 0; i < n; ++i) {
      const Move m = list[i].move;
      if (plies > 1 && givesCheck(pos, m) != (pass == 0)) continue;
      if (!budget.spend()) return false;
      makeMove(pos, m);
      const bool forced = plies == 1 ? isMated(pos) : loserMatedIn(pos, plies - 1, line + 1, budget);
      unmakeMove(pos);
      if (forced) {
        line[0] = m;
        return true;
      }
    }
  return false;
}

// The side to move is mated in exactly `plies` plies (even, at least 2)
// whatever it plays; line gets a reply that holds out that long.
bool loserMatedIn(Position& pos, int plies, Move* line, Budget& budget) {
  MoveEntry list[kMaxMoves];
  const int n = generateLegal(pos, list);
  if (n == 0) return false;
  bool chosen = false;
  Move rest[kMostSolvedPlies];
  for (int i = 0; i < n; ++i) {
    if (!budget.spend()) return false;
    makeMove(pos, list[i].move);
    // A reply that allows a quicker mate is mated too, but not shown.
    const bool quicker = plies >= 4 && winnerMatesIn(pos, plies - 3, rest, budget);
    const bool mated = quicker || winnerMatesIn(pos, plies - 1, rest, budget);
    unmakeMove(pos);
    if (!mated) return false;
    if (!chosen && !quicker) {
      line[0] = list[i].move;
      std::copy(rest, rest + plies - 1, line + 1);
      chosen = true;
    }
  }
  return chosen;
}

// The last `plies` plies of a mate line, from whichever side is to move.
bool solveMate(Position& pos, int plies, bool winnerToMove, Move* out) {
  Budget budget;
  return winnerToMove ? winnerMatesIn(pos, plies, out, budget) : loserMatedIn(pos, plies, out, budget);
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
  // Thread 0 alone reports lines: it need not try again what just failed.
  static uint64_t failedKey = 0;
  static int failedPlies = 0;
  Move tail[kMostSolvedPlies];
  if (made < wanted) {
    const int plies = wanted - made;
    if (plies > kMostSolvedPlies || (pos.key == failedKey && plies == failedPlies)) return made;
    if (!solveMate(pos, plies, plies % 2 == 1, tail)) {
      failedKey = pos.key;
      failedPlies = plies;
      return made;
    }
    for (int i = 0; made < wanted; ++i) {
      line[++made] = tail[i];
      line[made + 1] = 0;
      makeMove(pos, tail[i]);
    }
    return made;
  }
  if (isMated(pos)) return made;
  // The line has its length but not the mate: replace its last plies.
  for (int k = 1; k <= kMostReplacedPlies && k <= made; ++k) {
    for (int i = 0; i < k; ++i) unmakeMove(pos);
    if (solveMate(pos, k, k % 2 == 1, tail)) {
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

bool completeLine(SearchThread& t, Move* line, int depth, int score) {
  const bool mate = std::abs(score) > kMateShownAbove;
  const int wanted = std::min(kMaxLineMoves, mate ? kMateValue - std::abs(score) - 1 : depth);
  Position& pos = t.position;
  int made = 0;
  while (made + 1 < kStackSize - 1 && line[made + 1]) makeMove(pos, line[++made]);
  if (ttIsEnabled()) made = walkTable(pos, line, made, wanted, mate, score);
  if (mate) made = finishMate(pos, line, made, wanted);
  const bool sound = !mate || (made == wanted && isMated(pos));
  for (int i = 0; i < made; ++i) unmakeMove(pos);
  return sound;
}

}  // namespace search
