// Root play check: the engine plays both sides of random tablebase
// positions with the tables and must keep every won position won, convert
// it (mate) within the fifty-move rule, never lose a drawn position, and
// take a mate in one when there is one.
//
//   syzygy_play DIRS [GAMES] [SEED] [DEPTH]
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "board/attacks.h"
#include "eval/eval.h"
#include "eval/params.h"
#include "search/search.h"
#include "syzygy/syzygy.h"

using namespace board;

namespace {

struct Material {
  const char* name;
  int white[7];  // men by kind (1 pawn .. 5 queen) besides the king
};
constexpr Material kWon[] = {
    {"KQvK", {0, 0, 0, 0, 0, 1}}, {"KRvK", {0, 0, 0, 0, 1, 0}}, {"KBNvK", {0, 0, 1, 1, 0, 0}},
    {"KPvK", {0, 1, 0, 0, 0, 0}}, {"KBBvK", {0, 0, 0, 2, 0, 0}}, {"KQvKR", {0, 0, 0, 0, 0, 1}},
};
constexpr int kMaxGamePlies = 400;

std::string placementFen(const Material& m, bool extraBlackRook, std::mt19937_64& rng, int turn) {
  char board[64];
  std::fill(board, board + 64, '.');
  auto place = [&](char c, bool pawn) {
    int sq;
    do sq = static_cast<int>(rng() % 64);
    while (board[sq] != '.' || (pawn && (sq < 8 || sq >= 56)));
    board[sq] = c;
  };
  place('K', false);
  place('k', false);
  static const char* letters = ".PNBRQ";
  for (int kind = 1; kind <= 5; ++kind)
    for (int k = 0; k < m.white[kind]; ++k) place(letters[kind], kind == 1);
  if (extraBlackRook) place('r', false);
  std::string fen;
  for (int rank = 7; rank >= 0; --rank) {
    int empty = 0;
    for (int file = 0; file < 8; ++file) {
      const char c = board[rank * 8 + file];
      if (c == '.') {
        ++empty;
        continue;
      }
      if (empty) fen += char('0' + empty);
      empty = 0;
      fen += c;
    }
    if (empty) fen += char('0' + empty);
    if (rank) fen += '/';
  }
  return fen + (turn ? " w - -" : " b - -");
}

int wdlOf(Position& pos) {
  int success;
  const int v = syzygy::probeWdl(syzygy::toTbPosition(pos, false), success);
  return success ? v : -9;
}

bool matesInOne(Position& pos, Move& mate) {
  MoveEntry list[kMaxMoves];
  const int n = generateLegal(pos, list);
  for (int i = 0; i < n; ++i) {
    makeMove(pos, list[i].move);
    MoveEntry reply[kMaxMoves];
    const bool mated = generateLegal(pos, reply) == 0 && inCheck(pos, pos.sideToMove);
    unmakeMove(pos);
    if (mated) {
      mate = list[i].move;
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s DIRS [GAMES] [SEED] [DEPTH]\n", argv[0]);
    return 2;
  }
  const int games = argc > 2 ? atoi(argv[2]) : 200;
  std::mt19937_64 rng(argc > 3 ? strtoull(argv[3], nullptr, 10) : 1);
  const int depth = argc > 4 ? atoi(argv[4]) : 6;
  initAttackTables();
  initZobristKeys();
  eval::initKpk();
  search::initSearchTables();
  eval::eval_mode = eval::kHandCrafted;
  eval::Personality personality{};
  for (auto& p : personality) p = {100, 100};
  eval::init_eval_params(personality, nullptr);
  search::ttAllocate(16);
  if (!search::createGameRecord()) return 1;
  if (syzygy::initTablebases(argv[1]) == 0) return 1;
  search::SearchLimits limits;
  limits.level_moves = 1;
  limits.level_time = 1e7f;
  limits.depth_limit = depth;
  search::SearchSettings settings;
  settings.noise = search::kNoOutput;

  int won = 0, converted = 0, lostWin = 0, fiftyMove = 0, drawn = 0, drawLost = 0, mateChances = 0, mateMissed = 0;
  int played = 0, tableAnswers = 0;
  long plies = 0;
  while (played < games) {
    const Material& m = kWon[rng() % (sizeof kWon / sizeof kWon[0])];
    const bool withRook = std::string(m.name) == "KQvKR";
    if (search::setGameFen(placementFen(m, withRook, rng, static_cast<int>(rng() & 1))) != kFenOk) continue;
    Position& pos = search::gamePosition();
    const int start = wdlOf(pos);
    if (start == -9) continue;
    // The side that should not lose: the winner, or either in a draw.
    const int winner = start > 0 ? pos.sideToMove : start < 0 ? (pos.sideToMove ^ 1) : -1;
    if (start == 0) ++drawn;
    else ++won;
    ++played;
    search::ttClear();
    bool mated = false, broken = false;
    for (int ply = 0; ply < kMaxGamePlies; ++ply) {
      MoveEntry list[kMaxMoves];
      if (generateLegal(pos, list) == 0) {
        mated = inCheck(pos, pos.sideToMove);
        break;
      }
      if (pos.rule50 >= kFiftyMovePlies || isDraw(pos, 0)) break;
      Move mate = 0;
      const bool canMate = matesInOne(pos, mate);
      search::prepareSearch(limits, settings);
      search::search_state = search::kToolSearch;
      search::runMainThreadSearch();
      search::search_state = search::kIdle;
      const Move best = search::control.best_line[1];
      if (search::control.completed_depth == 99) ++tableAnswers;
      if (canMate) {
        ++mateChances;
        if (best != mate) {
          Position copy = pos;
          makeMove(copy, best);
          MoveEntry r[kMaxMoves];
          if (!(generateLegal(copy, r) == 0 && inCheck(copy, copy.sideToMove))) ++mateMissed;
          unmakeMove(copy);
        }
      }
      search::playGameMove(best);
      ++plies;
      const int v = wdlOf(pos);
      if (v == -9) continue;  // beyond the tables (a promotion): judged by the end
      const int forWinner = winner < 0 ? 0 : (pos.sideToMove == winner ? v : -v);
      if (winner >= 0 && forWinner <= 0) broken = true;
      // A drawn game that either side now wins: a move gave the draw away.
      if (winner < 0 && v != 0) broken = true;
      if (broken) break;
    }
    if (winner >= 0) {
      if (mated && pos.sideToMove != winner) ++converted;
      else if (broken) ++lostWin;
      else ++fiftyMove;
      if (!(mated && pos.sideToMove != winner)) printf("not converted: %s\n", positionToFen(pos, true).c_str());
    } else if (broken || mated) {
      ++drawLost;
      printf("draw lost: %s\n", positionToFen(pos, true).c_str());
    }
  }
  printf("%d games (%d won, %d drawn), %ld plies at depth %d, %d answers straight from the tables\n", played, won,
         drawn, plies, depth, tableAnswers);
  printf("won: %d converted by mate, %d result lost, %d not mated in time\n", converted, lostWin, fiftyMove);
  printf("drawn: %d lost by a move\n", drawLost);
  printf("mate in one: %d chances, %d missed\n", mateChances, mateMissed);
  return lostWin || fiftyMove || drawLost || mateMissed ? 1 : 0;
}
