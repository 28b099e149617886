// Compares our perft with an external UCI engine's "go perft" on positions
// reached by seeded random playouts. Usage:
//   perft_oracle [--oracle PATH] [--positions N] [--depth D] [--seed S]
// Exit status: 0 all counts agree, 1 any mismatch, 2 setup failure.
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "platform/output.h"
#include "owned_position.h"

namespace {

using namespace board;

using Divide = std::map<std::string, uint64_t>;

using Board = benchutil::OwnedPosition;

// One oracle process kept open across all queries; spawning per query
// would dominate the run time.
class Oracle {
 public:
  bool start(const std::string& path) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) || pipe(fromChild)) return false;
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      close(toChild[0]);
      close(toChild[1]);
      close(fromChild[0]);
      close(fromChild[1]);
      execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in_ = fdopen(toChild[1], "w");
    out_ = fdopen(fromChild[0], "r");
    if (!in_ || !out_) return false;
    send("uci");
    std::string line;
    while (readLine(line))
      if (line == "uciok") return true;
    return false;
  }

  void stop() {
    if (in_) {
      send("quit");
      fclose(in_);
      in_ = nullptr;
    }
    if (out_) {
      fclose(out_);
      out_ = nullptr;
    }
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // Root-move breakdown and total; false when the oracle stops answering.
  bool perft(const std::string& fen, int depth, Divide& divide, uint64_t& total) {
    divide.clear();
    send("position fen " + fen);
    send("go perft " + std::to_string(depth));
    std::string line;
    while (readLine(line)) {
      if (line.rfind("Nodes searched:", 0) == 0) {
        total = std::strtoull(line.c_str() + 15, nullptr, 10);
        return true;
      }
      size_t colon = line.find(": ");
      if (colon == std::string::npos || colon < 4 || colon > 5 || line.find(' ') != colon + 1) continue;
      divide[line.substr(0, colon)] = std::strtoull(line.c_str() + colon + 2, nullptr, 10);
    }
    return false;
  }

 private:
  void send(const std::string& text) {
    fputs((text + "\n").c_str(), in_);
    fflush(in_);
  }
  bool readLine(std::string& line) {
    line.clear();
    int c;
    while ((c = fgetc(out_)) != EOF && c != '\n') line += static_cast<char>(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return c != EOF || !line.empty();
  }

  pid_t pid_ = -1;
  FILE* in_ = nullptr;
  FILE* out_ = nullptr;
};

struct Features {
  bool check = false, enPassant = false, castling = false, promotion = false;
};

int legalMoves(Position& pos, std::vector<Move>& moves) {
  MoveEntry list[kMaxMoves];
  int n = generateLegal(pos, list);
  moves.clear();
  for (int i = 0; i < n; ++i) moves.push_back(list[i].move);
  return n;
}

Features featuresOf(Position& pos) {
  Features f;
  f.check = isAttacked(pos, pos.kingSquare[pos.sideToMove], pos.sideToMove ^ 1);
  std::vector<Move> moves;
  legalMoves(pos, moves);
  for (Move m : moves) {
    int type = typeOf(pos.board[moveFrom(m)]);
    int delta = moveTo(m) - moveFrom(m);
    if (type == kPawn && moveTo(m) == pos.epSquare) f.enPassant = true;
    if (type == kKing && (delta == 2 || delta == -2)) f.castling = true;
    if (isPromotion(m)) f.promotion = true;
  }
  return f;
}

Divide ourDivide(Position& pos, int depth, uint64_t& total) {
  Divide d;
  total = 0;
  std::vector<Move> moves;
  legalMoves(pos, moves);
  for (Move m : moves) {
    makeMove(pos, m);
    uint64_t n = perft(pos, depth - 1);
    unmakeMove(pos);
    d[moveToText(m)] = n;
    total += n;
  }
  return d;
}

void printDivides(const Divide& ours, const Divide& theirs) {
  std::set<std::string> keys;
  for (auto& [k, v] : ours) keys.insert(k);
  for (auto& [k, v] : theirs) keys.insert(k);
  for (auto& k : keys) {
    auto a = ours.find(k), b = theirs.find(k);
    std::string sa = a == ours.end() ? "-" : std::to_string(a->second);
    std::string sb = b == theirs.end() ? "-" : std::to_string(b->second);
    std::printf("    %-6s ours=%-12s oracle=%-12s%s\n", k.c_str(), sa.c_str(), sb.c_str(), sa == sb ? "" : "  <--");
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string oraclePath = "/usr/games/stockfish";
  int wanted = 240, maxDepth = 4;
  uint64_t seed = 20240505;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--oracle") oraclePath = argv[i + 1];
    else if (a == "--positions") wanted = std::atoi(argv[i + 1]);
    else if (a == "--depth") maxDepth = std::atoi(argv[i + 1]);
    else if (a == "--seed") seed = std::strtoull(argv[i + 1], nullptr, 10);
    else {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      return 2;
    }
  }

  initAttackTables();
  initZobristKeys();
  platform::uci_mode = 1;  // "e7e8q" move spelling, as the oracle prints

  // Start points chosen for castling, en passant, promotions and pins.
  const std::vector<std::string> starts = {
      kStartFen,
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
      "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -",
      "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq -",
      "n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - -",
      "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ -",
      "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - -",
  };

  std::signal(SIGPIPE, SIG_IGN);
  Oracle oracle;
  if (!oracle.start(oraclePath)) {
    std::fprintf(stderr, "cannot start oracle %s\n", oraclePath.c_str());
    return 2;
  }

  std::mt19937_64 rng(seed);
  std::set<std::string> seen;
  int positions = 0, comparisons = 0, mismatches = 0, internal = 0, attempts = 0;
  int inCheck = 0, withEp = 0, withCastle = 0, withPromo = 0;

  while (positions < wanted && attempts < wanted * 20) {
    ++attempts;
    const std::string& startFen = starts[rng() % starts.size()];
    Board walk;
    if (!walk.reset(startFen)) {
      std::fprintf(stderr, "start FEN refused: %s\n", startFen.c_str());
      return 2;
    }
    // Short playouts keep the tactical start points recognisable.
    int length = static_cast<int>(rng() % 41);
    std::vector<Move> moves;
    bool ended = false;
    // Uniform random endings seldom leave a check or an en passant chance
    // at the root, so half the playouts end with a move that makes one.
    const int ending = static_cast<int>(rng() % 4);
    for (int ply = 0; ply < length; ++ply) {
      if (!legalMoves(walk.pos, moves)) {
        ended = true;
        break;
      }
      std::vector<Move> pool;
      if (ply == length - 1 && ending < 2) {
        for (Move m : moves) {
          makeMove(walk.pos, m);
          Features after = featuresOf(walk.pos);
          unmakeMove(walk.pos);
          if (ending == 0 ? after.check : after.enPassant) pool.push_back(m);
        }
      }
      if (pool.empty()) pool = moves;
      makeMove(walk.pos, pool[rng() % pool.size()]);
    }
    if (ended || !legalMoves(walk.pos, moves)) continue;

    std::string fen = positionToFen(walk.pos, false);
    if (!seen.insert(fen).second) continue;
    std::string fullFen = fen + " 0 1";

    // A fresh setup must agree with the incrementally reached one.
    Board fresh;
    if (!fresh.reset(fullFen)) {
      std::printf("INTERNAL setFromFen refused own FEN: %s\n", fullFen.c_str());
      ++internal;
      continue;
    }
    std::string problem = validatePosition(walk.pos);
    if (!problem.empty() || fresh.pos.key != walk.pos.key || fresh.pos.pawnKey != walk.pos.pawnKey ||
        positionToFen(fresh.pos, false) != fen) {
      std::printf("INTERNAL state differs after playout (%s): %s\n", problem.c_str(), fullFen.c_str());
      ++internal;
    }

    ++positions;
    Features f = featuresOf(fresh.pos);
    inCheck += f.check;
    withEp += f.enPassant;
    withCastle += f.castling;
    withPromo += f.promotion;

    for (int depth = 1; depth <= maxDepth; ++depth) {
      uint64_t ourTotal = 0, theirTotal = 0;
      Divide ours = ourDivide(fresh.pos, depth, ourTotal);
      uint64_t direct = perft(fresh.pos, depth);
      uint64_t walked = perft(walk.pos, depth);
      Divide theirs;
      if (!oracle.perft(fullFen, depth, theirs, theirTotal)) {
        std::fprintf(stderr, "oracle stopped answering at %s depth %d\n", fullFen.c_str(), depth);
        return 2;
      }
      ++comparisons;
      if (direct != ourTotal || walked != ourTotal) {
        std::printf("INTERNAL perft=%llu divide=%llu after-playout=%llu depth %d: %s\n",
                    static_cast<unsigned long long>(direct), static_cast<unsigned long long>(ourTotal),
                    static_cast<unsigned long long>(walked), depth, fullFen.c_str());
        ++internal;
      }
      if (ours != theirs || direct != theirTotal) {
        ++mismatches;
        std::printf("MISMATCH depth %d ours=%llu oracle=%llu fen: %s\n", depth,
                    static_cast<unsigned long long>(direct), static_cast<unsigned long long>(theirTotal),
                    fullFen.c_str());
        printDivides(ours, theirs);
        break;  // deeper depths would only repeat the same fault
      }
    }
  }
  oracle.stop();

  std::printf("coverage: in-check=%d en-passant=%d castling=%d promotion=%d (positions with such a legal root move)\n",
              inCheck, withEp, withCastle, withPromo);
  std::printf("positions=%d depths=1-%d comparisons=%d mismatches=%d internal=%d\n", positions, maxDepth,
              comparisons, mismatches, internal);
  if (positions < wanted) {
    std::printf("only %d of %d positions generated\n", positions, wanted);
    return 1;
  }
  return mismatches || internal ? 1 : 0;
}
