// The staged move picker: which moves each mode hands out, and in what order.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>

#include "board/board_helpers.h"
#include "search/search_helpers.h"

using namespace board;
using boardtest::name;

namespace {

constexpr int kPly = 3;  // a node below the root, so quiet moves get scored

struct Handed {
  Move move;
  int score;
};

// One thread record (about a megabyte) reused for every position.
search::SearchThread& sharedThread() {
  static auto record = std::make_unique<search::SearchThread>();
  return *record;
}

// The shared thread record holding `pos` at kPly, the picker's inputs reset.
search::SearchThread* threadAt(const Position& pos) {
  search::SearchThread* t = &sharedThread();
  t->position = pos;
  t->position.owner = &t->history;
  t->history = *pos.owner;
  t->history.ply = kPly;
  search::resetThreadTables(*t);
  for (auto& s : t->stack) {
    s.currentMove = 0;
    s.currentPiece = 0;
    s.inCheck = 0;
    s.checker = kNoSquare;
  }
  const int us = pos.sideToMove;
  const int checker = findAttacker(pos, pos.kingSquare[us], us ^ 1, occupied(pos));
  t->stack[kPly].checker = static_cast<uint8_t>(checker);
  t->stack[kPly].inCheck = checker != kNoSquare;
  return t;
}

std::vector<Handed> drain(search::SearchThread& t, search::PickMode mode) {
  search::startPicker(t, kPly, mode);
  std::vector<Handed> out;
  for (MoveEntry* e; out.size() < 600 && (e = search::pickNextMove(t, kPly));) out.push_back({e->move, e->score});
  return out;
}

std::multiset<Move> movesOf(const std::vector<Handed>& handed, size_t skip = 0) {
  std::multiset<Move> s;
  for (size_t i = skip; i < handed.size(); ++i) s.insert(handed[i].move);
  return s;
}

std::multiset<Move> movesOf(const MoveEntry* begin, const MoveEntry* end) {
  std::multiset<Move> s;
  for (const MoveEntry* e = begin; e != end; ++e) s.insert(e->move);
  return s;
}

std::string describe(const std::multiset<Move>& a, const std::multiset<Move>& b) {
  std::string text = "only handed out:";
  for (Move m : a)
    if (a.count(m) > b.count(m)) text.append(" ").append(name(m));
  text += "; missing:";
  for (Move m : b)
    if (b.count(m) > a.count(m)) text.append(" ").append(name(m));
  return text;
}

bool isCapture(const Position& pos, Move m) {
  return pos.board[moveTo(m)] || (typeOf(pos.board[moveFrom(m)]) == kPawn && moveTo(m) == pos.epSquare);
}

// A quiet move whose piece attacks the enemy king from its destination.
bool directCheck(const Position& pos, Move m) {
  const int from = moveFrom(m), to = moveTo(m), us = pos.sideToMove, type = typeOf(pos.board[from]);
  const Bitboard occ = (occupied(pos) & ~bit(from)) | bit(to);
  const Bitboard king = bit(pos.kingSquare[us ^ 1]);
  switch (type) {
    case kPawn: return pawnAttacks[us][to] & king;
    case kKnight: return knightAttacks[to] & king;
    case kBishop: return bishopAttacks(to, occ) & king;
    case kRook: return rookAttacks(to, occ) & king;
    case kQueen: return queenAttacks(to, occ) & king;
    default: return false;
  }
}

// Positions from varied starts and random playouts, biased towards checks so
// that enough evasion nodes come up.
std::vector<std::string> pickerPositions() {
  std::vector<std::string> fens;
  std::mt19937 rng(20261208);
  boardtest::Playout play(77);
  for (const std::string& start : boardtest::variedFens()) {
    testutil::Board b(start);
    for (int ply = 0; ply < 24; ++ply) {
      fens.push_back(positionToFen(b.pos, false));
      MoveEntry list[kMaxMoves];
      const int n = generateLegal(b.pos, list);
      if (n == 0 || b.pos.rule50 > 100) break;
      Move m = play.pick(b.pos);
      if (rng() % 3 == 0)
        for (int i = 0; i < n; ++i)
          if (givesCheck(b.pos, list[i].move)) m = list[i].move;
      makeMove(b.pos, m);
    }
  }
  return fens;
}

}  // namespace

