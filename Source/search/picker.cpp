// Staged move picker and the quiet-move statistics behind its order.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "board/attacks.h"
#include "search/picker.h"
#include "search/search.h"

namespace search {

using namespace board;

std::array<int32_t, kStackSize> historyWeight;
const std::array<int16_t, 8> kMvvScore = {210, 220, 230, 230, 240, 250, 0, 0};
const std::array<int16_t, 8> kExchangeRank = {0, 1, 3, 3, 5, 10, 99, 0};

void initSearchTables() {
  historyWeight[0] = 0;
  for (int d = 1; d < kStackSize; ++d) historyWeight[d] = static_cast<int32_t>(std::lround(16.0 * std::pow(d, 0.65)));
}

namespace {

constexpr int kGoodCaptureScore = 150;
constexpr int kSortedScore = 2;
constexpr int16_t kCheckScore = 100;

// Highest-scored entry of [from, end) swapped to from (first on ties); null when empty.
inline MoveEntry* selectBest(MoveEntry* from, MoveEntry* end) {
  if (from >= end) return nullptr;
  MoveEntry* best = from;
  for (MoveEntry* e = from + 1; e < end; ++e)
    if (e->score > best->score) best = e;
  std::swap(*from, *best);
  return from;
}

void scoreCaptures(SearchThread& t, MoveEntry* begin, MoveEntry* end, bool withExchange) {
  const Position& pos = t.position;
  for (MoveEntry* e = begin; e < end; ++e) {
    const int victim = typeOf(e->captured), mover = typeOf(e->piece);
    if (!withExchange) {
      e->score = static_cast<int16_t>(kMvvScore[victim] - mover);
      continue;
    }
    const int v = staticExchange(pos, pos.sideToMove, moveFrom(e->move), moveTo(e->move));
    e->score = static_cast<int16_t>(v < -49 ? victim + 4 : kMvvScore[victim] - mover - (v < 50 ? 6 : 0));
    if (e->move & (kPromoKnight | kPromoBishop | kPromoRook)) e->score = 15;
  }
}

void scoreQuiets(SearchThread& t, int ply, MoveEntry* begin, MoveEntry* end) {
  const StackEntry& s = t.stack[ply];
  if (t.history.ply <= 1 || ply < 1) {
    for (MoveEntry* e = begin; e < end; ++e) e->score = 0;
    return;
  }
  const int prevType = previousMoverType(t, ply);
  Move counter1 = 0, counter2 = 0, followUp = 0;
  const StackEntry& parent = t.stack[ply - 1];
  if (parent.currentMove) {
    counter1 = t.counterMove1[parent.currentPiece][moveTo(parent.currentMove)];
    counter2 = t.counterMove2[parent.currentPiece][moveTo(parent.currentMove)];
  }
  if (ply >= 2 && t.stack[ply - 2].currentMove) {
    const StackEntry& grand = t.stack[ply - 2];
    followUp = t.followUpMove[grand.currentPiece][moveTo(grand.currentMove)];
  }
  const int us = t.position.sideToMove;
  for (MoveEntry* e = begin; e < end; ++e) {
    const Move m = e->move;
    const int to = moveTo(m);
    int h = (t.historyTable[prevType][e->piece][to] / 256 + t.historyTable[0][e->piece][to] / 256) / 2;
    if (!s.inCheck) {
      int relative = us == kWhite ? to : to ^ 56;
      h += m == s.killer1 ? 60
           : m == s.killer2 ? 55
           : m == counter1 ? 50
           : m == counter2 ? 45
           : m == followUp ? 40
           : (typeOf(e->piece) == kPawn && relative >= 40) ? 30
                                                           : 0;
    } else {
      h += m == s.evasionKiller ? 60 : m == counter1 ? 55 : m == counter2 ? 50 : 0;
    }
    e->score = static_cast<int16_t>(h);
  }
}

}  // namespace

int previousMoverType(const SearchThread& t, int ply) {
  if (ply < 1) return 0;
  const StackEntry& parent = t.stack[ply - 1];
  return parent.currentMove ? typeOf(parent.currentPiece) : 0;
}

void startPicker(SearchThread& t, int ply, PickMode mode) {
  StackEntry& s = t.stack[ply];
  s.pickMode = mode;
  s.stage = (mode == kPickMain && s.ttMove) ? kStageTT : kStageGenCaptures;
  s.listStart = s.current = s.listEnd = t.moveLists[ply].data();
  s.listStart->move = kEndOfList;
}

namespace {

// Captures and promotions (every promotion in the main and perft modes, the
// queen's only in quiescence), scored.
void generateCaptureStage(SearchThread& t, StackEntry& s) {
  const Position& pos = t.position;
  const bool full = s.pickMode == kPickMain || s.pickMode == kPickPerft;
  MoveEntry* end = generateCaptures(pos, pos.sideToMove, s.listStart, s.checker);
  end = generatePromotions(pos, pos.sideToMove, end, full);
  end->move = kEndOfList;
  s.listEnd = end;
  s.current = s.listStart;
  scoreCaptures(t, s.listStart, end, full);
  s.stage = full ? kStageGoodCaptures : kStageQuiesceCaptures;
}

// The quiet moves behind the captures, scored by the statistics.
void generateQuietStage(SearchThread& t, int ply, StackEntry& s) {
  const Position& pos = t.position;
  MoveEntry* start = s.listEnd;
  MoveEntry* end = generateQuiets(pos, pos.sideToMove, start, s.checker);
  end->move = kEndOfList;
  s.listEnd = end;
  scoreQuiets(t, ply, start, end);
  s.stage = kStageSorted;
}

// Quiet checks for the first quiescence ply.
void generateCheckStage(SearchThread& t, StackEntry& s) {
  const Position& pos = t.position;
  MoveEntry* start = s.listEnd;
  MoveEntry* end = generateQuietChecks(pos, pos.sideToMove, start);
  // Pushes to the seventh rank already came with the promotions.
  const int seventh = pos.sideToMove == kWhite ? 6 : 1;
  MoveEntry* out = start;
  for (MoveEntry* e = start; e < end; ++e) {
    if (typeOf(e->piece) == kPawn && rankOf(moveTo(e->move)) == seventh) continue;
    e->score = kCheckScore;
    *out++ = *e;
  }
  out->move = kEndOfList;
  s.current = start;
  s.listEnd = out;
  s.stage = kStageChecks;
}

}  // namespace

MoveEntry* pickNextMove(SearchThread& t, int ply) {
  StackEntry& s = t.stack[ply];
  const Position& pos = t.position;
  for (;;) {
    switch (s.stage) {
      case kStageTT: {
        s.stage = kStageGenCaptures;
        const Move m = s.ttMove;
        s.ttEntry = MoveEntry{m, 255, pos.board[moveFrom(m)], pos.board[moveTo(m)]};
        return &s.ttEntry;
      }
      case kStageGenCaptures:
        generateCaptureStage(t, s);
        break;
      case kStageGoodCaptures: {
        MoveEntry* best = selectBest(s.current, s.listEnd);
        if (best && best->score > kGoodCaptureScore) return s.current++;
        s.stage = kStageGenQuiets;
        break;
      }
      case kStageGenQuiets:
        generateQuietStage(t, ply, s);
        break;
      case kStageSorted: {
        MoveEntry* best = selectBest(s.current, s.listEnd);
        if (!best) {
          s.stage = kStageDone;
          return nullptr;
        }
        if (best->score > kSortedScore) return s.current++;
        s.stage = kStageUnsorted;
        break;
      }
      case kStageUnsorted:
      case kStageChecks:
        if (s.current < s.listEnd) return s.current++;
        s.stage = kStageDone;
        return nullptr;
      case kStageQuiesceCaptures:
        if (selectBest(s.current, s.listEnd)) return s.current++;
        s.stage = s.pickMode == kPickQuiesce0 ? kStageGenChecks : kStageDone;
        break;
      case kStageGenChecks:
        generateCheckStage(t, s);
        break;
      case kStageDone:
        return nullptr;
    }
  }
}

void updateQuietStats(SearchThread& t, int ply, Move move, int piece, int depth, int score, int alpha) {
  StackEntry& s = t.stack[ply];
  const int w = historyWeight[std::clamp(depth, 0, kStackSize - 1)];
  const int prevType = previousMoverType(t, ply);
  const int to = moveTo(move);
  int16_t& H = t.historyTable[0][piece][to];
  int16_t& C = t.historyTable[prevType][piece][to];
  const int h = H, c = C;
  if (score <= alpha) {
    C = static_cast<int16_t>(c - c * w / 2048);
    H = static_cast<int16_t>(h - h * w / 2048);
    return;
  }
  C = static_cast<int16_t>(c + (16384 - c) * w / 1024);
  H = static_cast<int16_t>(h + (16384 - h) * w / 1024);
  if (!s.inCheck) {
    if (move != s.killer1) {
      s.killer2 = s.killer1;
      s.killer1 = move;
    }
  } else {
    s.evasionKiller = move;
  }
  const StackEntry& parent = t.stack[ply - 1];
  if (parent.currentMove) {
    Move& cm1 = t.counterMove1[parent.currentPiece][moveTo(parent.currentMove)];
    if (move != cm1) {
      t.counterMove2[parent.currentPiece][moveTo(parent.currentMove)] = cm1;
      cm1 = move;
    }
    if (ply >= 2 && t.stack[ply - 2].currentMove) {
      const StackEntry& grand = t.stack[ply - 2];
      t.followUpMove[grand.currentPiece][moveTo(grand.currentMove)] = move;
    }
  }
}

void resetThreadTables(SearchThread& t) {
  for (auto& a : t.historyTable)
    for (auto& b : a)
      for (auto& c : b) c = 2048;
  std::memset(t.counterMove1, 0, sizeof t.counterMove1);
  std::memset(t.counterMove2, 0, sizeof t.counterMove2);
  std::memset(t.followUpMove, 0, sizeof t.followUpMove);
  for (StackEntry& s : t.stack) s.ttMove = s.killer1 = s.killer2 = s.evasionKiller = 0;
}

}  // namespace search
