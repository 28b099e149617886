// Weight table: registration, defaults, the params file and personality scaling.
#include "eval/params.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/output.h"

namespace eval {

std::array<EvalParam, kParamCount> evalParams;

namespace {

struct Group {
  const char* name;
  int count;
};

// Registration order; element counts.
constexpr Group kGroups[] = {
    {"mtl_pawn", 1}, {"mtl_knight", 1}, {"mtl_bishop", 1}, {"mtl_rook", 1}, {"mtl_queen", 1},
    {"bishop_pair", 1}, {"pawn_isolated", 1}, {"pawn_weak", 1}, {"pawn_blocked", 1}, {"pawn_doubled", 1},
    {"ppawn_base", 6}, {"ppawn_mobile", 6}, {"ppawn_free", 6}, {"ppawn_fkdist", 8}, {"ppawn_ekdist", 8},
    {"ppawn_connected", 6}, {"candidate_passer", 6}, {"knight_mobility", 9}, {"knight_trapped", 1},
    {"knight_outpost", 1}, {"knight_outpost_atk", 1}, {"bishop_mobility", 12}, {"bishop_mob2", 1},
    {"bishop_trapped", 1}, {"bishop_outpost", 1}, {"bishop_outpost_atk", 1}, {"rook_mobility", 12},
    {"rook_mob2", 1}, {"rook_trapped", 1}, {"rook_openfile", 1}, {"rook_7th", 1}, {"queen_mobility", 18},
    {"queen_trapped", 1}, {"pawn_shield", 1}, {"enemy_checks", 1}, {"king_danger1", 1}, {"king_danger2", 1},
    {"king_trapped", 1}, {"king_pawn_dist", 1}, {"hung_pawn", 1}, {"attacked_pawn", 1}, {"hung_minor", 1},
    {"attacked_minor", 1}, {"hung_major", 1}, {"ppush_threat", 1}, {"pinned_piece", 1},
    {"bishop_rampawns", 1}, {"stm_bonus", 1}, {"ttune", 32}, {"PST_P1", 64}, {"PST_CP", 64},
    {"PST_DP", 64}, {"PST_N1", 64}, {"PST_B1", 64}, {"PST_R1", 64}, {"PST_Q1", 64}, {"PST_K", 64},
    {"PST_P2", 64}, {"PST_N2", 64}, {"PST_B2", 64}, {"PST_R2", 64}, {"PST_Q2", 64},
};

struct Pair {
  int mg, eg;
};

// Defaults in table order up to PST_K; the opposite-wing set (PST_P2 ... PST_Q2)
// starts as a copy of the same-wing set. The piece-square tables not given with
// the weights (PST_N/B/R/Q, PST_CP and PST_DP outside their anchor rows) are
// seeded from the published PeSTO tables, mean-centred and halved, and from the
// anchor rows scaled by rank. Tuning revises them.
constexpr Pair kSameWingDefaults[kPstP2] = {
    {100, 100}, {365, 353}, {365, 374}, {520, 659}, {1117, 1201}, {32, 57},
    {-7, -9}, {-6, 2}, {-6, -7}, {-5, -8},
    // ppawn_base, ppawn_mobile, ppawn_free
    {-17, 22}, {-20, 21}, {-17, 38}, {12, 56}, {56, 87}, {115, 157},
    {10, 3}, {15, 2}, {17, 11}, {18, 33}, {48, 46}, {40, 91},
    {-4, 1}, {-10, 1}, {-27, 16}, {-16, 35}, {18, 60}, {30, 95},
    // ppawn_fkdist, ppawn_ekdist
    {8, 33}, {20, 58}, {25, 23}, {23, 5}, {-6, -28}, {0, -57}, {8, -68}, {-26, -54},
    {-57, -52}, {-13, -16}, {29, -20}, {4, 48}, {10, 89}, {23, 112}, {31, 123}, {24, 108},
    // ppawn_connected, candidate_passer
    {-5, -9}, {-7, -2}, {1, 10}, {3, 3}, {13, 48}, {2, 70},
    {0, 0}, {0, 0}, {0, 45}, {6, 64}, {4, 59}, {0, 0},
    // knight_mobility, knight_trapped, knight_outpost, knight_outpost_atk
    {-37, -22}, {-6, -37}, {2, 4}, {11, 18}, {16, 25}, {21, 32}, {24, 29}, {26, 21}, {30, 4},
    {-10, -10}, {36, 8}, {7, 11},
    // bishop_mobility, bishop_mob2, bishop_trapped, bishop_outpost, bishop_outpost_atk
    {-11, -44}, {-6, -40}, {4, -15}, {7, 4}, {10, 14}, {13, 22}, {12, 28}, {9, 32}, {8, 33}, {10, 32},
    {18, 27}, {28, 24},
    {6, 2}, {-10, -10}, {44, 0}, {2, 6},
    // rook_mobility, rook_mob2, rook_trapped, rook_openfile, rook_7th
    {-15, -41}, {-5, -25}, {0, -6}, {0, 15}, {2, 20}, {4, 24}, {7, 29}, {9, 32}, {13, 33}, {15, 36},
    {16, 39}, {15, 45},
    {5, 4}, {-10, -10}, {14, -2}, {0, 24},
    // queen_mobility, queen_trapped
    {-26, -13}, {-1, -18}, {6, -27}, {8, -23}, {10, -9}, {9, 7}, {9, 19}, {10, 28}, {9, 33}, {10, 37},
    {11, 39}, {12, 41}, {16, 38}, {21, 35}, {26, 34}, {30, 34}, {31, 33}, {36, 26},
    {-10, -10},
    // pawn_shield ... stm_bonus
    {25, -17}, {-29, -21}, {-190, 8}, {-73, 3}, {-3, -42}, {3, -75},
    {-14, -44}, {-1, -20}, {-58, -53}, {-7, -23}, {-61, -31}, {-15, -22}, {-46, -75},
    {-8, -16}, {21, 17},
    // ttune
    {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0},
    {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0},
    {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0},
    {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0},
    // Piece-square tables, a1 = 0 from the owner's view, own king on files e-h.
    // PST_P1
    {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},
    {-25,-2},  {-22,-6},  {-26,-4},  {-29,0},  {-24,18},  {7,14},  {28,-1},  {-15,-4},
    {-25,-4},  {-21,-10},  {-31,-6},  {-32,2},  {-28,9},  {-15,9},  {5,1},  {-20,0},
    {-16,3},  {-11,-2},  {-12,-11},  {-11,-10},  {-7,-2},  {-8,6},  {-5,10},  {-15,4},
    {-13,19},  {-2,4},  {-13,1},  {-5,-11},  {2,0},  {14,-2},  {7,11},  {-6,9},
    {-12,33},  {1,20},  {10,4},  {12,-9},  {20,-4},  {46,5},  {38,18},  {2,9},
    {28,34},  {26,32},  {27,22},  {25,5},  {20,2},  {12,0},  {0,5},  {-16,-7},
    {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},
    // PST_CP
    {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},
    {5,6},  {6,6},  {7,6},  {9,7},  {9,6},  {7,6},  {4,4},  {4,3},
    {8,10},  {9,9},  {10,10},  {13,10},  {14,9},  {11,9},  {6,6},  {5,5},
    {12,14},  {14,13},  {15,14},  {20,15},  {21,14},  {17,14},  {9,9},  {8,8},
    {18,22},  {22,20},  {24,22},  {31,24},  {33,21},  {26,21},  {14,14},  {13,12},
    {26,32},  {31,29},  {34,32},  {44,34},  {47,30},  {37,30},  {20,20},  {18,17},
    {34,42},  {40,38},  {44,42},  {57,44},  {61,39},  {48,39},  {26,26},  {23,22},
    {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},
    // PST_DP
    {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},
    {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},
    {7,11},  {11,13},  {16,14},  {18,16},  {17,16},  {14,14},  {9,12},  {7,11},
    {12,19},  {19,22},  {28,25},  {31,28},  {29,27},  {24,24},  {16,20},  {12,19},
    {20,32},  {31,36},  {46,41},  {52,47},  {48,45},  {40,40},  {27,34},  {20,31},
    {26,42},  {40,47},  {60,53},  {68,61},  {62,58},  {52,52},  {35,44},  {26,40},
    {32,51},  {50,58},  {74,66},  {83,75},  {77,72},  {64,64},  {43,54},  {32,50},
    {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},  {0,0},
    // PST_N1
    {-52,-7},  {-10,-18},  {-29,-4},  {-16,0},  {-8,-3},  {-14,-1},  {-9,-17},  {-11,-24},
    {-14,-13},  {-26,-2},  {-6,3},  {-1,5},  {0,7},  {9,-2},  {-7,-4},  {-9,-14},
    {-11,-4},  {-4,6},  {6,7},  {5,15},  {10,13},  {9,6},  {13,-2},  {-8,-3},
    {-6,-1},  {2,5},  {8,16},  {7,20},  {14,16},  {10,16},  {11,10},  {-4,-1},
    {-4,-1},  {9,9},  {10,19},  {27,19},  {19,19},  {35,13},  {9,12},  {11,-1},
    {-23,-4},  {30,-2},  {19,13},  {33,12},  {42,7},  {65,3},  {37,-2},  {22,-13},
    {-36,-5},  {-20,4},  {36,-5},  {18,7},  {12,3},  {31,-5},  {4,-4},  {-8,-18},
    {-67,-60},  {-44,-11},  {-17,1},  {-24,-6},  {31,-8},  {-48,-6},  {-7,-24},  {-66,-65},
    // PST_B1
    {-19,-9},  {-4,-2},  {-10,-9},  {-13,0},  {-9,-2},  {-9,-6},  {-22,0},  {-13,-6},
    {-1,-5},  {5,-7},  {5,-1},  {-3,2},  {1,4},  {8,-2},  {14,-5},  {-2,-11},
    {-3,-4},  {5,1},  {5,6},  {5,7},  {4,9},  {11,4},  {6,-1},  {2,-5},
    {-6,-1},  {4,4},  {4,9},  {10,12},  {14,6},  {3,7},  {2,1},  {-1,-2},
    {-5,1},  {0,7},  {7,8},  {22,7},  {16,9},  {16,7},  {1,4},  {-4,3},
    {-11,3},  {16,-2},  {19,2},  {17,2},  {15,1},  {22,5},  {16,2},  {-4,4},
    {-16,-2},  {5,0},  {-12,6},  {-9,-4},  {12,1},  {27,-4},  {6,0},  {-26,-5},
    {-17,-5},  {-1,-8},  {-44,-3},  {-21,-2},  {-15,-1},  {-24,-2},  {1,-6},  {-7,-10},
    // PST_R1
    {-13,-5},  {-10,1},  {-3,1},  {5,-1},  {4,-3},  {0,-7},  {-22,2},  {-17,-10},
    {-26,-3},  {-12,-3},  {-14,0},  {-8,1},  {-4,-5},  {2,-5},  {-7,-6},  {-39,-2},
    {-26,-2},  {-16,0},  {-12,-3},  {-12,-1},  {-2,-4},  {-4,-6},  {-6,-4},  {-20,-8},
    {-22,1},  {-17,2},  {-10,4},  {-4,2},  {1,-3},  {-7,-3},  {-1,-4},  {-15,-6},
    {-16,2},  {-9,1},  {0,6},  {9,0},  {8,1},  {14,0},  {-8,-1},  {-14,1},
    {-6,3},  {6,3},  {9,3},  {14,2},  {5,2},  {19,-2},  {27,-3},  {4,-2},
    {10,5},  {12,6},  {25,6},  {27,5},  {36,-2},  {30,1},  {9,4},  {18,1},
    {12,6},  {17,5},  {12,9},  {22,7},  {28,6},  {1,6},  {12,4},  {18,2},
    // PST_Q1
    {-2,-21},  {-10,-18},  {-6,-15},  {4,-26},  {-9,-7},  {-14,-20},  {-17,-14},  {-26,-25},
    {-19,-15},  {-5,-16},  {4,-19},  {0,-12},  {3,-12},  {6,-16},  {-3,-22},  {-1,-20},
    {-8,-12},  {0,-18},  {-7,3},  {-2,-1},  {-4,0},  {0,4},  {6,1},  {1,-2},
    {-6,-13},  {-14,10},  {-6,5},  {-6,19},  {-2,11},  {-3,13},  {0,15},  {-3,7},
    {-15,-3},  {-15,7},  {-9,8},  {-9,18},  {-2,24},  {7,16},  {-2,24},  {-1,14},
    {-8,-14},  {-10,-1},  {2,0},  {3,20},  {13,19},  {27,13},  {22,5},  {27,0},
    {-13,-13},  {-21,6},  {-4,12},  {-1,16},  {-9,25},  {27,8},  {13,11},  {26,-4},
    {-15,-9},  {-1,7},  {13,7},  {5,9},  {28,9},  {21,5},  {20,1},  {21,6},
    // PST_K
    {0,0},  {0,0},  {0,0},  {0,0},  {-18,-49},  {-32,-34},  {8,-59},  {1,-87},
    {0,0},  {0,0},  {0,0},  {0,0},  {-40,-4},  {-29,-8},  {1,-29},  {-1,-52},
    {0,0},  {0,0},  {0,0},  {0,0},  {-23,9},  {-23,2},  {-14,-13},  {-32,-32},
    {0,0},  {0,0},  {0,0},  {0,0},  {-9,21},  {-5,15},  {-6,2},  {-21,-23},
    {0,0},  {0,0},  {0,0},  {0,0},  {-7,31},  {0,28},  {3,18},  {-10,-6},
    {0,0},  {0,0},  {0,0},  {0,0},  {-9,35},  {-2,40},  {3,24},  {-9,-7},
    {0,0},  {0,0},  {0,0},  {0,0},  {-15,22},  {-8,31},  {-2,25},  {-12,-25},
    {0,0},  {0,0},  {0,0},  {0,0},  {-17,-2},  {-12,-2},  {-7,-1},  {-13,-46},
};

constexpr std::array<Pair, kParamCount> kDefaults = [] {
  std::array<Pair, kParamCount> d{};
  for (int i = 0; i < kPstP2; ++i) d[i] = kSameWingDefaults[i];
  constexpr int kSets[5][2] = {{kPstP1, kPstP2}, {kPstN1, kPstN2}, {kPstB1, kPstB2}, {kPstR1, kPstR2}, {kPstQ1, kPstQ2}};
  for (const auto& set : kSets)
    for (int sq = 0; sq < 64; ++sq) d[set[1] + sq] = d[set[0] + sq];
  return d;
}();

int registered = 0;
int cursor = 0;

void reportBadLine(const char* path, int lineNo, const char* why) {
  platform::outputFormat("%s line %d ignored: %s", path, lineNo, why);
}

// Strict integer reading of a token that may carry blanks around it.
bool readInt(const char* text, long& out) {
  char* end = nullptr;
  errno = 0;
  out = strtol(text, &end, 10);
  if (end == text || errno == ERANGE) return false;
  while (*end == ' ' || *end == '\t' || *end == ';' || *end == '\r') ++end;
  return *end == 0;
}

// Round half away from zero.
int roundHalfAway(double v) { return static_cast<int>(v < 0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5)); }

}  // namespace