TEST(SearchPicker, EveryModeHandsOutItsMoveSetOnce) {
  testutil::initTables();
  int inCheckNodes = 0, withQuietChecks = 0, checked = 0;
  std::mt19937 rng(5);
  for (const std::string& fen : pickerPositions()) {
    testutil::Board b(fen);
    SCOPED_TRACE(fen);
    const Position& pos = b.pos;
    MoveEntry all[kMaxMoves];
    MoveEntry* allEnd = generateAll(pos, all);
    MoveEntry legal[kMaxMoves];
    const int legalCount = generateLegal(b.pos, legal);
    auto t = threadAt(pos);
    const int checker = t->stack[kPly].checker;
    const bool inCheck = checker != kNoSquare;

    // The expected set of the full modes: all moves, or the evasion candidates.
    std::multiset<Move> full;
    if (!inCheck) {
      full = movesOf(all, allEnd);
    } else {
      ++inCheckNodes;
      MoveEntry cand[kMaxMoves];
      MoveEntry* end = generateCaptures(pos, pos.sideToMove, cand, checker);
      end = generatePromotions(pos, pos.sideToMove, end, true);
      end = generateQuiets(pos, pos.sideToMove, end, checker);
      full = movesOf(cand, end);
    }
    for (int i = 0; i < legalCount; ++i)
      ASSERT_EQ(full.count(legal[i].move), 1u) << "legal move not a candidate: " << name(legal[i].move);

    for (search::PickMode mode : {search::kPickMain, search::kPickPerft}) {
      t->stack[kPly].ttMove = 0;
      auto handed = drain(*t, mode);
      ASSERT_EQ(movesOf(handed), full) << "mode " << mode << ": " << describe(movesOf(handed), full);
    }
    // A table move comes first, scored 255, and once more in its group (the
    // move loop skips that repeat).
    if (legalCount > 0) {
      const Move tt = legal[rng() % legalCount].move;
      t->stack[kPly].ttMove = tt;
      auto handed = drain(*t, search::kPickMain);
      ASSERT_FALSE(handed.empty());
      EXPECT_EQ(handed[0].move, tt);
      EXPECT_EQ(handed[0].score, 255);
      EXPECT_EQ(movesOf(handed, 1), full) << describe(movesOf(handed, 1), full);
      // The perft mode ignores a table move.
      EXPECT_EQ(movesOf(drain(*t, search::kPickPerft)), full);
      t->stack[kPly].ttMove = 0;
    }
    ++checked;
    if (inCheck) continue;  // the quiescence search never runs in check

    // Quiescence: captures (under-promotions excluded), queen promotions and
    // pushes to the seventh rank; at depth 0 also direct quiet checks.
    std::multiset<Move> deep, zero;
    for (const MoveEntry* e = all; e != allEnd; ++e) {
      const Move m = e->move;
      const bool pawn = typeOf(e->piece) == kPawn;
      const int relRank = pos.sideToMove == kWhite ? rankOf(moveTo(m)) : 7 - rankOf(moveTo(m));
      if (isPromotion(m) && !(m & kPromoQueen)) continue;
      if (isCapture(pos, m) || isPromotion(m) || (pawn && relRank == 6)) {
        deep.insert(m);
        zero.insert(m);
      } else if (directCheck(pos, m)) {
        zero.insert(m);
        ++withQuietChecks;
      }
    }
    EXPECT_EQ(movesOf(drain(*t, search::kPickQuiesceDeep)), deep)
        << describe(movesOf(drain(*t, search::kPickQuiesceDeep)), deep);
    EXPECT_EQ(movesOf(drain(*t, search::kPickQuiesce0)), zero)
        << describe(movesOf(drain(*t, search::kPickQuiesce0)), zero);
  }
  EXPECT_GT(checked, 400);
  EXPECT_GT(inCheckNodes, 40);
  EXPECT_GT(withQuietChecks, 100);
}

namespace {

// The order rules written out plainly: selection of the best remaining entry
// (first on ties) swapped to the front, thresholds 150 and 2, then list order.
struct OrderModel {
  const search::SearchThread& t;
  const Position& pos;
  bool inCheck;
  int checker;

