#include "selfplay.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "board/attacks.h"
#include "eval/nn.h"
#include "eval/params.h"
#include "protocol/options.h"
#include "search/search.h"

namespace train {

using namespace board;

namespace {

// The opening: this many random plies plus up to kOpeningPlySpread - 1 more,
// drawn again while a short search scores it beyond kOpeningScoreLimit.
constexpr int kOpeningPlies = 8;
constexpr int kOpeningPlySpread = 2;
constexpr int kOpeningScoreLimit = 400;
constexpr uint64_t kVerifyNodes = 1000;
constexpr int kOpeningTries = 100;  // then the last draw stands whatever its score

// Adjudication: a win once |score| stays at or above kWinScore for
// kWinPlies plies in a row; a draw once, past ply kDrawFromPly, |score|
// stays at or below kDrawScore for kDrawPlies plies in a row; a draw at
// kMaxGamePlies whatever the score.
constexpr int kWinScore = 1500;
constexpr int kWinPlies = 4;
constexpr int kDrawScore = 10;
constexpr int kDrawPlies = 12;
constexpr int kDrawFromPly = 70;
constexpr int kMaxGamePlies = 600;
// At most this much non-pawn material in all (one minor piece) cannot mate.
constexpr int kBareMinorMaterial = 3;

struct SearchAnswer {
  int score;
  Move move;
};

SearchAnswer searchGamePosition(uint64_t softNodes, uint64_t hardNodes) {
  search::SearchLimits limits;
  limits.node_limit = hardNodes;
  limits.soft_node_limit = softNodes;
  limits.level_moves = 1;
  limits.level_time = search::kUnlimitedTime;
  limits.depth_limit = search::kMaxDepth;
  search::SearchSettings settings;
  settings.noise = search::kNoOutput;
  settings.ponder = false;
  search::prepareSearch(limits, settings);
  search::search_state = search::kToolSearch;
  search::runMainThreadSearch();
  search::search_state = search::kIdle;
  return {search::control.best_score.load(), search::control.best_line[1]};
}

// Nothing a game leaves behind may change the next one: the table, the
// caches and the network's saved first-layer sums start empty.
void forgetEarlierGames() {
  search::ttClear();
  search::ttResetAge();
  search::SearchThread* t = search::threads[0];
  if (!t) return;
  t->evalState.clearCaches();
  if (t->evalState.network)
    for (auto& saved : t->evalState.network->saved) saved.net = -1;
}

// Plays plies random legal moves on the game record; false when the
// position runs out of moves on the way or at the end.
bool playRandomPlies(Rng& rng, int plies) {
  MoveEntry list[kMaxMoves];
  for (int i = 0; i < plies; ++i) {
    const int n = generateLegal(search::gamePosition(), list);
    if (n == 0) return false;
    search::playGameMove(list[rng.next() % static_cast<uint64_t>(n)].move);
  }
  return generateLegal(search::gamePosition(), list) > 0;
}

// One of the position's legal moves, drawn evenly (it has at least one).
Move randomLegalMove(Position& pos, Rng& rng) {
  MoveEntry list[kMaxMoves];
  const int n = generateLegal(pos, list);
  return list[rng.next() % static_cast<uint64_t>(n)].move;
}

// Sets the game record to a random opening; returns its plies.
int playOpening(Rng& rng) {
  for (int attempt = 0;; ++attempt) {
    search::setStartPosition();
    const int plies = kOpeningPlies + static_cast<int>(rng.next() % kOpeningPlySpread);
    if (!playRandomPlies(rng, plies)) continue;
    if (attempt >= kOpeningTries) return plies;
    const SearchAnswer a = searchGamePosition(kVerifyNodes, kVerifyNodes * kHardNodeFactor);
    if (std::abs(a.score) <= kOpeningScoreLimit) return plies;
  }
}

bool insufficientMaterial(const Position& pos) {
  const auto& p = pos.pieces;
  if (p[0][kPawn] | p[1][kPawn] | p[0][kRook] | p[1][kRook] | p[0][kQueen] | p[1][kQueen]) return false;
  return pos.pieceMaterial[0] + pos.pieceMaterial[1] <= kBareMinorMaterial;
}

uint8_t winFor(int colour) { return colour == kWhite ? kWhiteWins : kBlackWins; }

// The game's end by the rules (mate, stalemate, fifty moves, threefold
// repetition, bare material) or by length; true with result set.
bool gameOver(Position& pos, int ply, uint8_t& result) {
  MoveEntry list[kMaxMoves];
  if (generateLegal(pos, list) == 0) {
    result = inCheck(pos, pos.sideToMove) ? winFor(pos.sideToMove ^ 1) : uint8_t{kDraw};
    return true;
  }
  result = kDraw;
  return pos.rule50 >= kFiftyMovePlies || isDraw(pos, 0) || insufficientMaterial(pos) || ply >= kMaxGamePlies;
}

struct Adjudication {
  int whiteAhead = 0;  // plies in a row with White at or above the win score
  int blackAhead = 0;
  int level = 0;       // plies in a row near zero past the draw ply
};

// Counts the search score (side to move's view); true with result set once
// the game is decided.
bool adjudicate(Adjudication& a, int mover, int score, int ply, uint8_t& result) {
  const int white = mover == kWhite ? score : -score;
  a.whiteAhead = white >= kWinScore ? a.whiteAhead + 1 : 0;
  a.blackAhead = white <= -kWinScore ? a.blackAhead + 1 : 0;
  a.level = ply >= kDrawFromPly && std::abs(score) <= kDrawScore ? a.level + 1 : 0;
  if (a.whiteAhead >= kWinPlies) result = kWhiteWins;
  else if (a.blackAhead >= kWinPlies) result = kBlackWins;
  else if (a.level >= kDrawPlies) result = kDraw;
  else return false;
  return true;
}

uint8_t moveFlags(const Position& pos, Move move, int score) {
  uint8_t flags = 0;
  if (inCheck(pos, pos.sideToMove)) flags |= kFlagInCheck;
  const int to = moveTo(move);
  const bool enPassant = typeOf(pos.board[moveFrom(move)]) == kPawn && to == pos.epSquare;
  if (pos.board[to] || enPassant) flags |= kFlagCapture;
  if (isPromotion(move)) flags |= kFlagPromotion;
  if (score > search::kWinBand || score < search::kLossBand) flags |= kFlagMateScore;
  return flags;
}

}  // namespace

uint64_t hardNodeCap(const SelfPlaySettings& s) {
  return s.hardNodes ? s.hardNodes : std::min<uint64_t>(s.softNodes * kHardNodeFactor, UINT32_MAX);
}

uint64_t Rng::next() {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

Rng gameRng(uint64_t seed, uint64_t index) {
  Rng mix{seed};
  Rng r{mix.next() ^ (index * 0xD1B54A32D192ED03ull)};
  r.next();
  return r;
}

int setUpEngine(const std::string& networkFile, std::string& why) {
  initAttackTables();
  initZobristKeys();
  eval::initKpk();
  search::initSearchTables();
  search::threadCount = 1;
  if (!search::game && !search::createGameRecord()) {
    why = "no memory for the game record";
    return -1;
  }
  // Our own weights only: a params.txt in the working directory must not
  // change the labels.
  eval::init_eval_params(protocol::EngineOptions{}.personalityPercent, nullptr);
  eval::eval_mode = eval::kHandCrafted;
  if (networkFile.empty()) return 0;
  if (!eval::load_network(networkFile, &why)) return -1;
  eval::eval_mode = eval::kNetwork;
  return 0;
}

bool allocateSearchTable(int megabytes) {
  search::ttSetEnabled(true);
  return search::ttAllocate(megabytes) == 1;
}

void playGame(const SelfPlaySettings& s, uint64_t index, PlayedGame& out) {
  out.records.clear();
  Rng rng = gameRng(s.seed, index);
  forgetEarlierGames();
  int ply = playOpening(rng);
  Adjudication adjudication;
  uint8_t result = kDraw;
  const uint64_t hard = hardNodeCap(s);
  for (;;) {
    Position& pos = search::gamePosition();
    if (gameOver(pos, ply, result)) break;
    const SearchAnswer a = searchGamePosition(s.softNodes, hard);
    if (!a.move) break;  // cannot happen with legal moves left; a draw rather than a loop
    out.records.push_back(packPosition(pos, a.score, ply, moveFlags(pos, a.move, a.score)));
    if (adjudicate(adjudication, pos.sideToMove, a.score, ply, result)) break;
    search::playGameMove(s.randomMovePermille && rng.next() % 1000 < static_cast<uint64_t>(s.randomMovePermille)
                             ? randomLegalMove(pos, rng)
                             : a.move);
    ++ply;
  }
  for (PackedRecord& r : out.records) r.result = result;
  out.result = result;
  out.plies = ply;
}

}  // namespace train
