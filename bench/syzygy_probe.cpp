// Tablebase probe driver for the oracle comparison and the probe benchmark.
//
//   syzygy_probe DIRS fen            FEN lines on stdin -> "FEN | wdl dtz" (or "fail")
//   syzygy_probe DIRS random N SEED  N random legal positions per table, both
//                                    sides to move, plus en-passant and
//                                    capture-only ones, written as FEN lines
//   syzygy_probe DIRS speed N SEED   WDL probes per second on N random positions
//                                    (first pass maps the files, second is warm)
//   syzygy_probe DIR fuzz SECONDS SEED  damaged copies of the tables (flipped,
//                                    truncated, extended, emptied) probed for
//                                    that long; counts the executions
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "board/board.h"
#include "syzygy/syzygy.h"

using namespace syzygy;

namespace {

std::string toFen(const TbPosition& p) {
  std::string fen;
  for (int rank = 7; rank >= 0; --rank) {
    int empty = 0;
    for (int file = 0; file < 8; ++file) {
      const uint64_t b = uint64_t{1} << (rank * 8 + file);
      char c = 0;
      if (p.kings & b) c = 'k';
      else if (p.queens & b) c = 'q';
      else if (p.rooks & b) c = 'r';
      else if (p.bishops & b) c = 'b';
      else if (p.knights & b) c = 'n';
      else if (p.pawns & b) c = 'p';
      if (!c) {
        ++empty;
        continue;
      }
      if (empty) fen += char('0' + empty);
      empty = 0;
      fen += (p.white & b) ? char(c - 32) : c;
    }
    if (empty) fen += char('0' + empty);
    if (rank) fen += '/';
  }
  fen += p.turn ? " w - " : " b - ";
  fen += p.ep ? board::squareName(p.ep) : "-";
  fen += " 0 1";
  return fen;
}

bool fromFen(const std::string& text, TbPosition& out) {
  board::Position pos;
  board::UndoHistory history{};
  pos.owner = &history;
  if (board::setFromFen(pos, text) == board::kFenRejected) return false;
  out = toTbPosition(pos, false);
  return true;
}

struct Material {
  std::string name;
  int counts[2][7];  // by colour and kind (1 pawn .. 6 king)
};

std::vector<Material> materialsOf(const char* dirs) {
  // Every table file named K*.rtbw in the directories (registration finds them).
  std::vector<Material> out;
  static const char* letters = "PNBRQK";
  std::string all = dirs;
  for (size_t start = 0; start <= all.size();) {
    size_t end = all.find_first_of(":;", start);
    if (end == std::string::npos) end = all.size();
    std::string dir = all.substr(start, end - start);
    start = end + 1;
    if (dir.empty()) continue;
    FILE* ls = popen(("ls " + dir + " 2>/dev/null").c_str(), "r");
    char line[256];
    while (ls && fgets(line, sizeof line, ls)) {
      std::string n = line;
      n.erase(n.find_last_not_of("\n") + 1);
      if (n.size() < 6 || n.substr(n.size() - 5) != ".rtbw") continue;
      Material m{n.substr(0, n.size() - 5), {}};
      int colour = 0;
      for (char ch : m.name) {
        if (ch == 'v') {
          colour = 1;
          continue;
        }
        const char* l = strchr(letters, ch);
        if (l) ++m.counts[colour][l - letters + 1];
      }
      out.push_back(m);
    }
    if (ls) pclose(ls);
  }
  return out;
}

uint64_t* kindSet(TbPosition& p, int kind) {
  uint64_t* sets[7] = {nullptr, &p.pawns, &p.knights, &p.bishops, &p.rooks, &p.queens, &p.kings};
  return sets[kind];
}

int legalMoves(const TbPosition& p, int& captures) {
  TbMove moves[kTbMaxMoves];
  TbMove* end = tbGenerateMoves(p, moves);
  TbPosition next;
  int n = 0;
  captures = 0;
  for (TbMove* m = moves; m != end; ++m) {
    if (!tbMakeMove(p, next, *m)) continue;
    ++n;
    const uint64_t them = p.turn ? p.black : p.white;
    if ((them & (uint64_t{1} << tbTo(*m))) || (p.ep && tbTo(*m) == p.ep && (p.pawns >> tbFrom(*m) & 1))) ++captures;
  }
  return n;
}

// A random legal placement of the material (colours swapped when asked).
bool randomPlacement(const Material& m, bool swap, int turn, std::mt19937_64& rng, TbPosition& p) {
  p = TbPosition{};
  for (int c = 0; c < 2; ++c)
    for (int kind = 1; kind <= 6; ++kind)
      for (int k = 0; k < m.counts[c][kind]; ++k) {
        int sq;
        do {
          sq = static_cast<int>(rng() % 64);
        } while (((p.white | p.black) >> sq & 1) || (kind == 1 && (sq < 8 || sq >= 56)));
        const uint64_t b = uint64_t{1} << sq;
        *kindSet(p, kind) |= b;
        ((c ^ swap) == 0 ? p.white : p.black) |= b;
      }
  p.turn = static_cast<uint8_t>(turn);
  return tbPositionValid(p);
}

// A placement where the side to move can take en passant: an enemy pawn
// has just made its double step beside one of ours.
bool epPlacement(const Material& m, bool swap, int turn, std::mt19937_64& rng, TbPosition& p) {
  if (!randomPlacement(m, swap, turn, rng, p)) return false;
  const uint64_t own = turn ? p.white : p.black, them = turn ? p.black : p.white;
  const int rank = turn ? 4 : 3;  // where the enemy pawn stands after its double step
  const uint64_t ourPawns = p.pawns & own, theirPawns = p.pawns & them;
  if (!ourPawns || !theirPawns) return false;
  // Move one pawn of each side onto the ep rank, side by side.
  const int file = static_cast<int>(rng() % 8);
  const int side = file == 0 ? 1 : file == 7 ? -1 : (rng() & 1 ? 1 : -1);
  const int theirSq = rank * 8 + file, ourSq = rank * 8 + file + side;
  const int behind = theirSq + (turn ? 8 : -8), start = theirSq + (turn ? 16 : -16);
  const uint64_t occ = p.white | p.black;
  const int theirFrom = __builtin_ctzll(theirPawns), ourFrom = __builtin_ctzll(ourPawns);
  const uint64_t freeNeeded = (uint64_t{1} << theirSq) | (uint64_t{1} << ourSq) | (uint64_t{1} << behind) |
                              (uint64_t{1} << start);
  const uint64_t movers = (uint64_t{1} << theirFrom) | (uint64_t{1} << ourFrom);
  if (occ & ~movers & freeNeeded) return false;
  p.pawns &= ~movers;
  p.white &= ~movers;
  p.black &= ~movers;
  p.pawns |= (uint64_t{1} << theirSq) | (uint64_t{1} << ourSq);
  (turn ? p.black : p.white) |= uint64_t{1} << theirSq;
  (turn ? p.white : p.black) |= uint64_t{1} << ourSq;
  p.ep = static_cast<uint8_t>(behind);
  return tbPositionValid(p);
}

int runFen() {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.empty()) continue;
    TbPosition p;
    if (!fromFen(line, p)) {
      printf("%s | bad\n", line.c_str());
      continue;
    }
    int s1, s2;
    const int w = probeWdl(p, s1);
    const int d = probeDtz(p, s2);
    if (!s1 || !s2) printf("%s | fail%s\n", line.c_str(), s1 ? " (dtz)" : " (wdl)");
    else printf("%s | %d %d\n", line.c_str(), w, d);
  }
  return 0;
}

