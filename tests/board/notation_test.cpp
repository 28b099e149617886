// Move text (coordinates and SAN), the move reader, FEN output and the
// board diagram.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "board/board_helpers.h"

using namespace board;
using namespace boardtest;

namespace {

// Restores the dialogue mode when a test ends, pass or fail.
struct UciModeGuard {
  int16_t saved = platform::uci_mode;
  ~UciModeGuard() { platform::uci_mode = saved; }
};

SanTexts sanOf(const Position& p, Move m) {
  SanTexts t{};
  moveToSan(p, m, t);
  return t;
}

std::string san(const Position& p, const char* move) { return sanOf(p, mv(move)).san; }

// parseMove's result as text: the move, or "-" when nothing was read.
std::string parsed(Position& p, const std::string& text) {
  Move m = kNoMove;
  const int read = parseMove(p, text, m);
  return read == kMoveRead ? name(m) : read == kMoveAmbiguous ? "ambiguous" : "-";
}

bool givesCheckByMaking(Position& p, Move m) {
  makeMove(p, m);
  bool check = inCheck(p, p.sideToMove);
  unmakeMove(p);
  return check;
}

// SAN by the usual rules, written here from the legal move list:
// disambiguate by file, else by rank, else by both.
std::string expectedSan(Position& p, Move m, const std::vector<Move>& legal) {
  const int from = moveFrom(m), to = moveTo(m), type = typeOf(p.board[from]);
  std::string s;
  if (type == kKing && (to == from + 2 || to == from - 2)) {
    s = to > from ? "o-o" : "o-o-o";
  } else if (type == kPawn) {
    if (p.board[to] || to == p.epSquare) s = std::string(1, "abcdefgh"[fileOf(from)]) + "x";
    s += squareName(to);
    if (isPromotion(m)) s += std::string("=") + " PNBRQK"[promotionType(m)];
  } else {
    s = " PNBRQK"[type];
    bool any = false, sameFile = false, sameRank = false;
    for (Move o : legal) {
      int f = moveFrom(o);
      if (moveTo(o) != to || f == from || p.board[f] != p.board[from]) continue;
      any = true;
      sameFile |= fileOf(f) == fileOf(from);
      sameRank |= rankOf(f) == rankOf(from);
    }
    if (any) {
      if (!sameFile) s += "abcdefgh"[fileOf(from)];
      else if (!sameRank) s += "12345678"[rankOf(from)];
      else s += squareName(from);
    }
    if (p.board[to]) s += "x";
    s += squareName(to);
  }
  if (givesCheckByMaking(p, m)) s += "+";
  return s;
}

// The written SAN of every legal move is the expected one, unique, and reads
// back to the same move; so do the coordinate texts.
// Alternative spellings are read back unless another legal move shares them.
void checkRoundTrip(Position& p, bool alternatives = false) {
  UciModeGuard guard;
  const Position before = p;
  auto legal = legalMoves(p);
  std::map<std::string, Move> seen;
  // Spellings compare without the check mark and with castling letters unified.
  auto key = [](std::string s) {
    if (!s.empty() && s.back() == '+') s.pop_back();
    for (char& c : s)
      if (c == 'O' || c == '0') c = 'o';
    return s;
  };
  std::map<std::string, std::set<Move>> spellers;
  std::vector<SanTexts> texts;
  for (Move m : legal) {
    texts.push_back(sanOf(p, m));
    for (std::string s : {texts.back().sanWithFile, texts.back().sanWithRank})
      if (!s.empty()) spellers[key(s)].insert(m);
  }
  for (size_t i = 0; i < legal.size(); ++i) {
    const Move m = legal[i];
    const SanTexts& t = texts[i];
    const std::string expected = expectedSan(p, m, legal);
    ASSERT_EQ(std::string(t.san), expected) << name(m) << " in " << fenOf(p);
    const bool check = expected.back() == '+';
    std::string coordinate = std::string(squareName(moveFrom(m))) + squareName(moveTo(m));
    if (isPromotion(m)) coordinate += std::string("=") + " PNBRQK"[promotionType(m)];
    ASSERT_EQ(std::string(t.coordinate), coordinate + (check ? "+" : "")) << fenOf(p);
    if (alternatives) {
      for (std::string s : {t.sanWithFile, t.sanWithRank}) {
        if (s.empty()) continue;
        ASSERT_EQ(s.back() == '+', check) << s;
        std::string got = parsed(p, s);
        const size_t uses = spellers[key(s)].size();
        ASSERT_EQ(got, uses == 1 ? name(m) : uses >= 2 ? "ambiguous" : "-")
            << s << " spells " << uses << " moves in " << fenOf(p);
      }
    }
    ASSERT_TRUE(seen.emplace(t.san, m).second) << t.san << " names two moves in " << fenOf(p);
    ASSERT_EQ(parsed(p, t.san), name(m)) << t.san << " in " << fenOf(p);
    platform::uci_mode = 1;
    ASSERT_EQ(parsed(p, moveToText(m)), name(m)) << moveToText(m) << " in " << fenOf(p);
    platform::uci_mode = 0;
    ASSERT_EQ(parsed(p, moveToText(m)), name(m)) << moveToText(m) << " in " << fenOf(p);
  }
  ASSERT_TRUE(samePosition(p, before)) << "the reader changed the position";
}

}  // namespace

