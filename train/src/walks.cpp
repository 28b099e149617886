#include "walks.h"

#include <algorithm>
#include <memory>

#include "board/attacks.h"
#include "eval/eval.h"
#include "parallel.h"
#include "selfplay.h"

namespace train {

using namespace board;

namespace {

// Scores stay inside the record's field and clear of mate scores.
constexpr int kScoreLimit = 9000;

struct Walker {
  std::unique_ptr<UndoHistory> line = std::make_unique<UndoHistory>();
  std::unique_ptr<eval::EvalState> st = std::make_unique<eval::EvalState>();
  Walker() { st->useCaches = false; }
};

// One walk from the record; false when it ends in check or without moves.
bool walkFrom(Walker& w, const PackedRecord& from, int plies, Rng& rng, PackedRecord& out) {
  Position pos{};
  if (!unpackPosition(from, pos)) return false;
  pos.owner = w.line.get();
  w.line->undoCount = 0;
  w.line->ply = 1;
  w.line->lastMove = 0;
  MoveEntry list[kMaxMoves];
  for (int i = 0; i < plies; ++i) {
    const int n = generateLegal(pos, list);
    if (n == 0) return false;
    makeMove(pos, list[rng.next() % static_cast<uint64_t>(n)].move);
  }
  if (inCheck(pos, pos.sideToMove) || generateLegal(pos, list) == 0) return false;
  const int score = std::clamp(eval::evaluate(pos, *w.st, 2, false, 0), -kScoreLimit, kScoreLimit);
  out = packPosition(pos, score, from.ply + plies, 0);
  out.result = kNoResult;
  return true;
}

}  // namespace

size_t addHceWalks(std::vector<PackedRecord>& records, std::vector<uint32_t>& indices, const WalkSettings& s) {
  if (s.perPosition <= 0 || indices.empty()) return 0;
  const int n = threadsFor(s.threads);
  std::vector<std::vector<PackedRecord>> found(static_cast<size_t>(n));
  onThreads(n, [&](int t) {
    Walker w;
    std::vector<PackedRecord>& mine = found[static_cast<size_t>(t)];
    for (size_t i = sliceStart(indices.size(), t, n); i < sliceStart(indices.size(), t + 1, n); ++i) {
      // Each position's walks depend only on the seed and its place in the list.
      Rng rng = gameRng(s.seed, i);
      for (int k = 0; k < s.perPosition; ++k) {
        const int plies = 1 + static_cast<int>(rng.next() % static_cast<uint64_t>(std::max(1, s.maxPlies)));
        PackedRecord r;
        if (walkFrom(w, records[indices[i]], plies, rng, r)) mine.push_back(r);
      }
    }
  });
  size_t added = 0;
  for (const auto& part : found) {
    for (const PackedRecord& r : part) {
      indices.push_back(static_cast<uint32_t>(records.size()));
      records.push_back(r);
    }
    added += part.size();
  }
  return added;
}

}  // namespace train