int runRandom(const char* dirs, int perTable, uint64_t seed) {
  std::mt19937_64 rng(seed);
  for (const Material& m : materialsOf(dirs)) {
    int made = 0, eps = 0, captureOnly = 0;
    for (int tries = 0; made < perTable && tries < perTable * 200; ++tries) {
      const bool swap = rng() & 1;
      const int turn = static_cast<int>(rng() & 1);
      TbPosition p;
      if (!randomPlacement(m, swap, turn, rng, p)) continue;
      int caps;
      const int n = legalMoves(p, caps);
      if (n == 0) continue;
      printf("%s\n", toFen(p).c_str());
      ++made;
    }
    // Positions whose only legal moves are captures.
    for (int tries = 0; captureOnly < perTable / 20 + 1 && tries < perTable * 400; ++tries) {
      TbPosition p;
      if (!randomPlacement(m, rng() & 1, static_cast<int>(rng() & 1), rng, p)) continue;
      int caps;
      const int n = legalMoves(p, caps);
      if (n == 0 || caps != n) continue;
      printf("%s\n", toFen(p).c_str());
      ++captureOnly;
    }
    for (int tries = 0; eps < perTable / 10 && tries < perTable * 50; ++tries) {
      TbPosition p;
      if (!epPlacement(m, rng() & 1, static_cast<int>(rng() & 1), rng, p)) continue;
      int caps;
      if (legalMoves(p, caps) == 0) continue;
      printf("%s\n", toFen(p).c_str());
      ++eps;
    }
    fprintf(stderr, "%s: %d random, %d capture-only, %d en passant\n", m.name.c_str(), made, captureOnly, eps);
  }
  return 0;
}