TEST(MoveText, CoordinatesNullAndPromotionLetters) {
  testutil::initTables();
  UciModeGuard guard;
  char buffer[16];
  EXPECT_STREQ(moveToText(kNoMove, buffer), "null");
  EXPECT_EQ(moveToText(kNoMove), "null");
  EXPECT_EQ(moveToText(mv("e2e4")), "e2e4");
  EXPECT_EQ(moveToText(mv("a1h8")), "a1h8");
  platform::uci_mode = 1;
  EXPECT_EQ(moveToText(mv("e7e8n")), "e7e8n");
  EXPECT_EQ(moveToText(mv("e7e8q")), "e7e8q");
  EXPECT_EQ(moveToText(mv("a2a1b")), "a2a1b");
  EXPECT_EQ(moveToText(mv("g2h1r")), "g2h1r");
  platform::uci_mode = 0;
  EXPECT_EQ(moveToText(mv("e7e8n")), "e7e8=N");
  EXPECT_EQ(moveToText(mv("e7e8q")), "e7e8=Q");
  EXPECT_EQ(moveToText(mv("a2a1b")), "a2a1=B");
  EXPECT_EQ(moveToText(mv("g2h1r")), "g2h1=R");
  EXPECT_EQ(moveToText(mv("e2e4")), "e2e4");
  EXPECT_STREQ(squareName(0), "a1");
  EXPECT_STREQ(squareName(63), "h8");
  EXPECT_STREQ(squareName(kNoSquare), "-");
}

TEST(SanText, DisambiguationByFileRankOrBoth) {
  testutil::initTables();
  testutil::Board n("4k3/8/8/8/8/5N2/8/1N2K3 w - -");
  SanTexts t = sanOf(n.pos, mv("b1d2"));
  EXPECT_STREQ(t.san, "Nbd2");
  EXPECT_STREQ(t.sanWithFile, "Nbd2");
  EXPECT_STREQ(t.sanWithRank, "N1d2");
  EXPECT_STREQ(t.coordinate, "b1d2");
  EXPECT_EQ(san(n.pos, "f3d2"), "Nfd2");
  EXPECT_EQ(san(n.pos, "b1c3"), "Nc3") << "only one knight reaches c3";

  testutil::Board n2("4k3/8/8/8/8/3N4/8/3NK3 w - -");
  EXPECT_EQ(san(n2.pos, "d1f2"), "N1f2");
  EXPECT_EQ(san(n2.pos, "d3f2"), "N3f2");

  testutil::Board r("4k3/8/8/8/8/8/4K3/R6R w - -");
  EXPECT_EQ(san(r.pos, "a1d1"), "Rad1");
  EXPECT_EQ(san(r.pos, "h1d1"), "Rhd1");
  EXPECT_EQ(san(r.pos, "a1a5"), "Ra5");

  testutil::Board q("4k3/8/8/8/8/Q7/8/Q1Q1K3 w - -");
  EXPECT_EQ(san(q.pos, "a1b2"), "Qa1b2");
  EXPECT_EQ(san(q.pos, "c1b2"), "Qcb2");
  EXPECT_EQ(san(q.pos, "a3b2"), "Q3b2");
  EXPECT_EQ(parsed(q.pos, "Qa1b2"), "a1b2");
  EXPECT_EQ(parsed(q.pos, "Qcb2"), "c1b2");
  EXPECT_EQ(parsed(q.pos, "Q3b2"), "a3b2");

  // A capture keeps the piece letter and the disambiguation before the x.
  testutil::Board x("4k3/8/8/8/8/5N2/3p4/1N2K3 w - -");
  EXPECT_EQ(san(x.pos, "b1d2"), "Nbxd2");
  SanTexts tx = sanOf(x.pos, mv("b1d2"));
  EXPECT_STREQ(tx.sanWithFile, "Nbxd2");
  EXPECT_STREQ(tx.sanWithRank, "N1xd2");
}

