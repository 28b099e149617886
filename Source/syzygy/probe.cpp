// Tablebase probes: WDL with captures and en passant resolved around the
// table read, DTZ, the root move choice and the search's WDL probe.
#include <algorithm>
#include <bit>

#include "board/attacks.h"
#include "syzygy/tables.h"

namespace syzygy {

using namespace board;

namespace {

// A zeroing move's WDL as a DTZ-like number, by WDL + 2.
constexpr int kWdlToDtz[5] = {-1, -101, 0, 101, 1};
constexpr int kCursedDistance = 100;  // the fifty-move rule in plies
constexpr int kSixMen = 6;
constexpr int kNoDepthForMore = 100;
// DTZ map by WDL + 2 (draws use none), and the flags that say a result is
// stored in plies rather than full moves.
constexpr int kMapOfResult[5] = {1, 3, 0, 2, 0};
constexpr uint8_t kWinInPlies = 4, kLossInPlies = 8, kDtzMapped = 2;
constexpr int kNoEpValue = -3;

bool isCapture(const TbPosition& p, TbMove m) {
  const uint64_t them = p.turn ? p.black : p.white;
  return (them & bit(tbTo(m))) || (p.ep && tbTo(m) == p.ep && (p.pawns & bit(tbFrom(m))));
}
bool isPawnMove(const TbPosition& p, TbMove m) { return (p.pawns & bit(tbFrom(m))) != 0; }
bool isEnPassant(const TbPosition& p, TbMove m) {
  return p.ep && tbTo(m) == p.ep && (p.pawns & bit(tbFrom(m)));
}
bool inCheckTb(const TbPosition& p) {
  const uint64_t own = p.turn ? p.white : p.black;
  const uint64_t occ = p.white | p.black;
  const int k = std::countr_zero(p.kings & own);
  const uint64_t them = occ & ~own;
  const int colour = p.turn ? kWhite : kBlack;
  return (pawnAttacks[colour][k] & p.pawns & them) || (knightAttacks[k] & p.knights & them) ||
         (kingAttacks[k] & p.kings & them) || (bishopAttacks(k, occ) & (p.bishops | p.queens) & them) ||
         (rookAttacks(k, occ) & (p.rooks | p.queens) & them);
}
bool hasLegalMove(const TbPosition& p) {
  TbMove moves[kTbMaxMoves];
  TbMove* end = tbGenerateMoves(p, moves);
  TbPosition next;
  for (TbMove* m = moves; m != end; ++m)
    if (tbMakeMove(p, next, *m)) return true;
  return false;
}

// The raw WDL stored for the position (no captures resolved).
int tableWdl(const TbPosition& p, int& success) {
  const uint64_t key = materialKey(p, false);
  if (key == 0) return 0;  // two bare kings: no table, a draw
  TableEntry* e = findTable(key);
  if (!e || !ensureWdlLoaded(*e)) {
    success = 0;
    return 0;
  }
  Located where;
  bool otherSide;
  int value;
  if (!locatePosition(*e, e->wdl, false, p, where, otherSide) ||
      !decompressPairs(where.part->pairs, where.index, e->wdl.map, value) || value > 4) {
    success = 0;
    return 0;
  }
  return value - 2;
}

int probeAlphaBeta(const TbPosition& p, int alpha, int beta, int& success) {
  TbMove moves[kTbMaxMoves];
  TbMove* end = tbGenerateCaptures(p, moves);
  TbPosition next;
  for (TbMove* m = moves; m != end; ++m) {
    if (isEnPassant(p, *m) || !tbMakeMove(p, next, *m)) continue;
    const int v = -probeAlphaBeta(next, -beta, -alpha, success);
    if (success == 0) return 0;
    if (v > alpha) {
      if (v >= beta) {
        success = 2;
        return v;
      }
      alpha = v;
    }
  }
  success = 1;
  const int v = tableWdl(p, success);
  if (success == 0) return 0;
  if (alpha >= v) {
    success = 1 + (alpha > 0);
    return alpha;
  }
  success = 1;
  return v;
}

// Best value of the legal en-passant captures (kNoEpValue when none);
// onlyEp tells whether every legal move is one.
int bestEnPassant(const TbPosition& p, int& success, bool& onlyEp) {
  TbMove moves[kTbMaxMoves];
  TbMove* end = tbGenerateMoves(p, moves);
  TbPosition next;
  int best = kNoEpValue;
  onlyEp = true;
  for (TbMove* m = moves; m != end; ++m) {
    if (!tbMakeMove(p, next, *m)) continue;
    if (!isEnPassant(p, *m)) {
      onlyEp = false;
      continue;
    }
    const int v = -probeAlphaBeta(next, -2, 2, success);
    if (success == 0) return 0;
    best = std::max(best, v);
  }
  return best;
}

// The distance stored for the position whose WDL is w (w != 0): set
// stored to false when the file holds only the other side to move.
int tableDtz(const TbPosition& p, int w, bool& stored, int& success) {
  stored = false;
  TableEntry* e = findTable(materialKey(p, false));
  const TableFile* f = e ? findDtzTable(*e) : nullptr;
  if (!f) {
    success = 0;
    return 0;
  }
  Located where;
  bool otherSide;
  if (!locatePosition(*e, *f, true, p, where, otherSide)) {
    if (!otherSide) success = 0;
    return 0;
  }
  int d;
  if (!decompressPairs(where.part->pairs, where.index, f->map, d)) {
    success = 0;
    return 0;
  }
  const uint8_t flags = where.part->pairs.flags;
  if (flags & kDtzMapped) {
    const int m = kMapOfResult[w + 2];
    if (d >= f->mapSize[where.subTable][m]) {
      success = 0;
      return 0;
    }
    d = f->maps[where.subTable][m][d];
  }
  const bool plies = (w == 2 && (flags & kWinInPlies)) || (w == -2 && (flags & kLossInPlies));
  if (!plies) d *= 2;
  stored = true;
  return d;
}

int probeDtzNoEp(const TbPosition& p, int& success);

// The table holds the other side only: one ply of search.
int dtzByOneMove(const TbPosition& p, int w, int& success) {
  TbMove moves[kTbMaxMoves];
  TbMove* end = tbGenerateMoves(p, moves);
  TbPosition next;
  if (w > 0) {
    int best = 0x7FFF;
    for (TbMove* m = moves; m != end; ++m) {
      if (isCapture(p, *m) || isPawnMove(p, *m) || !tbMakeMove(p, next, *m)) continue;
      // A mate is one ply from the end, whatever the mated side's table says.
      if (inCheckTb(next) && !hasLegalMove(next)) {
        best = 1;
        continue;
      }
      const int c = probeDtz(next, success);
      if (success == 0) return 0;
      if (c < 0) best = std::min(best, 1 - c);
    }
    // A consistent table always has such a move; answer unknown otherwise.
    if (best == 0x7FFF) success = 0;
    return best;
  }
  int best = -1;
  for (TbMove* m = moves; m != end; ++m) {
    if (!tbMakeMove(p, next, *m)) continue;
    int v;
    if (isCapture(p, *m) || isPawnMove(p, *m)) {
      if (w == -2) {
        v = -1;
      } else {
        v = probeAlphaBeta(next, 1, 2, success) == 2 ? 0 : -101;
        if (success == 0) return 0;
      }
    } else {
      v = -probeDtz(next, success) - 1;
      if (success == 0) return 0;
    }
    best = std::min(best, v);
  }
  return best;
}

int probeDtzNoEp(const TbPosition& p, int& success) {
  const int w = probeAlphaBeta(p, -2, 2, success);
  if (success == 0 || w == 0) return 0;
  if (success == 2) return w == 2 ? 1 : 101;
  if (w > 0) {
    // A pawn push that keeps the result zeroes at once.
    TbMove moves[kTbMaxMoves];
    TbMove* end = tbGenerateMoves(p, moves);
    TbPosition next;
    for (TbMove* m = moves; m != end; ++m) {
      if (!isPawnMove(p, *m) || isCapture(p, *m) || !tbMakeMove(p, next, *m)) continue;
      const int v = -probeWdl(next, success);
      if (success == 0) return 0;
      if (v == w) return w == 2 ? 1 : 101;
    }
  }
  bool stored;
  int d = tableDtz(p, w, stored, success);
  if (success == 0) return 0;
  if (stored) {
    return w > 0 ? kWdlToDtz[w + 2] + d : kWdlToDtz[w + 2] - d;
  }
  return dtzByOneMove(p, w, success);
}

}  // namespace

int probeWdl(const TbPosition& p, int& success) {
  success = 1;
  const int v = probeAlphaBeta(p, -2, 2, success);
  if (success == 0 || p.ep == 0) return v;
  bool onlyEp;
  const int x = bestEnPassant(p, success, onlyEp);
  if (success == 0) return 0;
  success = 1;
  if (x >= v) return x;
  if (v == 0 && onlyEp && x != kNoEpValue) return x;
  return v;
}

int probeDtz(const TbPosition& p, int& success) {
  success = 1;
  const int v = probeDtzNoEp(p, success);
  if (success == 0 || p.ep == 0) return v;
  bool onlyEp;
  const int x = bestEnPassant(p, success, onlyEp);
  if (success == 0) return 0;
  success = 1;
  if (x == kNoEpValue) return v;
  const int e = kWdlToDtz[x + 2];
  const bool replace = (v < -100 && e >= 0) || (v >= -100 && v < 0 && (e >= 0 || e < -100)) ||
                       (v > 100 && e > 0) || (v > 0 && v <= 100 && e == 1) || (v == 0 && e >= 0) ||
                       (v == 0 && e < 0 && onlyEp);
  return replace ? e : v;
}

int probeWdlInSearch(const Position& pos, int depth, int minDepth, int probeDepth6) {
  if (depth < minDepth) return -1;
  const int men = popCount(occupied(pos));
  if (men > largestTable) return -1;
  if (men >= kSixMen && depth < (men == kSixMen ? probeDepth6 : kNoDepthForMore)) return -1;
  if (pos.castleRights) return -1;
  const TbPosition p = toTbPosition(pos, false);
  int success;
  const int v = probeWdl(p, success);
  return success ? v + 2 : -1;
}

namespace {

struct RootChoice {
  TbMove move = 0;
  int score = 0;
  bool mates = false;
};

Move toEngineMove(TbMove m) {
  static constexpr Move kFlag[5] = {0, kPromoQueen, kPromoRook, kPromoBishop, kPromoKnight};
  return makeMoveCode(tbFrom(m), tbTo(m), kFlag[tbPromo(m)]);
}

}  // namespace

int probeRoot(const Position& pos, int& category, int& distance, Move& move) {
  const TbPosition root = toTbPosition(pos, true);
  if (!tbPositionValid(root)) return -1;
  int success;
  const int dtz = probeDtz(root, success);
  if (!success) return -1;
  const int r = root.rule50;
  TbMove moves[kTbMaxMoves];
  TbMove* end = tbGenerateMoves(root, moves);
  RootChoice scored[kTbMaxMoves];
  int count = 0;
  TbPosition next;
  for (TbMove* m = moves; m != end; ++m) {
    if (!tbMakeMove(root, next, *m)) continue;
    RootChoice c;
    c.move = *m;
    if (inCheckTb(next) && !hasLegalMove(next)) {
      c.score = 1;
      c.mates = true;
    } else if (next.rule50 != 0) {
      const int d = probeDtz(next, success);
      if (!success) return -1;
      c.score = d < 0 ? 1 - d : d > 0 ? -d - 1 : 0;
    } else {
      const int w = probeWdl(next, success);
      if (!success) return -1;
      c.score = kWdlToDtz[-w + 2];
    }
    scored[count++] = c;
  }
  int chosen = -1;
  if (dtz > 0) {
    // The quickest zeroing, a mate first among equals.
    for (int i = 0; i < count; ++i) {
      const RootChoice& c = scored[i];
      if (c.score <= 0) continue;
      if (chosen < 0 || c.score < scored[chosen].score || (c.score == scored[chosen].score && c.mates && !scored[chosen].mates))
        chosen = i;
    }
  } else if (dtz < 0) {
    for (int i = 0; i < count; ++i)
      if (chosen < 0 || scored[i].score < scored[chosen].score) chosen = i;
  } else {
    // A fixed drawing move for the material, so that play does not wander.
    int draws = 0;
    for (int i = 0; i < count; ++i) draws += scored[i].score == 0;
    if (draws > 0) {
      int n = static_cast<int>(materialKey(root, root.turn == 0) % static_cast<uint64_t>(draws));
      for (int i = 0; i < count && chosen < 0; ++i)
        if (scored[i].score == 0 && n-- == 0) chosen = i;
    }
  }
  if (chosen < 0) return -1;
  if (dtz > 0) category = dtz + r <= kCursedDistance ? kTbWin : kTbCursedWin;
  else if (dtz < 0) category = r - dtz > kCursedDistance ? kTbBlessedLoss : kTbLoss;
  else category = kTbDraw;
  distance = std::abs(scored[chosen].score);
  move = toEngineMove(scored[chosen].move);
  return category;
}

}  // namespace syzygy