int runSpeed(const char* dirs, int count, uint64_t seed) {
  std::mt19937_64 rng(seed);
  const std::vector<Material> materials = materialsOf(dirs);
  std::vector<TbPosition> set;
  while (static_cast<int>(set.size()) < count && !materials.empty()) {
    const Material& m = materials[rng() % materials.size()];
    TbPosition p;
    if (randomPlacement(m, rng() & 1, static_cast<int>(rng() & 1), rng, p)) set.push_back(p);
  }
  for (int pass = 0; pass < 2; ++pass) {
    const auto t0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    long sum = 0, failed = 0;
    for (const TbPosition& p : set) {
      int success;
      sum += probeWdl(p, success);
      failed += success == 0;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
    // CPU time says what one core does on a machine shared with other work.
    printf("%s pass: %zu WDL probes in %.3f s wall, %.3f s CPU = %.0f probes/s wall, %.0f per CPU second"
           " (%ld unanswered, checksum %ld)\n",
           pass ? "warm" : "cold", set.size(), s, cpu, set.size() / s, set.size() / cpu, failed, sum);
  }
  return 0;
}

std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string mutate(std::string bytes, std::mt19937_64& rng) {
  if (bytes.empty()) return bytes;
  switch (rng() % 6) {
    case 0: bytes.resize(rng() % bytes.size()); break;
    case 1: bytes.append(rng() % 4096, static_cast<char>(rng())); break;
    case 2:
      for (int k = 1 + static_cast<int>(rng() % 16); k > 0; --k) bytes[rng() % bytes.size()] ^= char(1 << (rng() % 8));
      break;
    case 3:  // the header, where the structure lives
      for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) bytes[rng() % std::min<size_t>(bytes.size(), 400)] = char(rng());
      break;
    case 4: bytes.clear(); break;
    default: bytes[rng() % std::min<size_t>(bytes.size(), 4)] ^= 0x21; break;
  }
  return bytes;
}

int runFuzz(const char* source, int seconds, uint64_t seed) {
  namespace fs = std::filesystem;
  std::mt19937_64 rng(seed);
  const std::vector<Material> materials = materialsOf(source);
  const std::string work = (fs::temp_directory_path() / ("vesk-tbfuzz-" + std::to_string(seed))).string();
  fs::create_directories(work);
  for (const auto& e : fs::directory_iterator(source))
    if (e.path().extension() == ".rtbw" || e.path().extension() == ".rtbz")
      fs::copy_file(e.path(), work + "/" + e.path().filename().string(), fs::copy_options::overwrite_existing);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  long rounds = 0, probes = 0, answered = 0;
  while (std::chrono::steady_clock::now() < end && !materials.empty()) {
    const Material& m = materials[rng() % materials.size()];
    const std::string ext = rng() & 1 ? ".rtbw" : ".rtbz";
    const std::string path = work + "/" + m.name + ext;
    const std::string original = readBytes(std::string(source) + "/" + m.name + ext);
    writeBytes(path, mutate(original, rng));
    initTablebases(work);
    for (int k = 0; k < 40; ++k) {
      TbPosition p;
      if (!randomPlacement(m, rng() & 1, static_cast<int>(rng() & 1), rng, p)) continue;
      int s1, s2;
      const int w = probeWdl(p, s1);
      const int d = probeDtz(p, s2);
      if ((s1 && (w < -2 || w > 2)) || (s2 && (d < -1000 || d > 1000))) {
        fprintf(stdout, "out of range: %s %d %d\n", toFen(p).c_str(), w, d);
        return 1;
      }
      ++probes;
      answered += s1 && s2;
    }
    writeBytes(path, original);
    ++rounds;
  }
  fs::remove_all(work);
  printf("fuzz: %ld damaged tables, %ld positions probed (WDL and DTZ), %ld answered, no crash\n", rounds, probes,
         answered);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s DIRS fen|random N SEED|speed N SEED\n", argv[0]);
    return 2;
  }
  board::initAttackTables();
  board::initZobristKeys();
  const std::string mode = argv[2];
  // The count line ("info string found ...") comes first on stdout.
  initTablebases(argv[1]);
  if (mode == "fen") return runFen();
  const int n = argc > 3 ? atoi(argv[3]) : 1000;
  const uint64_t seed = argc > 4 ? strtoull(argv[4], nullptr, 10) : 1;
  if (mode == "random") return runRandom(argv[1], n, seed);
  if (mode == "speed") return runSpeed(argv[1], n, seed);
  if (mode == "fuzz") return runFuzz(argv[1], n, seed);
  return 2;
}
