// Helpers shared by the evaluation tests.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "eval/eval.h"
#include "eval/params.h"
#include "test_util.h"

namespace evaltest {

inline eval::Personality neutralPersonality() {
  eval::Personality p{};
  for (auto& pair : p) pair = {100, 100};
  return p;
}

// Tables, the KPK table and the default weights; the weights are rebuilt on
// every call because some tests change them.
inline void initAll() {
  testutil::initTables();
  static bool kpkDone = [] {
    eval::initKpk();
    return true;
  }();
  (void)kpkDone;
  eval::init_eval_params(neutralPersonality(), nullptr);
}

inline std::unique_ptr<eval::EvalState> newState() { return std::make_unique<eval::EvalState>(); }

inline bool inCheck(const board::Position& pos) {
  return board::isAttacked(pos, pos.kingSquare[pos.sideToMove], pos.sideToMove ^ 1) != 0;
}

inline char swapCase(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return static_cast<char>(std::isupper(u) ? std::tolower(u) : std::islower(u) ? std::toupper(u) : u);
}

// The same position with the board turned top to bottom and the colours
// swapped: castling rights and en-passant square follow, the other side moves.
inline std::string flipFen(const std::string& fen) {
  std::istringstream in(fen);
  std::string placement, side, castling = "-", ep = "-";
  in >> placement >> side >> castling >> ep;
  std::vector<std::string> ranks;
  std::stringstream ps(placement);
  for (std::string r; std::getline(ps, r, '/');) ranks.push_back(r);
  std::string out;
  for (auto it = ranks.rbegin(); it != ranks.rend(); ++it) {
    if (!out.empty()) out += '/';
    for (char c : *it) out += swapCase(c);
  }
  out += side == "w" ? " b " : " w ";
  // Swap the case of each right, then keep the usual KQkq order.
  std::string ordered;
  for (char c : std::string("KQkq")) {
    if (castling.find(swapCase(c)) != std::string::npos) ordered += c;
  }
  out += ordered.empty() ? "-" : ordered;
  out += ' ';
  if (ep.size() == 2 && ep[0] >= 'a' && ep[0] <= 'h') {
    out += ep[0];
    out += static_cast<char>('1' + ('8' - ep[1]));
  } else {
    out += '-';
  }
  return out;
}

// The same position mirrored left to right (castling rights dropped).
inline std::string mirrorFilesFen(const std::string& fen) {
  std::istringstream in(fen);
  std::string placement, side, castling, ep = "-";
  in >> placement >> side >> castling >> ep;
  std::vector<std::string> ranks;
  std::stringstream ps(placement);
  for (std::string r; std::getline(ps, r, '/');) ranks.push_back(r);
  std::string out;
  for (const auto& r : ranks) {
    if (!out.empty()) out += '/';
    std::string expanded;
    for (char c : r) expanded += std::isdigit(static_cast<unsigned char>(c)) ? std::string(c - '0', '1') : std::string(1, c);
    std::reverse(expanded.begin(), expanded.end());
    out += expanded;  // runs of '1' are valid FEN
  }
  out += ' ' + side + " - ";
  if (ep.size() == 2 && ep[0] >= 'a' && ep[0] <= 'h') {
    out += static_cast<char>('h' - (ep[0] - 'a'));
    out += ep[1];
  } else {
    out += '-';
  }
  return out;
}

// FEN of the given pieces (letter, square), no castling, no en passant.
inline std::string fenOf(const std::vector<std::pair<char, int>>& pieces, char side) {
  char board[64] = {};
  for (auto [c, sq] : pieces) board[sq] = c;
  std::string fen;
  for (int r = 7; r >= 0; --r) {
    int empty = 0;
    for (int f = 0; f < 8; ++f) {
      char c = board[r * 8 + f];
      if (!c) {
        ++empty;
        continue;
      }
      if (empty) fen += static_cast<char>('0' + empty);
      empty = 0;
      fen += c;
    }
    if (empty) fen += static_cast<char>('0' + empty);
    if (r) fen += '/';
  }
  fen += side == 'w' ? " w - -" : " b - -";
  return fen;
}

// FENs (first four fields) of an EPD file under the test data directory.
inline std::vector<std::string> loadEpd(const std::string& name) {
  std::ifstream in(std::string(VESK_TEST_DATA) + "/" + name);
  std::vector<std::string> fens;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string f[4];
    if (!(words >> f[0] >> f[1] >> f[2] >> f[3])) continue;
    fens.push_back(f[0] + " " + f[1] + " " + f[2] + " " + f[3]);
  }
  return fens;
}

// Small deterministic generator, the same on every platform.
struct Rng {
  uint64_t s;
  explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t next() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1Dull;
  }
  int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
  double uniform(double lo, double hi) { return lo + (hi - lo) * static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

inline int legalMoves(board::Position& pos, board::MoveEntry* list) { return board::generateLegal(pos, list); }

// Positions met along seeded random games from the start position and a few
// others; games stop at mate, stalemate or maxPlies.
inline std::vector<std::string> playoutFens(uint64_t seed, int games, int maxPlies) {
  static const char* kStarts[] = {
      board::kStartFen,
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
      "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -",
      "r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ -",
  };
  Rng rng(seed);
  std::vector<std::string> fens;
  board::MoveEntry list[board::kMaxMoves + 1];
  for (int g = 0; g < games; ++g) {
    testutil::Board b(kStarts[g % 4]);
    for (int ply = 0; ply < maxPlies; ++ply) {
      int n = legalMoves(b.pos, list);
      if (n == 0) break;
      board::makeMove(b.pos, list[rng.below(n)].move);
      fens.push_back(board::positionToFen(b.pos, false));
      if (b.pos.owner->undoCount > 400) break;
    }
  }
  return fens;
}

}  // namespace evaltest