TEST(SanText, PinnedTwinNeedsNoDisambiguation) {
  testutil::initTables();
  // The e3 knight is pinned by the e8 rook, so only d4 can go to f5.
  testutil::Board b("4r1k1/8/8/8/3N4/4N3/8/4K3 w - -");
  EXPECT_EQ(san(b.pos, "d4f5"), "Nf5");
  EXPECT_EQ(parsed(b.pos, "Nf5"), "d4f5");
  EXPECT_EQ(parsed(b.pos, "Ndf5"), "d4f5");
  EXPECT_EQ(parsed(b.pos, "Nef5"), "-") << "the pinned knight's move is illegal";
}

TEST(SanText, PawnMovesPromotionsAndCastling) {
  testutil::initTables();
  testutil::Board b("4k3/8/8/3p4/4P3/8/8/4K3 w - -");
  SanTexts t = sanOf(b.pos, mv("e4d5"));
  EXPECT_STREQ(t.san, "exd5");
  EXPECT_STREQ(t.sanWithFile, "ed");
  EXPECT_STREQ(t.sanWithRank, "");
  SanTexts push = sanOf(b.pos, mv("e4e5"));
  EXPECT_STREQ(push.san, "e5");
  EXPECT_STREQ(push.sanWithFile, "");

  testutil::Board ep("4k3/8/8/3pP3/8/8/8/4K3 w - d6");
  SanTexts te = sanOf(ep.pos, mv("e5d6"));
  EXPECT_STREQ(te.san, "exd6");
  EXPECT_STREQ(te.sanWithFile, "ed");

  UciModeGuard guard;
  for (int mode : {0, 1}) {
    platform::uci_mode = static_cast<int16_t>(mode);
    testutil::Board pr("3r3k/4P3/8/8/8/8/8/4K3 w - -");
    SanTexts tp = sanOf(pr.pos, mv("e7d8n"));
    EXPECT_STREQ(tp.san, "exd8=N");
    EXPECT_STREQ(tp.sanWithFile, "ed=N");
    EXPECT_STREQ(tp.coordinate, "e7d8=N") << "the same in both modes";
    EXPECT_EQ(san(pr.pos, "e7e8r"), "e8=R+");
  }

  testutil::Board c("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
  SanTexts ks = sanOf(c.pos, mv("e1g1"));
  EXPECT_STREQ(ks.san, "o-o");
  EXPECT_STREQ(ks.sanWithFile, "O-O");
  EXPECT_STREQ(ks.sanWithRank, "0-0");
  EXPECT_STREQ(ks.coordinate, "e1g1");
  SanTexts qs = sanOf(c.pos, mv("e1c1"));
  EXPECT_STREQ(qs.san, "o-o-o");
  EXPECT_STREQ(qs.sanWithFile, "O-O-O");
  EXPECT_STREQ(qs.sanWithRank, "0-0-0");
}

TEST(SanText, CheckMarksFollowThePositionAfterTheMove) {
  testutil::initTables();
  // The castling rook gives the check.
  testutil::Board ks("5k2/8/8/8/8/8/8/4K2R w K -");
  SanTexts t = sanOf(ks.pos, mv("e1g1"));
  EXPECT_STREQ(t.san, "o-o+");
  EXPECT_STREQ(t.sanWithFile, "O-O+");
  EXPECT_STREQ(t.sanWithRank, "0-0+");
  EXPECT_STREQ(t.coordinate, "e1g1+");
  testutil::Board qs("3k4/8/8/8/8/8/8/R3K3 w Q -");
  EXPECT_EQ(san(qs.pos, "e1c1"), "o-o-o+");
  // En passant opens the fifth rank, or a diagonal.
  testutil::Board rank("8/8/8/R2pP2k/8/8/8/4K3 w - d6");
  EXPECT_EQ(san(rank.pos, "e5d6"), "exd6+");
  EXPECT_EQ(san(rank.pos, "e5e6"), "e6");
  testutil::Board diag("8/6k1/8/3pP3/8/8/1B6/4K3 w - d6");
  EXPECT_EQ(san(diag.pos, "e5d6"), "exd6+");
  // The new piece of a promotion counts.
  testutil::Board promo("7k/4P3/8/8/8/8/8/4K3 w - -");
  EXPECT_EQ(san(promo.pos, "e7e8q"), "e8=Q+");
  EXPECT_EQ(san(promo.pos, "e7e8r"), "e8=R+");
  EXPECT_EQ(san(promo.pos, "e7e8b"), "e8=B");
  EXPECT_EQ(san(promo.pos, "e7e8n"), "e8=N");
  // A king move that uncovers the rook.
  testutil::Board king("4k3/8/8/8/8/8/4K3/4R3 w - -");
  EXPECT_EQ(san(king.pos, "e2d2"), "Kd2+");
  EXPECT_EQ(san(king.pos, "e2e3"), "Ke3");
  // No mate sign.
  testutil::Board mate("6k1/5ppp/8/8/8/8/8/R3K3 w - -");
  EXPECT_EQ(san(mate.pos, "a1a8"), "Ra8+");
}

TEST(MoveReader, AcceptsEveryListedSpelling) {
  testutil::initTables();
  UciModeGuard guard;
  testutil::Board b;
  for (const char* text : {"e2e4", "e4", "e4+", "e4#", "e2e4+"}) EXPECT_EQ(parsed(b.pos, text), "e2e4") << text;
  for (const char* text : {"Nf3", "Ngf3", "N1f3", "g1f3", "Nf3+", "Nf3#"})
    EXPECT_EQ(parsed(b.pos, text), "g1f3") << text;

  testutil::Board x("4k3/8/8/3p4/4P3/8/8/4K3 w - -");
  for (const char* text : {"exd5", "ed", "e4d5", "exd5+"}) EXPECT_EQ(parsed(x.pos, text), "e4d5") << text;

  testutil::Board pr("7k/4P3/8/8/8/8/8/4K3 w - -");
  for (const char* text : {"e8=Q", "e8q", "e8Q", "e8=q", "e7e8q", "e7e8Q", "e7e8=Q", "e8=Q+"})
    EXPECT_EQ(parsed(pr.pos, text), "e7e8q") << text;
  for (const char* text : {"e8=N", "e8n", "e7e8n", "e7e8=N"}) EXPECT_EQ(parsed(pr.pos, text), "e7e8n") << text;
  EXPECT_EQ(parsed(pr.pos, "e8=B"), "e7e8b");
  EXPECT_EQ(parsed(pr.pos, "e7e8r"), "e7e8r");
  testing::internal::CaptureStdout();
  EXPECT_EQ(parsed(pr.pos, "e8"), "-") << "a promotion must name its piece";
  EXPECT_EQ(parsed(pr.pos, "e7e8"), "-");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "no match is no ambiguity";

  testutil::Board c("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
  for (const char* text : {"O-O", "0-0", "o-o", "e1g1", "O-O+"}) EXPECT_EQ(parsed(c.pos, text), "e1g1") << text;
  for (const char* text : {"O-O-O", "0-0-0", "o-o-o", "e1c1"}) EXPECT_EQ(parsed(c.pos, text), "e1c1") << text;
  testutil::Board cb("r3k2r/8/8/8/8/8/8/R3K2R b KQkq -");
  EXPECT_EQ(parsed(cb.pos, "O-O"), "e8g8");
  EXPECT_EQ(parsed(cb.pos, "0-0-0"), "e8c8");
}

TEST(MoveReader, RefusesEmptyIllegalAndAmbiguousText) {
  testutil::initTables();
  testutil::Board b;
  const Position before = b.pos;
  testing::internal::CaptureStdout();
  for (const char* text : {"", "+", "#", "zz", "e2e5", "e5", "Nd2", "Ke2", "O-O", "e1g1", "e2", "null"})
    EXPECT_EQ(parsed(b.pos, text), "-") << "'" << text << "'";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(samePosition(b.pos, before));
  // The reader takes the game position's side only.
  EXPECT_EQ(parsed(b.pos, "e7e5"), "-");

  // Two legal candidates: no result, and the reader says why.
  testutil::Board n("4k3/8/8/8/8/8/8/1N2KN2 w - -");
  EXPECT_EQ(parsed(n.pos, "N1d2"), "ambiguous") << "both knights stand on rank 1";
  // Plain "Nd2" is no text of either move: refused without a message.
  testing::internal::CaptureStdout();
  EXPECT_EQ(parsed(n.pos, "Nd2"), "-");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(parsed(n.pos, "Nbd2"), "b1d2");
  EXPECT_EQ(parsed(n.pos, "Nfd2"), "f1d2");
  testutil::Board pawns("4k3/3n4/4P3/3p4/4P3/8/8/4K3 w - -");
  EXPECT_EQ(parsed(pawns.pos, "ed"), "ambiguous");
  EXPECT_EQ(parsed(pawns.pos, "exd5"), "e4d5");
  EXPECT_EQ(parsed(pawns.pos, "exd7"), "e6d7");
}

TEST(MoveReader, RoundTripOfEveryLegalMoveInTestPositions) {
  testutil::initTables();
  std::vector<std::string> fens = variedFens();
  for (const char* f : {"4k3/8/8/8/8/5N2/8/1N2K3 w - -", "4k3/8/8/8/8/3N4/8/3NK3 w - -",
                        "4k3/8/8/8/8/8/4K3/R6R w - -", "4k3/8/8/8/8/Q7/8/Q1Q1K3 w - -",
                        "4r1k1/8/8/8/3N4/4N3/8/4K3 w - -", "1k6/8/8/2N1N3/8/2N1N3/8/4K3 w - -",
                        "7k/8/8/3Q4/8/1Q3Q2/8/4K3 w - -", "6k1/8/8/8/r6r/8/4K3/r7 b - -",
                        "5k2/8/8/8/8/8/8/4K2R w K -", "8/8/8/R2pP2k/8/8/8/4K3 w - d6",
                        "8/6k1/8/3pP3/8/8/1B6/4K3 w - d6", "3r3k/2P1P3/8/8/8/8/8/4K3 w - -"}) {
    fens.push_back(f);
  }
  for (const auto& fen : fens) {
    testutil::Board b(fen);
    checkRoundTrip(b.pos, true);
    if (HasFatalFailure()) return;
  }
}

TEST(MoveReader, RoundTripAlongPlayouts) {
  testutil::initTables();
  int positions = forPlayoutPositions(variedFens(), 40, 17, [](testutil::Board& b) { checkRoundTrip(b.pos); });
  EXPECT_GT(positions, 500);
}

// ---------------------------------------------------------------- FEN and diagram out

TEST(PositionText, FenWithCountersCountsPliesSinceSetup) {
  testutil::initTables();
  testutil::Board b;
  EXPECT_EQ(positionToFen(b.pos, true), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 0");
  EXPECT_EQ(positionToFen(b.pos, false), kStartFen);
  makeMove(b.pos, mv("e2e4"));
  EXPECT_EQ(positionToFen(b.pos, true), "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
  makeMove(b.pos, mv("g8f6"));
  EXPECT_EQ(positionToFen(b.pos, true), "rnbqkb1r/pppppppp/5n2/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 1 2");
  makeMove(b.pos, mv("e1e2"));
  EXPECT_EQ(positionToFen(b.pos, true), "rnbqkb1r/pppppppp/5n2/8/4P3/8/PPPPKPPP/RNBQ1BNR b kq - 2 3");
  testutil::Board none("4k3/8/8/8/8/8/8/4K3 b - -");
  EXPECT_EQ(positionToFen(none.pos, true), "4k3/8/8/8/8/8/8/4K3 b - - 0 0");
}

TEST(PositionText, BoardDiagramLayout) {
  testutil::initTables();
  testutil::Board b;
  const std::string start =
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 0\n"
      "  r n b q k b n r\n"
      "  o o o o o o o o\n"
      "  - + - + - + - +\n"
      "  + - + - + - + -\n"
      "  - + - + - + - +\n"
      "  + - + - + - + -\n"
      "  P P P P P P P P\n"
      "  R N B Q K B N R\n"
      "white\n";
  EXPECT_EQ(boardDiagram(b.pos), start);

  testutil::Board k("4k3/8/8/8/8/8/8/4K3 b - -");
  const std::string kings =
      "4k3/8/8/8/8/8/8/4K3 b - - 0 0\n"
      "  - + - + k + - +\n"
      "  + - + - + - + -\n"
      "  - + - + - + - +\n"
      "  + - + - + - + -\n"
      "  - + - + - + - +\n"
      "  + - + - + - + -\n"
      "  - + - + - + - +\n"
      "  + - + - K - + -\n"
      "black\n";
  EXPECT_EQ(boardDiagram(k.pos), kings) << "a1 is dark '+'";
}