  int captureScore(const MoveEntry& e) const {
    const int victim = typeOf(e.captured), mover = typeOf(e.piece);
    const int v = staticExchange(pos, pos.sideToMove, moveFrom(e.move), moveTo(e.move));
    int s = v < -49 ? victim + 4 : search::kMvvScore[victim] - mover - (v < 50 ? 6 : 0);
    if (e.move & (kPromoKnight | kPromoBishop | kPromoRook)) s = 15;
    return s;
  }
  int quietScore(const MoveEntry& e) const {
    const auto& s = t.stack[kPly];
    const auto& parent = t.stack[kPly - 1];
    const auto& grand = t.stack[kPly - 2];
    const int prevType = parent.currentMove ? typeOf(parent.currentPiece) : 0;
    const int to = moveTo(e.move);
    int h = (t.historyTable[prevType][e.piece][to] / 256 + t.historyTable[0][e.piece][to] / 256) / 2;
    Move c1 = 0, c2 = 0, follow = 0;
    if (parent.currentMove) {
      c1 = t.counterMove1[parent.currentPiece][moveTo(parent.currentMove)];
      c2 = t.counterMove2[parent.currentPiece][moveTo(parent.currentMove)];
    }
    if (grand.currentMove) follow = t.followUpMove[grand.currentPiece][moveTo(grand.currentMove)];
    const Move m = e.move;
    if (inCheck) return h + (m == s.evasionKiller ? 60 : m == c1 ? 55 : m == c2 ? 50 : 0);
    const int rel = pos.sideToMove == kWhite ? to : to ^ 56;
    return h + (m == s.killer1 ? 60
                : m == s.killer2 ? 55
                : m == c1 ? 50
                : m == c2 ? 45
                : m == follow ? 40
                : (typeOf(e.piece) == kPawn && rel >= 40) ? 30
                                                          : 0);
  }

  static size_t selectBest(std::vector<Handed>& list, size_t from) {
    size_t best = from;
    for (size_t j = from + 1; j < list.size(); ++j)
      if (list[j].score > list[best].score) best = j;
    std::swap(list[from], list[best]);
    return from;
  }

  std::vector<Handed> mainOrder(Move tt) const {
    std::vector<Handed> out, list;
    if (tt) out.push_back({tt, 255});
    MoveEntry buf[kMaxMoves];
    MoveEntry* end = generateCaptures(pos, pos.sideToMove, buf, checker);
    end = generatePromotions(pos, pos.sideToMove, end, true);
    for (MoveEntry* e = buf; e != end; ++e) list.push_back({e->move, captureScore(*e)});
    size_t i = 0;
    while (i < list.size() && list[selectBest(list, i)].score > 150) out.push_back(list[i++]);
    end = generateQuiets(pos, pos.sideToMove, buf, checker);
    for (MoveEntry* e = buf; e != end; ++e) list.push_back({e->move, quietScore(*e)});
    while (i < list.size() && list[selectBest(list, i)].score > 2) out.push_back(list[i++]);
    while (i < list.size()) out.push_back(list[i++]);
    return out;
  }

  std::vector<Handed> quiesceOrder(bool withChecks) const {
    std::vector<Handed> out, list;
    MoveEntry buf[kMaxMoves];
    MoveEntry* end = generateCaptures(pos, pos.sideToMove, buf, kNoSquare);
    end = generatePromotions(pos, pos.sideToMove, end, false);
    for (MoveEntry* e = buf; e != end; ++e)
      list.push_back({e->move, search::kMvvScore[typeOf(e->captured)] - typeOf(e->piece)});
    for (size_t i = 0; i < list.size(); ++i) out.push_back(list[selectBest(list, i)]);
    if (withChecks) {
      end = generateQuietChecks(pos, pos.sideToMove, buf);
      const int seventh = pos.sideToMove == kWhite ? 6 : 1;
      for (MoveEntry* e = buf; e != end; ++e)
        if (!(typeOf(e->piece) == kPawn && rankOf(moveTo(e->move)) == seventh)) out.push_back({e->move, 100});
    }
    return out;
  }
};

std::string sequence(const std::vector<Handed>& v) {
  std::string s;
  for (const auto& h : v) s.append(" ").append(name(h.move)).append("/").append(std::to_string(h.score));
  return s;
}

}  // namespace