void register_param(const char* name, int mg, int eg) {
  if (registered >= kParamCount) return;
  EvalParam& e = evalParams[registered++];
  e.packed = pack(mg, eg);
  e.mg = static_cast<float>(mg);
  e.eg = static_cast<float>(eg);
  snprintf(e.name, sizeof e.name, "%s", name);
}

void fset(const char* name, int mg, int eg) {
  if (strcmp(name, "mtl_pawn") == 0) cursor = 0;
  if (cursor >= kParamCount) {
    platform::outputFormat("error %s  (past the last of %d entries, ignored)", name, kParamCount);
    return;
  }
  EvalParam& e = evalParams[cursor++];
  if (strcmp(name, e.name) != 0) platform::outputFormat("error %s  %s\n", name, e.name);
  e.packed = pack(mg, eg);
  e.mg = static_cast<float>(mg);
  e.eg = static_cast<float>(eg);
}

int read_params_file(const char* path) {
  FILE* f = fopen(path, "r");
  if (!f) return 0;
  int bad = 0, lineNo = 0;
  char line[256];
  while (fgets(line, sizeof line, f)) {
    ++lineNo;
    size_t len = strlen(line);
    if (len == sizeof line - 1 && line[len - 1] != '\n') {
      // Over-long line: skip the rest of it.
      int c;
      while ((c = fgetc(f)) != EOF && c != '\n') {
      }
      reportBadLine(path, lineNo, "line too long");
      ++bad;
      continue;
    }
    const char* tokens[4] = {};
    int n = 0;
    for (char* t = strtok(line, "(),\"\n\r"); t && n < 4; t = strtok(nullptr, "(),\"\n\r")) tokens[n++] = t;
    int first = (n > 0 && strstr(tokens[0], "fset")) ? 1 : 0;
    if (n == 0 || (n == 1 && strspn(tokens[0], " \t;") == strlen(tokens[0]))) continue;  // blank
    if (tokens[0][0] == '#' || (tokens[0][0] == '/' && tokens[0][1] == '/')) continue;  // comment
    long mg, eg;
    if (n < first + 3 || !readInt(tokens[first + 1], mg) || !readInt(tokens[first + 2], eg)) {
      reportBadLine(path, lineNo, "expected a name and two numbers");
      ++bad;
      continue;
    }
    const char* name = tokens[first];
    while (*name == ' ' || *name == '\t') ++name;
    if (strlen(name) > 31) {
      reportBadLine(path, lineNo, "name too long");
      ++bad;
      continue;
    }
    if (mg < -32767 || mg > 32767 || eg < -32767 || eg > 32767) {
      // Keep the following lines aligned: the entry keeps its value.
      reportBadLine(path, lineNo, "value out of range");
      ++bad;
      if (strcmp(name, "mtl_pawn") == 0) cursor = 0;
      if (cursor < kParamCount) ++cursor;
      continue;
    }
    fset(name, static_cast<int>(mg), static_cast<int>(eg));
  }
  fclose(f);
  return bad;
}

