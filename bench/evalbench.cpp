// Evaluation speed: hand-crafted evaluations per second (caches off and on)
// and network evaluations per second along make/unmake walks with a
// synthetic 256x32 network. Single thread.
//   evalbench [--evals N] [--seed S] [--network-only]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "eval/nn.h"

namespace {

using namespace board;

constexpr const char* kStartFens[] = {
    kStartFen,
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
    "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - -",
    "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ -",
};

// Random walks recorded as move lists: up to 80 random legal moves from one
// of the start positions, then back. Replaying them costs only make/unmake,
// which a baseline replay measures and the figures leave out.
struct Walk {
  int start;
  std::vector<Move> moves;
};

std::vector<Walk> recordWalks(std::mt19937_64& rng, uint64_t positions) {
  auto history = std::make_unique<UndoHistory>();
  Position pos{};
  pos.owner = history.get();
  std::vector<Walk> walks;
  MoveEntry list[kMaxMoves];
  for (uint64_t done = 0; done < positions;) {
    Walk w{static_cast<int>(walks.size() % 4), {}};
    setFromFen(pos, kStartFens[w.start]);
    for (int ply = 0; ply < 80 && done < positions; ++ply, ++done) {
      int n = generateLegal(pos, list);
      if (n == 0) break;
      w.moves.push_back(list[rng() % n].move);
      makeMove(pos, w.moves.back());
    }
    walks.push_back(std::move(w));
  }
  return walks;
}

template <typename Visit>
uint64_t replay(const std::vector<Walk>& walks, Visit visit) {
  auto history = std::make_unique<UndoHistory>();
  Position pos{};
  pos.owner = history.get();
  uint64_t n = 0;
  for (const Walk& w : walks) {
    setFromFen(pos, kStartFens[w.start]);
    for (Move m : w.moves) {
      makeMove(pos, m);
      visit(pos);
      ++n;
    }
    for (size_t i = 0; i < w.moves.size(); ++i) unmakeMove(pos);
  }
  return n;
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Seconds spent in visit beyond a bare replay of the same walks.
template <typename Visit>
double timeVisits(const std::vector<Walk>& walks, Visit visit, uint64_t& n) {
  volatile uint64_t keys = 0;
  auto t0 = std::chrono::steady_clock::now();
  replay(walks, [&](const Position& pos) { keys = keys + pos.key; });
  double base = seconds(t0);
  t0 = std::chrono::steady_clock::now();
  n = replay(walks, visit);
  return seconds(t0) - base;
}

bool writeNetwork(const char* path, int h1, int h2, uint64_t seed) {
  const int G = 896, X = 64, L = 1;
  uint64_t n = static_cast<uint64_t>(G + X) * h1 + static_cast<uint64_t>(h1) * h2 + h2 * L + L + 8;
  std::vector<float> w(n);
  std::mt19937_64 rng(seed);
  std::normal_distribution<float> d(0.0f, 0.05f);
  for (float& x : w) x = d(rng);
  uint16_t header[9] = {0, 1, G, X, static_cast<uint16_t>(h1), static_cast<uint16_t>(h2), L, 0, 0};
  FILE* f = fopen(path, "wb");
  if (!f) return false;
  fwrite(header, 1, 18, f);
  fwrite(w.data(), 4, n, f);
  return fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t evals = 2000000, seed = 1;
  bool networkOnly = false;
  for (int i = 1; i < argc; ++i)
    if (!strcmp(argv[i], "--network-only")) networkOnly = true;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--evals")) evals = strtoull(argv[i + 1], nullptr, 10);
    if (!strcmp(argv[i], "--seed")) seed = strtoull(argv[i + 1], nullptr, 10);
  }
  initAttackTables();
  initZobristKeys();
  eval::initKpk();
  eval::Personality personality;
  for (auto& p : personality) p = {100, 100};
  eval::init_eval_params(personality, nullptr);
  auto st = std::make_unique<eval::EvalState>();
  volatile int sink = 0;

  std::mt19937_64 rng(seed);
  const auto walks = recordWalks(rng, evals);
  uint64_t n = 0;
  for (bool caches : {false, true}) {
    if (networkOnly) break;
    st->clearCaches();
    st->useCaches = caches;
    double s = timeVisits(walks, [&](const Position& pos) {
      sink = sink + eval::evaluate(pos, *st, 2, inCheck(pos, pos.sideToMove), 0);
    }, n);
    printf("hand-crafted, caches %-3s: %9.0f evaluations/s (%llu in %.3f s; cache hits %.1f%%, pawn hits %.1f%%)\n",
           caches ? "on" : "off", n / s, static_cast<unsigned long long>(n), s,
           100.0 * st->counters.cacheHits / (st->counters.evaluations + 1),
           100.0 * st->counters.pawnHits / (st->counters.pawnProbes + 1));
    st->counters = {};
  }

  char path[] = "/tmp/evalbench-net-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0 || !writeNetwork(path, 256, 32, seed)) {
    fprintf(stderr, "cannot write the synthetic network\n");
    return 2;
  }
  std::string why;
  if (!eval::load_network(path, &why)) {
    fprintf(stderr, "network load failed: %s\n", why.c_str());
    return 2;
  }
  unlink(path);
  st->useCaches = false;
  double s = timeVisits(walks, [&](const Position& pos) {
    sink = sink + eval::nn_evaluate(pos, *st, inCheck(pos, pos.sideToMove));
  }, n);
  printf("network 256x32, incremental: %9.0f evaluations/s (%llu in %.3f s)\n", n / s,
         static_cast<unsigned long long>(n), s);
  if (networkOnly) return 0;
  s = timeVisits(walks, [&](const Position& pos) {
    for (auto& saved : st->network->saved) saved.net = -1;  // no saved accumulator matches
    sink = sink + eval::nn_evaluate(pos, *st, inCheck(pos, pos.sideToMove));
  }, n);
  printf("network 256x32, from scratch: %9.0f evaluations/s (%llu in %.3f s)\n", n / s,
         static_cast<unsigned long long>(n), s);
  return 0;
}