TEST(SearchPicker, OrderFollowsScoresThenListOrder) {
  testutil::initTables();
  std::mt19937 rng(99);
  int tails = 0, positions = 0;
  for (const std::string& fen : pickerPositions()) {
    testutil::Board b(fen);
    const Position& pos = b.pos;
    MoveEntry legal[kMaxMoves];
    const int n = generateLegal(b.pos, legal);
    if (n == 0) continue;
    ++positions;
    SCOPED_TRACE(fen);
    auto t = threadAt(pos);
    // Random statistics: small histories leave many quiet moves at 2 or less.
    const int spread = (positions % 2) ? 16384 : 900;
    for (auto& slice : t->historyTable)
      for (auto& piece : slice)
        for (auto& v : piece) v = static_cast<int16_t>(rng() % spread);
    auto anyLegal = [&] { return legal[rng() % n].move; };
    auto& s = t->stack[kPly];
    s.killer1 = anyLegal();
    s.killer2 = anyLegal();
    s.evasionKiller = anyLegal();
    // The previous two moves: a knight to f3/f6 and a bishop to c4/c5 (only
    // their piece codes and squares matter here).
    const int them = pos.sideToMove ^ 1, us = pos.sideToMove;
    t->stack[kPly - 1].currentPiece = static_cast<uint8_t>(pieceCode(them, kKnight));
    t->stack[kPly - 1].currentMove = makeMoveCode(them == kWhite ? 6 : 62, them == kWhite ? 21 : 45);
    t->stack[kPly - 2].currentPiece = static_cast<uint8_t>(pieceCode(us, kBishop));
    t->stack[kPly - 2].currentMove = makeMoveCode(us == kWhite ? 5 : 61, us == kWhite ? 26 : 34);
    t->counterMove1[pieceCode(them, kKnight)][them == kWhite ? 21 : 45] = anyLegal();
    t->counterMove2[pieceCode(them, kKnight)][them == kWhite ? 21 : 45] = anyLegal();
    t->followUpMove[pieceCode(us, kBishop)][us == kWhite ? 26 : 34] = anyLegal();

    const OrderModel model{*t, pos, s.inCheck != 0, s.checker};
    const Move tt = (rng() % 2) ? anyLegal() : Move{0};
    s.ttMove = tt;
    const auto expected = model.mainOrder(tt);
    const auto got = drain(*t, search::kPickMain);
    ASSERT_EQ(sequence(got), sequence(expected));
    // Count the positions whose tail visibly keeps list order (a score rises
    // after one of 2 or less), so the rule is really exercised.
    for (size_t i = 1; i + 1 < got.size(); ++i)
      if (got[i].score <= 2 && got[i + 1].score > got[i].score) {
        ++tails;
        break;
      }
    s.ttMove = 0;
    if (s.inCheck) continue;
    EXPECT_EQ(sequence(drain(*t, search::kPickQuiesceDeep)), sequence(model.quiesceOrder(false)));
    EXPECT_EQ(sequence(drain(*t, search::kPickQuiesce0)), sequence(model.quiesceOrder(true)));
  }
  EXPECT_GT(tails, 20) << "too few positions exercised the list-order tail";
}

// Capture scores: pawn takes queen, queen takes an undefended pawn, an even
// exchange, a losing capture, an under-promotion. Good captures come before
// the quiet moves, the losing capture after those scoring more than it.
TEST(SearchPicker, CaptureScoresFollowTheExchange) {
  testutil::initTables();
  // White: Kg1, Qa4, Nc3, pawns b7 and e4. Black: Kh8, Qa8, Qd5 (undefended),
  // Rc8 (defended by Qa8), Nb5 (defended by pawn a6), pawn a5 (undefended).
  testutil::Board b("q1r4k/1P4p1/p6p/pn1q4/Q3P3/2N5/8/6K1 w - -");
  auto t = threadAt(b.pos);
  // History at its start value scores every quiet move 8; one is a killer.
  t->stack[kPly].killer1 = boardtest::mv("g1f2");
  std::map<std::string, int> scores;
  std::vector<std::string> order;
  for (const Handed& h : drain(*t, search::kPickMain)) {
    scores[name(h.move)] = h.score;
    order.push_back(name(h.move));
  }
  EXPECT_EQ(scores["e4d5"], 249);          // pawn x queen
  EXPECT_EQ(scores["a4a5"], 215);          // queen x undefended pawn
  EXPECT_EQ(scores["c3b5"], 230 - 2 - 6);  // knight x knight defended by a pawn: even
  EXPECT_EQ(scores["c3d5"], 250 - 2);
  EXPECT_EQ(scores["a4b5"], 4 + 2);        // queen x defended knight: 4 + victim
  EXPECT_EQ(scores["b7c8n"], 15);          // under-promotion
  EXPECT_EQ(scores["b7a8q"], 250 - 1);
  EXPECT_EQ(scores["g1f2"], 8 + 60);
  auto at = [&](const std::string& m) { return std::find(order.begin(), order.end(), m) - order.begin(); };
  EXPECT_LT(at("c3b5"), at("g1f2"));
  EXPECT_LT(at("g1f2"), at("b7c8n"));
  EXPECT_LT(at("b7c8n"), at("a4b5"));
  for (const char* quiet : {"g1f1", "g1h1", "e4e5", "a4b4", "c3e2"}) EXPECT_LT(at(quiet), at("a4b5")) << quiet;
}