bool scale_params(const char* pattern, int mgPercent, int egPercent) {
  bool none = true;
  for (EvalParam& e : evalParams) {
    if (!strstr(e.name, pattern)) continue;
    none = false;
    e.mg = static_cast<float>(static_cast<double>(e.mg) * mgPercent * 0.01);
    e.eg = static_cast<float>(static_cast<double>(e.eg) * egPercent * 0.01);
    e.packed = pack(roundHalfAway(e.mg), roundHalfAway(e.eg));
  }
  return none;
}

bool writeParamsFile(const char* path) {
  FILE* f = fopen(path, "w");
  if (!f) return false;
  for (const EvalParam& e : evalParams)
    fprintf(f, "fset(\"%s\", %d, %d);\n", e.name, roundHalfAway(e.mg), roundHalfAway(e.eg));
  return fclose(f) == 0;
}

void init_eval_params(const Personality& p, const char* paramsFile) {
  registered = 0;
  for (const Group& g : kGroups)
    for (int i = 0; i < g.count; ++i) register_param(g.name, 0, 0);
  for (int i = 0; i < kParamCount; ++i) fset(evalParams[i].name, kDefaults[i].mg, kDefaults[i].eg);
  if (paramsFile) read_params_file(paramsFile);

  static constexpr const char* kMaterial[5] = {"mtl_pawn", "mtl_knight", "mtl_bishop", "mtl_rook", "mtl_queen"};
  for (int i = 0; i < 5; ++i) scale_params(kMaterial[i], p[i][0], p[i][1]);
  struct Scaled {
    const char* pattern;
    int group;
  };
  static constexpr Scaled kOrder[] = {
      {"knight_mobility", 5}, {"knight_outpost", 5}, {"knight_outpost_atk", 5}, {"bishop_mobility", 6},
      {"bishop_mob2", 6}, {"bishop_outpost", 6}, {"bishop_outpost_atk", 6}, {"rook_mobility", 7},
      {"rook_mob2", 7}, {"queen_mobility", 8}, {"PST_N1", 5}, {"PST_N2", 5}, {"PST_B1", 6}, {"PST_B2", 6},
      {"PST_R1", 7}, {"PST_R2", 7}, {"PST_Q1", 8}, {"PST_Q2", 8}, {"PST_P1", 9}, {"PST_P2", 9},
      {"PST_CP", 9}, {"PST_DP", 9}, {"ppawn_base", 10}, {"ppawn_mobile", 10}, {"ppawn_free", 10},
      {"candidate_passer", 10}, {"king_danger", 11}, {"enemy_checks", 11}, {"hung_pawn", 12},
      {"attacked_pawn", 12}, {"hung_minor", 12}, {"attacked_minor", 12}, {"hung_major", 12},
      {"pinned_piece", 12},
  };
  for (const Scaled& s : kOrder) scale_params(s.pattern, p[s.group][0], p[s.group][1]);
}

}  // namespace eval
