// Move generators: exact order in small positions, the documented group
// order everywhere, and the complete lists against a square-by-square
// generator written here.
#include <gtest/gtest.h>

#include <tuple>

#include "board/board_helpers.h"

using namespace board;
using namespace boardtest;

namespace {

bool onBoard(int f, int r) { return f >= 0 && f < 8 && r >= 0 && r < 8; }

constexpr Move kPromoFlagsInOrder[4] = {kPromoQueen, kPromoKnight, kPromoBishop, kPromoRook};

// Pseudo-legal moves by walking the board, each with its moving and captured code.
std::vector<MoveEntry> walkGenerate(const Position& p) {
  std::vector<MoveEntry> out;
  const int us = p.sideToMove;
  auto add = [&](int from, int to, Move flags = 0, int captured = -1) {
    MoveEntry e{};
    e.move = makeMoveCode(from, to, flags);
    e.piece = p.board[from];
    e.captured = static_cast<uint8_t>(captured >= 0 ? captured : p.board[to]);
    out.push_back(e);
  };
  auto addPawn = [&](int from, int to) {
    if (rankOf(to) == 0 || rankOf(to) == 7)
      for (Move f : kPromoFlagsInOrder) add(from, to, f);
    else
      add(from, to);
  };
  auto enemyAt = [&](int s) { return p.board[s] && colourOf(p.board[s]) != us; };
  for (int from = 0; from < 64; ++from) {
    int code = p.board[from];
    if (!code || colourOf(code) != us) continue;
    int f = fileOf(from), r = rankOf(from);
    switch (typeOf(code)) {
      case kPawn: {
        int dr = us == kWhite ? 1 : -1;
        int one = makeSquare(f, r + dr);
        if (!p.board[one]) {
          addPawn(from, one);
          int startRank = us == kWhite ? 1 : 6;
          if (r == startRank && !p.board[makeSquare(f, r + 2 * dr)]) add(from, makeSquare(f, r + 2 * dr));
        }
        for (int df : {-1, 1}) {
          if (!onBoard(f + df, r + dr)) continue;
          int to = makeSquare(f + df, r + dr);
          if (enemyAt(to)) addPawn(from, to);
          else if (to == p.epSquare) add(from, to, 0, 0);
        }
        break;
      }
      case kKnight:
      case kKing: {
        static constexpr int kn[8][2] = {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
        static constexpr int kg[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
        const auto& d = typeOf(code) == kKnight ? kn : kg;
        for (const auto& step : d) {
          if (!onBoard(f + step[0], r + step[1])) continue;
          int to = makeSquare(f + step[0], r + step[1]);
          if (!p.board[to] || enemyAt(to)) add(from, to);
        }
        break;
      }
      default: {
        static constexpr int dirs[8][2] = {{0, 1}, {0, -1}, {1, 0}, {-1, 0}, {1, 1}, {-1, -1}, {-1, 1}, {1, -1}};
        int t = typeOf(code);
        for (int d = t == kBishop ? 4 : 0; d < (t == kRook ? 4 : 8); ++d) {
          for (int k = 1;; ++k) {
            int ff = f + dirs[d][0] * k, rr = r + dirs[d][1] * k;
            if (!onBoard(ff, rr)) break;
            int to = makeSquare(ff, rr);
            if (p.board[to] && !enemyAt(to)) break;
            add(from, to);
            if (p.board[to]) break;
          }
        }
      }
    }
  }
  // Castling: right, king at home, squares between king and rook empty.
  const int home = us == kWhite ? kE1 : kE8;
  if (p.board[home] == pieceCode(us, kKing)) {
    int ks = us == kWhite ? kWhiteKingSide : kBlackKingSide, qs = us == kWhite ? kWhiteQueenSide : kBlackQueenSide;
    if ((p.castleRights & ks) && !p.board[home + 1] && !p.board[home + 2]) add(home, home + 2);
    if ((p.castleRights & qs) && !p.board[home - 1] && !p.board[home - 2] && !p.board[home - 3]) add(home, home - 2);
  }
  return out;
}

bool isCastle(const Position& p, Move m) {
  int from = moveFrom(m), to = moveTo(m);
  return typeOf(p.board[from]) == kKing && (to == from + 2 || to == from - 2);
}

// Legal by making the move and looking at the own king (castling: also the
// start and passed squares).
bool legalByMaking(Position& p, Move m) {
  const int us = p.sideToMove, them = us ^ 1;
  if (isCastle(p, m)) {
    int from = moveFrom(m), to = moveTo(m);
    if (isAttacked(p, from, them) || isAttacked(p, (from + to) / 2, them)) return false;
  }
  makeMove(p, m);
  bool legal = !isAttacked(p, p.kingSquare[us], them);
  unmakeMove(p);
  return legal;
}

std::vector<Move> captures(const Position& p, int target = kNoSquare) {
  MoveEntry list[kMaxMoves];
  return movesOf(entries(list, generateCaptures(p, p.sideToMove, list, target)));
}
std::vector<Move> promotions(const Position& p, bool all = true) {
  MoveEntry list[kMaxMoves];
  return movesOf(entries(list, generatePromotions(p, p.sideToMove, list, all)));
}
std::vector<Move> quiets(const Position& p, int target = kNoSquare) {
  MoveEntry list[kMaxMoves];
  return movesOf(entries(list, generateQuiets(p, p.sideToMove, list, target)));
}
std::vector<Move> quietChecks(const Position& p) {
  MoveEntry list[kMaxMoves];
  return movesOf(entries(list, generateQuietChecks(p, p.sideToMove, list)));
}

std::vector<Move> parseList(std::initializer_list<const char*> texts) {
  std::vector<Move> v;
  for (const char* t : texts) v.push_back(mv(t));
  return v;
}

std::vector<Move> concat(std::initializer_list<std::vector<Move>> parts) {
  std::vector<Move> v;
  for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

int typeRank(int type) { return type - kKnight; }  // knight 0 .. queen 3

// Sort keys of the documented order within each generator's output.
using OrderKey = std::tuple<int, int, int, int>;

OrderKey captureKey(const Position& p, Move m) {
  int from = moveFrom(m), to = moveTo(m), type = typeOf(p.board[from]);
  if (type == kPawn) {
    bool towardsA = fileOf(to) < fileOf(from);
    return {towardsA ? 0 : 1, to, 0, 0};
  }
  if (type == kKing) return {6, from, to, 0};
  return {2 + typeRank(type), from, to, 0};
}

OrderKey promotionKey(const Position& p, Move m) {
  int from = moveFrom(m), to = moveTo(m);
  if (!isPromotion(m)) return {1, to, 0, 0};
  int kind = to == from + kForward[p.sideToMove] ? 0 : fileOf(to) < fileOf(from) ? 1 : 2;
  int flag = 0;
  while (kPromoFlagsInOrder[flag] != (m & kPromoMask)) ++flag;
  return {0, from, kind, flag};
}

OrderKey quietKey(const Position& p, Move m) {
  int from = moveFrom(m), to = moveTo(m), type = typeOf(p.board[from]);
  if (type == kPawn) return {(to - from == 16 || from - to == 16) ? 1 : 0, to, 0, 0};
  if (type == kKing) return isCastle(p, m) ? OrderKey{7, to > from ? 0 : 1, 0, 0} : OrderKey{6, from, to, 0};
  return {2 + typeRank(type), from, to, 0};
}

template <class KeyFn>
testing::AssertionResult inOrder(const Position& p, const std::vector<Move>& list, KeyFn key) {
  for (size_t i = 1; i < list.size(); ++i)
    if (!(key(p, list[i - 1]) < key(p, list[i])))
      return testing::AssertionFailure() << name(list[i - 1]) << " before " << name(list[i]) << " in "
                                         << names(list) << " of " << fenOf(p);
  return testing::AssertionSuccess();
}

int checkerCount(const Position& p) {
  return popCount(attackersOf(p, p.kingSquare[p.sideToMove], p.sideToMove ^ 1, occupied(p)));
}

}  // namespace

// ---------------------------------------------------------------- fixed order cases

TEST(MoveGeneration, StartPositionListInOrder) {
  testutil::initTables();
  testutil::Board b;
  auto list = allEntries(b.pos);
  EXPECT_EQ(names(movesOf(list)),
            "a2a3 b2b3 c2c3 d2d3 e2e3 f2f3 g2g3 h2h3 a2a4 b2b4 c2c4 d2d4 e2e4 f2f4 g2g4 h2h4 "
            "b1a3 b1c3 g1f3 g1h3");
  for (const auto& e : list) {
    EXPECT_EQ(e.piece, b.pos.board[moveFrom(e.move)]);
    EXPECT_EQ(e.captured, 0);
  }
  EXPECT_TRUE(captures(b.pos).empty());
  EXPECT_TRUE(promotions(b.pos).empty());
}

TEST(MoveGeneration, PromotionsComeInQueenKnightBishopRookOrder) {
  testutil::initTables();
  testutil::Board b("r1n1k3/1P6/8/8/8/8/8/4K3 w - -");
  MoveEntry list[kMaxMoves];
  auto promos = entries(list, generatePromotions(b.pos, kWhite, list, true));
  EXPECT_EQ(names(movesOf(promos)),
            "b7b8q b7b8n b7b8b b7b8r b7a8q b7a8n b7a8b b7a8r b7c8q b7c8n b7c8b b7c8r");
  for (const auto& e : promos) {
    EXPECT_EQ(e.piece, pieceCode(kWhite, kPawn));
    EXPECT_EQ(e.captured, b.pos.board[moveTo(e.move)]);
  }
  EXPECT_EQ(promos[4].captured, pieceCode(kBlack, kRook));
  EXPECT_EQ(promos[8].captured, pieceCode(kBlack, kKnight));
  EXPECT_EQ(names(promotions(b.pos, false)), "b7b8q b7a8q b7c8q");
  // They sit between the captures and the quiet moves of the full list.
  auto all = allMoves(b.pos);
  EXPECT_EQ(all, concat({captures(b.pos), promotions(b.pos), quiets(b.pos)}));
  EXPECT_TRUE(captures(b.pos).empty()) << "captures onto the last rank are promotions only";

  // Black: push first, then towards the a-file, then towards the h-file.
  testutil::Board black("4k3/8/8/8/8/8/6p1/4KN1R b - -");
  EXPECT_EQ(names(promotions(black.pos, false)), "g2g1q g2f1q g2h1q");
  // A blocked push leaves only the captures.
  testutil::Board blocked("n3k3/P7/8/8/8/8/8/4K3 w - -");
  EXPECT_TRUE(promotions(blocked.pos).empty());
  testutil::Board blocked2("nb2k3/P7/8/8/8/8/8/4K3 w - -");
  EXPECT_EQ(names(promotions(blocked2.pos, false)), "a7b8q");
}

TEST(MoveGeneration, EnPassantIsAmongThePawnCapturesWithNothingCaptured) {
  testutil::initTables();
  testutil::Board w("4k3/8/5n2/3pP3/8/8/8/4K3 w - d6");
  MoveEntry list[kMaxMoves];
  auto caps = entries(list, generateCaptures(w.pos, kWhite, list, kNoSquare));
  ASSERT_EQ(names(movesOf(caps)), "e5d6 e5f6");
  EXPECT_EQ(caps[0].captured, 0);
  EXPECT_EQ(caps[0].piece, pieceCode(kWhite, kPawn));
  EXPECT_EQ(caps[1].captured, pieceCode(kBlack, kKnight));

  testutil::Board bl("4k3/8/8/8/3pP3/2N5/8/4K3 b - e3");
  auto bcaps = entries(list, generateCaptures(bl.pos, kBlack, list, kNoSquare));
  ASSERT_EQ(names(movesOf(bcaps)), "d4c3 d4e3");
  EXPECT_EQ(bcaps[0].captured, pieceCode(kWhite, kKnight));
  EXPECT_EQ(bcaps[1].captured, 0);

  // Without the en-passant square there is no such capture.
  testutil::Board none("4k3/8/5n2/3pP3/8/8/8/4K3 w - -");
  EXPECT_EQ(names(captures(none.pos)), "e5f6");
}

TEST(MoveGeneration, CapturesByPieceKind) {
  testutil::initTables();
  // Pawn captures towards a, then towards h; knights, bishops, rooks, queens, king.
  testutil::Board b("4k3/8/1p1p4/1pP1n2r/r3Q3/2NB4/4K3/5n1R w - -");
  EXPECT_EQ(names(captures(b.pos)), "c5b6 c5d6 c3a4 c3b5 d3b5 h1f1 h1h5 e4a4 e4e5 e2f1");
  // A target square keeps only captures of that piece, plus every king capture.
  EXPECT_EQ(names(captures(b.pos, sq("e5"))), "e4e5 e2f1");
  EXPECT_EQ(names(captures(b.pos, sq("b5"))), "c3b5 d3b5 e2f1");
}

TEST(MoveGeneration, CastlingNeedsEmptySquaresButNotSafety) {
  testutil::initTables();
  auto castles = [](const std::string& fen) {
    testutil::Board b(fen);
    std::vector<Move> c;
    for (Move m : quiets(b.pos))
      if (isCastle(b.pos, m)) c.push_back(m);
    return names(c);
  };
  EXPECT_EQ(castles("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -"), "e1g1 e1c1");
  EXPECT_EQ(castles("r3k2r/8/8/8/8/8/8/R3K2R b KQkq -"), "e8g8 e8c8");
  EXPECT_EQ(castles("4k3/8/8/8/8/8/8/4KB1R w K -"), "") << "piece on f1";
  EXPECT_EQ(castles("4k3/8/8/8/8/8/8/4K1NR w K -"), "") << "piece on g1";
  EXPECT_EQ(castles("4k3/8/8/8/8/8/8/RN2K3 w Q -"), "") << "piece on b1";
  EXPECT_EQ(castles("4k3/8/8/8/8/8/8/R2QK3 w Q -"), "") << "piece on d1";
  EXPECT_EQ(castles("4k3/8/8/8/8/8/8/R3K2R w - -"), "") << "no rights";
  EXPECT_EQ(castles("r3k2r/8/8/8/8/8/8/R3K2R w kq -"), "") << "only the other side's rights";
  // Attacked squares are the legality test's business.
  EXPECT_EQ(castles("4k3/8/8/8/8/8/4r3/R3K2R w KQ -"), "e1g1 e1c1") << "in check";
  EXPECT_EQ(castles("r3k2r/8/3Q4/8/8/5q2/8/R3K2R b KQkq -"), "e8g8 e8c8");
  testutil::Board checked("4k3/8/8/8/8/8/4r3/R3K2R w KQ -");
  for (Move m : legalMoves(checked.pos)) EXPECT_FALSE(isCastle(checked.pos, m)) << name(m);
  testutil::Board through("r3k2r/8/3Q4/8/8/5q2/8/R3K2R b KQkq -");
  EXPECT_EQ(isLegal(through.pos, kBlack, mv("e8g8")), 0) << "f8 is attacked";
  EXPECT_EQ(isLegal(through.pos, kBlack, mv("e8c8")), 0) << "d8 is attacked";
  testutil::Board bFile("r3k2r/8/8/8/8/8/8/1R2K2R b kq -");
  EXPECT_EQ(isLegal(bFile.pos, kBlack, mv("e8c8")), 1) << "b8 may be attacked";
  // Rights without the king at home write nothing (set by hand: setup refuses them).
  testutil::Board away("4k3/8/8/8/8/8/8/3K3R w - -");
  away.pos.castleRights = kWhiteKingSide;
  for (Move m : quiets(away.pos)) EXPECT_NE(m, mv("d1f1"));
}

TEST(MoveGeneration, SixthRankPushesBelongToThePromotionGenerator) {
  testutil::initTables();
  testutil::Board w("4k3/8/3P4/8/8/8/8/4K3 w - -");
  EXPECT_EQ(names(promotions(w.pos)), "d6d7");
  EXPECT_FALSE(isPromotion(promotions(w.pos)[0]));
  for (Move m : quiets(w.pos)) EXPECT_NE(moveFrom(m), sq("d6")) << name(m);
  testutil::Board bl("4k3/8/8/8/8/3p4/8/4K3 b - -");
  EXPECT_EQ(names(promotions(bl.pos)), "d3d2");
  for (Move m : quiets(bl.pos)) EXPECT_NE(moveFrom(m), sq("d3")) << name(m);
  testutil::Board blocked("3nk3/8/3P4/8/8/8/8/4K3 w - -");
  EXPECT_EQ(names(promotions(blocked.pos)), "d6d7");
  testutil::Board blocked2("4k3/3n4/3P4/8/8/8/8/4K3 w - -");
  EXPECT_TRUE(promotions(blocked2.pos).empty());
  // Pawns further back push in the quiet generator, double steps only from home.
  testutil::Board back("4k3/8/8/3P4/8/2P5/1P6/4K3 w - -");
  EXPECT_EQ(names(promotions(back.pos)), "");
  auto q = quiets(back.pos);
  EXPECT_TRUE(contains(q, mv("b2b3")));
  EXPECT_TRUE(contains(q, mv("b2b4")));
  EXPECT_TRUE(contains(q, mv("c3c4")));
  EXPECT_TRUE(contains(q, mv("d5d6")));
  EXPECT_FALSE(contains(q, mv("c3c5")));
  testutil::Board jump("4k3/8/8/8/8/1n6/1P6/4K3 w - -");
  for (Move m : quiets(jump.pos)) EXPECT_NE(moveFrom(m), sq("b2")) << "no double step over a piece";
}

TEST(MoveGeneration, TargetSquareGivesCheckEvasions) {
  testutil::initTables();
  // The rook on e8 checks; the knight d2 could take b3, the king f2.
  testutil::Board b("R3r2k/7p/B7/8/8/1n6/3N1n2/4K2R w K -");
  ASSERT_EQ(findAttacker(b.pos, kE1, kBlack, occupied(b.pos)), kE8);
  EXPECT_EQ(names(captures(b.pos)), "d2b3 h1h7 a8e8 e1f2");
  EXPECT_EQ(names(captures(b.pos, kE8)), "a8e8 e1f2");
  EXPECT_EQ(names(quiets(b.pos, kE8)), "d2e4 a6e2 e1d1 e1f1 e1e2 e1g1");
  EXPECT_EQ(names(sorted(legalMoves(b.pos))), names(sorted(parseList({"a8e8", "e1f2", "d2e4", "a6e2", "e1f1"}))));
  // En passant stays among the captures of a targeted call.
  testutil::Board ep("8/8/8/3Pp3/3K4/8/8/7k w - e6");
  EXPECT_EQ(names(captures(ep.pos, sq("e5"))), "d5e6 d4e5");
  EXPECT_TRUE(contains(legalMoves(ep.pos), mv("d5e6")));
}

TEST(MoveGeneration, ListsFollowTheDocumentedGroupOrder) {
  testutil::initTables();
  int positions = forPlayoutPositions(variedFens(), 80, 21, [](testutil::Board& b) {
    const Position& p = b.pos;
    auto c = captures(p), pr = promotions(p), q = quiets(p);
    ASSERT_TRUE(inOrder(p, c, captureKey));
    ASSERT_TRUE(inOrder(p, pr, promotionKey));
    ASSERT_TRUE(inOrder(p, q, quietKey));
    ASSERT_EQ(allMoves(p), concat({c, pr, q})) << fenOf(p);
    // Queen-only promotions are the queen entries of the full promotion list.
    std::vector<Move> queens;
    for (Move m : pr)
      if (!isPromotion(m) || (m & kPromoQueen)) queens.push_back(m);
    ASSERT_EQ(promotions(p, false), queens) << fenOf(p);
  });
  EXPECT_GT(positions, 1000);
}

TEST(MoveGeneration, CompleteListMatchesABoardWalk) {
  testutil::initTables();
  int positions = forPlayoutPositions(variedFens(), 120, 3, [](testutil::Board& b) {
    auto generated = allEntries(b.pos);
    auto walked = walkGenerate(b.pos);
    ASSERT_EQ(names(sorted(movesOf(generated))), names(sorted(movesOf(walked)))) << fenOf(b.pos);
    auto byMove = [](const MoveEntry& a, const MoveEntry& c) { return a.move < c.move; };
    std::sort(generated.begin(), generated.end(), byMove);
    std::sort(walked.begin(), walked.end(), byMove);
    for (size_t i = 0; i < walked.size(); ++i) {
      ASSERT_EQ(generated[i].piece, walked[i].piece) << name(walked[i].move) << " in " << fenOf(b.pos);
      ASSERT_EQ(generated[i].captured, walked[i].captured) << name(walked[i].move) << " in " << fenOf(b.pos);
    }
  });
  EXPECT_GT(positions, 1500);
}

TEST(MoveGeneration, LegalListIsThePseudoLegalListFilteredByMakingTheMove) {
  testutil::initTables();
  int positions = forPlayoutPositions(variedFens(), 120, 4, [](testutil::Board& b) {
    const Position before = b.pos;
    auto all = allMoves(b.pos);
    std::vector<Move> expected;
    for (Move m : all) {
      bool legal = legalByMaking(b.pos, m);
      ASSERT_EQ(isLegal(b.pos, b.pos.sideToMove, m) != 0, legal) << name(m) << " in " << fenOf(b.pos);
      if (legal) expected.push_back(m);
    }
    ASSERT_EQ(legalMoves(b.pos), expected) << "same moves, same order: " << fenOf(b.pos);
    ASSERT_TRUE(samePosition(b.pos, before));
  });
  EXPECT_GT(positions, 1500);
}

TEST(MoveGeneration, TargetedGenerationGivesEveryEvasionOfASingleCheck) {
  testutil::initTables();
  int checks = 0;
  forPlayoutPositions(variedFens(), 150, 8, [&](testutil::Board& b) {
    Position& p = b.pos;
    int n = checkerCount(p);
    if (n == 0) return;
    auto legal = legalMoves(p);
    if (n == 2) {
      for (Move m : legal) EXPECT_EQ(moveFrom(m), p.kingSquare[p.sideToMove]) << "double check: " << fenOf(p);
      return;
    }
    ++checks;
    int checker = findAttacker(p, p.kingSquare[p.sideToMove], p.sideToMove ^ 1, occupied(p));
    std::vector<Move> evasions;
    for (Move m : concat({captures(p, checker), promotions(p), quiets(p, checker)}))
      if (isLegal(p, p.sideToMove, m)) evasions.push_back(m);
    ASSERT_EQ(names(sorted(evasions)), names(sorted(legal))) << fenOf(p);
  });
  EXPECT_GT(checks, 40);
}

// ---------------------------------------------------------------- quiet checks

TEST(QuietChecks, FixedPositionInOrder) {
  testutil::initTables();
  testutil::Board b("8/B7/8/4k3/8/5P2/QN1P4/K6R w - -");
  EXPECT_EQ(names(quietChecks(b.pos)), "f3f4 d2d4 b2d3 b2c4 a7d4 a7b8 h1e1 h1h5 a2a5 a2d5 a2e6");
}

TEST(QuietChecks, NoKingMovesCastlingPromotionsOrDiscoveries) {
  testutil::initTables();
  // Castling would check from f1; only the plain rook move is listed.
  testutil::Board castle("5k2/8/8/8/8/8/8/4K2R w K -");
  EXPECT_EQ(names(quietChecks(castle.pos)), "h1f1 h1h8");
  // The knight uncovers the rook: a discovered check, not listed.
  testutil::Board disc("4k3/8/8/8/8/8/4N3/4R1K1 w - -");
  EXPECT_EQ(names(quietChecks(disc.pos)), "");
  makeMove(disc.pos, mv("e2c3"));
  EXPECT_TRUE(inCheck(disc.pos, kBlack));
  // A promotion with check is not listed.
  testutil::Board promo("7k/4P3/8/8/8/8/8/4K3 w - -");
  EXPECT_EQ(names(quietChecks(promo.pos)), "");
  // Without bishops, rooks or queens no slider checks.
  testutil::Board knights("4k3/8/8/8/8/8/8/1N2K1N1 w - -");
  for (Move m : quietChecks(knights.pos)) EXPECT_EQ(typeOf(knights.pos.board[moveFrom(m)]), kKnight);
}

TEST(QuietChecks, EveryListedMoveChecksAndEveryDirectQuietCheckIsListed) {
  testutil::initTables();
  int listedTotal = 0;
  int positions = forPlayoutPositions(variedFens(), 150, 11, [&](testutil::Board& b) {
    Position& p = b.pos;
    const int us = p.sideToMove, them = us ^ 1;
    auto listed = quietChecks(p);
    auto q = quiets(p);
    std::vector<Move> seventhPushes;
    for (Move m : promotions(p))
      if (!isPromotion(m)) seventhPushes.push_back(m);
    for (size_t i = 0; i < listed.size(); ++i) {
      Move m = listed[i];
      ASSERT_EQ(std::count(listed.begin(), listed.end(), m), 1) << name(m) << " twice in " << fenOf(p);
      ASSERT_TRUE(contains(q, m) || contains(seventhPushes, m)) << name(m) << " is not a quiet move of " << fenOf(p);
      int type = typeOf(p.board[moveFrom(m)]);
      ASSERT_TRUE(type >= kPawn && type <= kQueen) << name(m);
      makeMove(p, m);
      bool direct = attackersOf(p, p.kingSquare[them], us, occupied(p)) & bit(moveTo(m));
      unmakeMove(p);
      ASSERT_TRUE(direct) << name(m) << " gives no direct check in " << fenOf(p);
    }
    listedTotal += static_cast<int>(listed.size());
    for (Move m : q) {
      if (isCastle(p, m) || typeOf(p.board[moveFrom(m)]) == kKing) continue;
      makeMove(p, m);
      bool direct = attackersOf(p, p.kingSquare[them], us, occupied(p)) & bit(moveTo(m));
      unmakeMove(p);
      if (direct) {
        ASSERT_TRUE(contains(listed, m)) << name(m) << " checks but is missing in " << fenOf(p);
      }
    }
  });
  EXPECT_GT(positions, 1500);
  EXPECT_GT(listedTotal, 1000);
}