// The statistics a searched quiet move leaves behind, as the picker then sees
// them: history weights 16 * d^0.65, killers, counter and follow-up moves.
TEST(SearchPicker, QuietStatisticsFeedTheOrder) {
  testutil::initTables();
  search::initSearchTables();
  const int weights[] = {0, 16, 25, 33, 39, 46, 51, 57, 62, 67, 71};
  for (int d = 0; d <= 10; ++d) EXPECT_EQ(search::historyWeight[d], weights[d]) << d;
  EXPECT_EQ(search::historyWeight[30], 146);
  EXPECT_EQ(search::historyWeight[69], 251);

  testutil::Board b("4k3/8/8/8/8/5N2/8/R3K3 w - -");
  auto t = threadAt(b.pos);
  // The moves into this node: black Ng8-f6, before it white Bf1-c4.
  t->stack[kPly - 1].currentMove = makeMoveCode(62, 45);
  t->stack[kPly - 1].currentPiece = static_cast<uint8_t>(pieceCode(kBlack, kKnight));
  t->stack[kPly - 2].currentMove = makeMoveCode(5, 26);
  t->stack[kPly - 2].currentPiece = static_cast<uint8_t>(pieceCode(kWhite, kBishop));
  const Move good = boardtest::mv("a1a7"), bad = boardtest::mv("f3g5"), next = boardtest::mv("a1d1");
  const int rook = pieceCode(kWhite, kRook), knight = pieceCode(kWhite, kKnight);
  search::updateQuietStats(*t, kPly, good, rook, 4, 100, 50);  // raised alpha: weight 39
  EXPECT_EQ(t->historyTable[0][rook][moveTo(good)], 2048 + 14336 * 39 / 1024);
  EXPECT_EQ(t->historyTable[kKnight][rook][moveTo(good)], 2048 + 14336 * 39 / 1024);
  search::updateQuietStats(*t, kPly, bad, knight, 10, 50, 50);  // failed low: weight 71
  EXPECT_EQ(t->historyTable[0][knight][moveTo(bad)], 2048 - 2048 * 71 / 2048);
  search::updateQuietStats(*t, kPly, next, rook, 2, 60, 50);
  const auto& s = t->stack[kPly];
  EXPECT_EQ(s.killer1, next);
  EXPECT_EQ(s.killer2, good);
  EXPECT_EQ(t->counterMove1[pieceCode(kBlack, kKnight)][45], next);
  EXPECT_EQ(t->counterMove2[pieceCode(kBlack, kKnight)][45], good);
  EXPECT_EQ(t->followUpMove[pieceCode(kWhite, kBishop)][26], next);

  std::map<std::string, int> scores;
  for (const Handed& h : drain(*t, search::kPickMain)) scores[name(h.move)] = h.score;
  EXPECT_EQ(scores["a1a7"], (2048 + 14336 * 39 / 1024) / 256 + 55);  // second killer
  EXPECT_EQ(scores["f3g5"], 1977 / 256);
  EXPECT_EQ(scores["a1d1"], (2048 + 14336 * 25 / 1024) / 256 + 60);
  EXPECT_EQ(scores["a1b1"], 8);
}
