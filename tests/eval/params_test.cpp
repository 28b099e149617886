// The weight table: order, defaults, packing, the params file and the
// personality scaling.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "eval_test_util.h"

using eval::evalParams;
using eval::kParamCount;
using eval::pack;

namespace {

struct Group {
  const char* name;
  std::vector<std::pair<int, int>> values;  // one per element
};

std::vector<std::pair<int, int>> repeat(int n, int mg, int eg) { return std::vector<std::pair<int, int>>(n, {mg, eg}); }

// Every weight before the piece-square tables, in table order.
const std::vector<Group>& scalarGroups() {
  static const std::vector<Group> groups = {
      {"mtl_pawn", {{100, 100}}},
      {"mtl_knight", {{365, 353}}},
      {"mtl_bishop", {{365, 374}}},
      {"mtl_rook", {{520, 659}}},
      {"mtl_queen", {{1117, 1201}}},
      {"bishop_pair", {{32, 57}}},
      {"pawn_isolated", {{-7, -9}}},
      {"pawn_weak", {{-6, 2}}},
      {"pawn_blocked", {{-6, -7}}},
      {"pawn_doubled", {{-5, -8}}},
      {"ppawn_base", {{-17, 22}, {-20, 21}, {-17, 38}, {12, 56}, {56, 87}, {115, 157}}},
      {"ppawn_mobile", {{10, 3}, {15, 2}, {17, 11}, {18, 33}, {48, 46}, {40, 91}}},
      {"ppawn_free", {{-4, 1}, {-10, 1}, {-27, 16}, {-16, 35}, {18, 60}, {30, 95}}},
      {"ppawn_fkdist", {{8, 33}, {20, 58}, {25, 23}, {23, 5}, {-6, -28}, {0, -57}, {8, -68}, {-26, -54}}},
      {"ppawn_ekdist", {{-57, -52}, {-13, -16}, {29, -20}, {4, 48}, {10, 89}, {23, 112}, {31, 123}, {24, 108}}},
      {"ppawn_connected", {{-5, -9}, {-7, -2}, {1, 10}, {3, 3}, {13, 48}, {2, 70}}},
      {"candidate_passer", {{0, 0}, {0, 0}, {0, 45}, {6, 64}, {4, 59}, {0, 0}}},
      {"knight_mobility", {{-37, -22}, {-6, -37}, {2, 4}, {11, 18}, {16, 25}, {21, 32}, {24, 29}, {26, 21}, {30, 4}}},
      {"knight_trapped", {{-10, -10}}},
      {"knight_outpost", {{36, 8}}},
      {"knight_outpost_atk", {{7, 11}}},
      {"bishop_mobility",
       {{-11, -44}, {-6, -40}, {4, -15}, {7, 4}, {10, 14}, {13, 22}, {12, 28}, {9, 32}, {8, 33}, {10, 32}, {18, 27}, {28, 24}}},
      {"bishop_mob2", {{6, 2}}},
      {"bishop_trapped", {{-10, -10}}},
      {"bishop_outpost", {{44, 0}}},
      {"bishop_outpost_atk", {{2, 6}}},
      {"rook_mobility",
       {{-15, -41}, {-5, -25}, {0, -6}, {0, 15}, {2, 20}, {4, 24}, {7, 29}, {9, 32}, {13, 33}, {15, 36}, {16, 39}, {15, 45}}},
      {"rook_mob2", {{5, 4}}},
      {"rook_trapped", {{-10, -10}}},
      {"rook_openfile", {{14, -2}}},
      {"rook_7th", {{0, 24}}},
      {"queen_mobility", {{-26, -13}, {-1, -18}, {6, -27}, {8, -23}, {10, -9}, {9, 7}, {9, 19}, {10, 28}, {9, 33},
                          {10, 37}, {11, 39}, {12, 41}, {16, 38}, {21, 35}, {26, 34}, {30, 34}, {31, 33}, {36, 26}}},
      {"queen_trapped", {{-10, -10}}},
      {"pawn_shield", {{25, -17}}},
      {"enemy_checks", {{-29, -21}}},
      {"king_danger1", {{-190, 8}}},
      {"king_danger2", {{-73, 3}}},
      {"king_trapped", {{-3, -42}}},
      {"king_pawn_dist", {{3, -75}}},
      {"hung_pawn", {{-14, -44}}},
      {"attacked_pawn", {{-1, -20}}},
      {"hung_minor", {{-58, -53}}},
      {"attacked_minor", {{-7, -23}}},
      {"hung_major", {{-61, -31}}},
      {"ppush_threat", {{-15, -22}}},
      {"pinned_piece", {{-46, -75}}},
      {"bishop_rampawns", {{-8, -16}}},
      {"stm_bonus", {{21, 17}}},
      {"ttune", repeat(32, 0, 0)},
  };
  return groups;
}

const char* const kTables[13] = {"PST_P1", "PST_CP", "PST_DP", "PST_N1", "PST_B1", "PST_R1", "PST_Q1",
                                 "PST_K",  "PST_P2", "PST_N2", "PST_B2", "PST_R2", "PST_Q2"};

// Rank by rank from rank 1, files a to h.
const int kPawn1[64][2] = {
    {0, 0},     {0, 0},     {0, 0},     {0, 0},     {0, 0},    {0, 0},    {0, 0},   {0, 0},
    {-25, -2},  {-22, -6},  {-26, -4},  {-29, 0},   {-24, 18}, {7, 14},   {28, -1}, {-15, -4},
    {-25, -4},  {-21, -10}, {-31, -6},  {-32, 2},   {-28, 9},  {-15, 9},  {5, 1},   {-20, 0},
    {-16, 3},   {-11, -2},  {-12, -11}, {-11, -10}, {-7, -2},  {-8, 6},   {-5, 10}, {-15, 4},
    {-13, 19},  {-2, 4},    {-13, 1},   {-5, -11},  {2, 0},    {14, -2},  {7, 11},  {-6, 9},
    {-12, 33},  {1, 20},    {10, 4},    {12, -9},   {20, -4},  {46, 5},   {38, 18}, {2, 9},
    {28, 34},   {26, 32},   {27, 22},   {25, 5},    {20, 2},   {12, 0},   {0, 5},   {-16, -7},
    {0, 0},     {0, 0},     {0, 0},     {0, 0},     {0, 0},    {0, 0},    {0, 0},   {0, 0}};
// Files e-h; files a-d are zero.
const int kKingEH[8][4][2] = {
    {{-18, -49}, {-32, -34}, {8, -59}, {1, -87}},   {{-40, -4}, {-29, -8}, {1, -29}, {-1, -52}},
    {{-23, 9}, {-23, 2}, {-14, -13}, {-32, -32}},   {{-9, 21}, {-5, 15}, {-6, 2}, {-21, -23}},
    {{-7, 31}, {0, 28}, {3, 18}, {-10, -6}},        {{-9, 35}, {-2, 40}, {3, 24}, {-9, -7}},
    {{-15, 22}, {-8, 31}, {-2, 25}, {-12, -25}},    {{-17, -2}, {-12, -2}, {-7, -1}, {-13, -46}}};

int firstIndexOf(const char* name) {
  for (int i = 0; i < kParamCount; ++i)
    if (std::strcmp(evalParams[i].name, name) == 0) return i;
  return -1;
}

void expectEntry(int i, int mg, int eg, const std::string& what) {
  EXPECT_EQ(eval::mgOf(evalParams[i].packed), mg) << what << " entry " << i;
  EXPECT_EQ(eval::egOf(evalParams[i].packed), eg) << what << " entry " << i;
  EXPECT_EQ(evalParams[i].mg, static_cast<float>(mg)) << what << " entry " << i;
  EXPECT_EQ(evalParams[i].eg, static_cast<float>(eg)) << what << " entry " << i;
}

std::string tempPath(const std::string& name) { return testing::TempDir() + "/vesk_params_" + name; }

std::string writeFile(const std::string& name, const std::string& text) {
  std::string path = tempPath(name);
  std::ofstream(path) << text;
  return path;
}

using Table = std::array<eval::EvalParam, kParamCount>;

// Entries other than those listed must equal the reference table.
void expectUnchangedExcept(const Table& ref, std::initializer_list<int> changed) {
  for (int i = 0; i < kParamCount; ++i) {
    if (std::find(changed.begin(), changed.end(), i) != changed.end()) continue;
    EXPECT_EQ(evalParams[i].packed, ref[i].packed) << "entry " << i << " " << ref[i].name;
    EXPECT_EQ(evalParams[i].mg, ref[i].mg) << "entry " << i;
    EXPECT_EQ(evalParams[i].eg, ref[i].eg) << "entry " << i;
    EXPECT_STREQ(evalParams[i].name, ref[i].name) << "entry " << i;
  }
}

int roundHalfAway(double v) { return static_cast<int>(std::round(v)); }

class ParamTable : public testing::Test {
 protected:
  void SetUp() override {
    evaltest::initAll();
    defaults = evalParams;
  }
  void TearDown() override { eval::init_eval_params(evaltest::neutralPersonality(), nullptr); }
  Table defaults;
};

}  // namespace

TEST_F(ParamTable, NamesCountsAndDefaultsFollowTheTableOrder) {
  int i = 0;
  for (const auto& g : scalarGroups()) {
    ASSERT_EQ(firstIndexOf(g.name), i) << g.name;
    for (auto [mg, eg] : g.values) {
      EXPECT_STREQ(evalParams[i].name, g.name);
      expectEntry(i, mg, eg, g.name);
      ++i;
    }
  }
  EXPECT_EQ(i, 166);
  for (int t = 0; t < 13; ++t) {
    EXPECT_EQ(firstIndexOf(kTables[t]), 166 + 64 * t) << kTables[t];
    for (int sq = 0; sq < 64; ++sq) EXPECT_STREQ(evalParams[166 + 64 * t + sq].name, kTables[t]);
  }
  EXPECT_EQ(kParamCount, 998);
  // The evaluation's index constants name the same entries.
  const std::pair<int, const char*> bound[] = {
      {eval::kMtlPawn, "mtl_pawn"},         {eval::kPawnDoubled, "pawn_doubled"},
      {eval::kPpawnBase, "ppawn_base"},     {eval::kPpawnFkdist, "ppawn_fkdist"},
      {eval::kCandidatePasser, "candidate_passer"}, {eval::kKnightMobility, "knight_mobility"},
      {eval::kKnightOutpostAtk, "knight_outpost_atk"}, {eval::kBishopMobility, "bishop_mobility"},
      {eval::kBishopOutpostAtk, "bishop_outpost_atk"}, {eval::kRookMobility, "rook_mobility"},
      {eval::kRook7th, "rook_7th"},         {eval::kQueenMobility, "queen_mobility"},
      {eval::kPawnShield, "pawn_shield"},   {eval::kKingPawnDist, "king_pawn_dist"},
      {eval::kPinnedPiece, "pinned_piece"}, {eval::kStmBonus, "stm_bonus"},
      {eval::kTtune, "ttune"},              {eval::kPstP1, "PST_P1"},
      {eval::kPstCP, "PST_CP"},             {eval::kPstDP, "PST_DP"},
      {eval::kPstN1, "PST_N1"},             {eval::kPstK, "PST_K"},
      {eval::kPstP2, "PST_P2"},             {eval::kPstQ2, "PST_Q2"}};
  for (auto [index, name] : bound) EXPECT_EQ(firstIndexOf(name), index) << name;
}

TEST_F(ParamTable, PieceSquareDefaults) {
  const int p1 = firstIndexOf("PST_P1"), k = firstIndexOf("PST_K");
  for (int sq = 0; sq < 64; ++sq) expectEntry(p1 + sq, kPawn1[sq][0], kPawn1[sq][1], "PST_P1");
  for (int r = 0; r < 8; ++r)
    for (int f = 0; f < 8; ++f) {
      if (f < 4)
        expectEntry(k + r * 8 + f, 0, 0, "PST_K");
      else
        expectEntry(k + r * 8 + f, kKingEH[r][f - 4][0], kKingEH[r][f - 4][1], "PST_K");
    }
  // Ranks where a pawn never stands or a defended pawn cannot stand.
  for (const char* name : {"PST_P2", "PST_CP"}) {
    const int base = firstIndexOf(name);
    for (int f = 0; f < 8; ++f) {
      expectEntry(base + f, 0, 0, name);
      expectEntry(base + 56 + f, 0, 0, name);
    }
  }
  const int dp = firstIndexOf("PST_DP");
  for (int f = 0; f < 8; ++f)
    for (int r : {0, 1, 7}) expectEntry(dp + r * 8 + f, 0, 0, "PST_DP");
  const int cpRank6[8][2] = {{26, 32}, {31, 29}, {34, 32}, {44, 34}, {47, 30}, {37, 30}, {20, 20}, {18, 17}};
  const int dpRank5[8][2] = {{20, 32}, {31, 36}, {46, 41}, {52, 47}, {48, 45}, {40, 40}, {27, 34}, {20, 31}};
  const int cp = firstIndexOf("PST_CP");
  for (int f = 0; f < 8; ++f) {
    expectEntry(cp + 40 + f, cpRank6[f][0], cpRank6[f][1], "PST_CP rank 6");
    expectEntry(dp + 32 + f, dpRank5[f][0], dpRank5[f][1], "PST_DP rank 5");
  }
  const int n1 = firstIndexOf("PST_N1");
  expectEntry(n1 + 56, -67, -60, "PST_N1 a8");
  expectEntry(n1 + 63, -66, -65, "PST_N1 h8");
}

TEST(ParamPacking, PairsPackAndUnpack) {
  EXPECT_EQ(pack(-6, 2), 2 * 65536 - 6);
  EXPECT_EQ(eval::mgOf(2 * 65536 - 6), -6);
  EXPECT_EQ(eval::egOf(2 * 65536 - 6), 2);
  for (int mg = -32767; mg <= 32767; mg += 1021)
    for (int eg = -32767; eg <= 32767; eg += 977) {
      eval::Packed p = pack(mg, eg);
      ASSERT_EQ(eval::mgOf(p), mg) << mg << "/" << eg;
      ASSERT_EQ(eval::egOf(p), eg) << mg << "/" << eg;
    }
  for (int v : {-32767, -1, 0, 1, 32767}) {
    EXPECT_EQ(eval::mgOf(pack(v, -v)), v);
    EXPECT_EQ(eval::egOf(pack(v, -v)), -v);
  }
  // Sums and small multiples unpack to the sums of the halves.
  eval::Packed s = pack(-6, 2) + pack(-7, -9) + 3 * pack(25, -17) - pack(-190, 8);
  EXPECT_EQ(eval::mgOf(s), -6 - 7 + 75 + 190);
  EXPECT_EQ(eval::egOf(s), 2 - 9 - 51 - 8);
  EXPECT_EQ(eval::mgOf(-pack(-6, 2)), 6);
  EXPECT_EQ(eval::egOf(-pack(-6, 2)), -2);
}

TEST_F(ParamTable, WriteThenReadReproducesTheTable) {
  const std::string path = tempPath("roundtrip.txt");
  ASSERT_TRUE(eval::writeParamsFile(path.c_str()));
  // Change every entry, then read the file back.
  for (int i = 0; i < kParamCount; ++i) eval::fset(evalParams[i].name, i % 97 - 40, 13 - i % 31);
  EXPECT_EQ(eval::read_params_file(path.c_str()), 0);
  expectUnchangedExcept(defaults, {});

  // A scaled table has fractional weights; the file holds the rounded pairs.
  eval::Personality p = evaltest::neutralPersonality();
  for (int g = 0; g < 13; ++g) p[g] = {static_cast<int16_t>(61 + 7 * g), static_cast<int16_t>(133 - 5 * g)};
  eval::init_eval_params(p, nullptr);
  const Table scaled = evalParams;
  ASSERT_TRUE(eval::writeParamsFile(path.c_str()));
  eval::init_eval_params(evaltest::neutralPersonality(), nullptr);
  EXPECT_EQ(eval::read_params_file(path.c_str()), 0);
  for (int i = 0; i < kParamCount; ++i) {
    EXPECT_EQ(evalParams[i].packed, scaled[i].packed) << i;
    EXPECT_EQ(evalParams[i].mg, static_cast<float>(roundHalfAway(scaled[i].mg))) << i;
    EXPECT_EQ(evalParams[i].eg, static_cast<float>(roundHalfAway(scaled[i].eg))) << i;
  }
  std::remove(path.c_str());
}

TEST_F(ParamTable, SingleLineChangesOnlyThePawn) {
  for (const char* line : {"fset(\"mtl_pawn\", 120, 110);\n", "mtl_pawn, 120, 110\n", "mtl_pawn,120,110"}) {
    std::string path = writeFile("pawn.txt", line);
    testing::internal::CaptureStdout();
    eval::init_eval_params(evaltest::neutralPersonality(), path.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << line;
    expectEntry(0, 120, 110, line);
    expectUnchangedExcept(defaults, {0});
    std::remove(path.c_str());
  }
}

TEST_F(ParamTable, MisnamedLineIsReportedAndStillSetsTheEntryAtTheCursor) {
  std::string path = writeFile("misnamed.txt", "fset(\"mtl_pawn\", 100, 100);\nfset(\"mtl_bishop\", 400, 410);\n");
  testing::internal::CaptureStdout();
  eval::init_eval_params(evaltest::neutralPersonality(), path.c_str());
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("error mtl_bishop  mtl_knight"), std::string::npos) << out;
  expectEntry(1, 400, 410, "mtl_knight");
  expectUnchangedExcept(defaults, {1});
  std::remove(path.c_str());
}

// The message keeps its historical form: the line, then an empty line.
TEST_F(ParamTable, MisnamedLineMessageForm) {
  eval::fset("mtl_pawn", 100, 100);
  testing::internal::CaptureStdout();
  eval::fset("mtl_bishop", 365, 353);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "error mtl_bishop  mtl_knight\n\n");
}

TEST_F(ParamTable, JunkLinesAreReportedAndSkipped) {
  std::string path = writeFile("junk.txt",
                               "mtl_pawn, 101, 102\n"
                               "\n"
                               "# a comment\n"
                               "// another\n"
                               "mtl_knight, 366, 354\n"
                               "this line means nothing\n"
                               "mtl_bishop, x, y\n"
                               "mtl_rook, 12\n"
                               "a_name_that_is_far_longer_than_thirty_one_characters, 1, 1\n" +
                                   std::string(600, 'z') + ", 5, 5\n");
  testing::internal::CaptureStdout();
  const int bad = eval::read_params_file(path.c_str());
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(bad, 5) << "each bad line is counted";
  expectEntry(0, 101, 102, "mtl_pawn");
  expectEntry(1, 366, 354, "mtl_knight");
  expectUnchangedExcept(defaults, {0, 1});
  EXPECT_FALSE(out.empty()) << "bad lines are reported";
  std::remove(path.c_str());
}

TEST_F(ParamTable, TooManyLinesStayInsideTheTable) {
  std::string text;
  for (int i = 0; i < 1200; ++i) {
    const char* name = i < kParamCount ? defaults[i].name : "extra";
    text += "fset(\"" + std::string(name) + "\", " + std::to_string(i % 50 - 20) + ", " + std::to_string(7 - i % 30) + ");\n";
  }
  std::string path = writeFile("long.txt", text);
  testing::internal::CaptureStdout();
  eval::init_eval_params(evaltest::neutralPersonality(), path.c_str());
  std::string out = testing::internal::GetCapturedStdout();
  for (int i = 0; i < kParamCount; ++i) {
    expectEntry(i, i % 50 - 20, 7 - i % 30, "long file");
    EXPECT_STREQ(evalParams[i].name, defaults[i].name);
  }
  EXPECT_NE(out.find("extra"), std::string::npos) << "lines past the end are reported";
  // A file that does not start at mtl_pawn finds the cursor at the end.
  eval::init_eval_params(evaltest::neutralPersonality(), nullptr);
  path = writeFile("nostart.txt", "mtl_knight, 1, 1\nmtl_bishop, 2, 2\n");
  testing::internal::CaptureStdout();
  eval::read_params_file(path.c_str());
  testing::internal::GetCapturedStdout();
  expectUnchangedExcept(defaults, {});
  std::remove(path.c_str());
}

TEST_F(ParamTable, OutOfRangeValuesAreReportedAndSkipped) {
  std::string path = writeFile("huge.txt",
                               "mtl_pawn, 100000, 5\n"
                               "mtl_knight, 40000, -70000\n"
                               "mtl_bishop, 366, 375\n"
                               "mtl_rook, 32767, -32767\n"
                               "mtl_queen, 99999999999999999999, 1\n");
  testing::internal::CaptureStdout();
  eval::init_eval_params(evaltest::neutralPersonality(), path.c_str());
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(out.empty());
  // The bad lines keep their entries; later lines stay aligned.
  expectEntry(2, 366, 375, "mtl_bishop");
  expectEntry(3, 32767, -32767, "mtl_rook");
  expectUnchangedExcept(defaults, {2, 3});
  for (int i = 0; i < kParamCount; ++i) {
    EXPECT_EQ(eval::mgOf(evalParams[i].packed), static_cast<int>(evalParams[i].mg)) << i;
    EXPECT_EQ(eval::egOf(evalParams[i].packed), static_cast<int>(evalParams[i].eg)) << i;
  }
  std::remove(path.c_str());
}

TEST_F(ParamTable, KnightPersonalityAtHalf) {
  eval::Personality p = evaltest::neutralPersonality();
  p[5] = {50, 50};
  eval::init_eval_params(p, nullptr);
  std::vector<int> changed;
  auto halved = [&](int i) {
    EXPECT_EQ(eval::mgOf(evalParams[i].packed), roundHalfAway(defaults[i].mg * 0.5)) << defaults[i].name << " " << i;
    EXPECT_EQ(eval::egOf(evalParams[i].packed), roundHalfAway(defaults[i].eg * 0.5)) << defaults[i].name << " " << i;
    EXPECT_EQ(evalParams[i].mg, defaults[i].mg * 0.5f);
    changed.push_back(i);
  };
  const int mob = firstIndexOf("knight_mobility");
  for (int i = 0; i < 9; ++i) halved(mob + i);
  EXPECT_EQ(evalParams[mob].packed, pack(-19, -11));  // -18.5, -11
  halved(firstIndexOf("knight_outpost"));
  expectEntry(firstIndexOf("knight_outpost"), 18, 4, "knight_outpost at half");
  // Scaled by "knight_outpost" and again by its own name: a quarter.
  const int atk = firstIndexOf("knight_outpost_atk");
  EXPECT_EQ(evalParams[atk].mg, 1.75f);
  EXPECT_EQ(evalParams[atk].eg, 2.75f);
  EXPECT_EQ(evalParams[atk].packed, pack(2, 3));
  changed.push_back(atk);
  for (const char* t : {"PST_N1", "PST_N2"})
    for (int sq = 0; sq < 64; ++sq) halved(firstIndexOf(t) + sq);
  EXPECT_EQ(evalParams[firstIndexOf("PST_N1") + 56].packed, pack(-34, -30));  // -33.5, -30
  for (int i = 0; i < kParamCount; ++i) {
    if (std::find(changed.begin(), changed.end(), i) != changed.end()) continue;
    EXPECT_EQ(evalParams[i].packed, defaults[i].packed) << defaults[i].name << " " << i;
  }
  // Each rebuild starts from the defaults.
  eval::init_eval_params(p, nullptr);
  EXPECT_EQ(evalParams[mob].packed, pack(-19, -11)) << "after a second rebuild";
  EXPECT_EQ(evalParams[atk].mg, 1.75f) << "after a second rebuild";
}

// Every group with its own percentages; the expected table is worked out from
// the pattern list (substring matches, in run order) in double precision.
TEST_F(ParamTable, EveryPersonalityGroupScalesItsPatterns) {
  eval::Personality p;
  for (int g = 0; g < 13; ++g) p[g] = {static_cast<int16_t>(37 + 11 * g), static_cast<int16_t>(150 - 9 * g)};
  const std::pair<const char*, int> order[] = {
      {"mtl_pawn", 0},        {"mtl_knight", 1},       {"mtl_bishop", 2},         {"mtl_rook", 3},
      {"mtl_queen", 4},       {"knight_mobility", 5},  {"knight_outpost", 5},     {"knight_outpost_atk", 5},
      {"bishop_mobility", 6}, {"bishop_mob2", 6},      {"bishop_outpost", 6},     {"bishop_outpost_atk", 6},
      {"rook_mobility", 7},   {"rook_mob2", 7},        {"queen_mobility", 8},     {"PST_N1", 5},
      {"PST_N2", 5},          {"PST_B1", 6},           {"PST_B2", 6},             {"PST_R1", 7},
      {"PST_R2", 7},          {"PST_Q1", 8},           {"PST_Q2", 8},             {"PST_P1", 9},
      {"PST_P2", 9},          {"PST_CP", 9},           {"PST_DP", 9},             {"ppawn_base", 10},
      {"ppawn_mobile", 10},   {"ppawn_free", 10},      {"candidate_passer", 10},  {"king_danger", 11},
      {"enemy_checks", 11},   {"hung_pawn", 12},       {"attacked_pawn", 12},     {"hung_minor", 12},
      {"attacked_minor", 12}, {"hung_major", 12},      {"pinned_piece", 12}};
  Table expected = defaults;
  for (auto [pattern, g] : order)
    for (auto& e : expected)
      if (std::strstr(e.name, pattern)) {
        e.mg = static_cast<float>(static_cast<double>(e.mg) * p[g][0] * 0.01);
        e.eg = static_cast<float>(static_cast<double>(e.eg) * p[g][1] * 0.01);
        e.packed = pack(roundHalfAway(e.mg), roundHalfAway(e.eg));
      }
  eval::init_eval_params(p, nullptr);
  int scaled = 0;
  for (int i = 0; i < kParamCount; ++i) {
    EXPECT_EQ(evalParams[i].mg, expected[i].mg) << expected[i].name << " " << i;
    EXPECT_EQ(evalParams[i].eg, expected[i].eg) << expected[i].name << " " << i;
    EXPECT_EQ(evalParams[i].packed, expected[i].packed) << expected[i].name << " " << i;
    scaled += evalParams[i].packed != defaults[i].packed;
  }
  EXPECT_GT(scaled, 600);
  // Never scaled, whatever the percentages.
  for (const char* name : {"pawn_isolated", "pawn_weak", "pawn_blocked", "pawn_doubled", "ppawn_fkdist", "ppawn_ekdist",
                           "ppawn_connected", "rook_openfile", "rook_7th", "pawn_shield", "king_trapped",
                           "king_pawn_dist", "ppush_threat", "bishop_rampawns", "stm_bonus", "PST_K", "knight_trapped"}) {
    int i = firstIndexOf(name);
    EXPECT_EQ(evalParams[i].packed, defaults[i].packed) << name;
  }
  // Half away from zero: -10.5 becomes -11.
  p = evaltest::neutralPersonality();
  p[11] = {50, 50};
  eval::init_eval_params(p, nullptr);
  expectEntry(firstIndexOf("king_danger1"), -95, 4, "king_danger1 at half");
  EXPECT_EQ(evalParams[firstIndexOf("king_danger2")].packed, pack(-37, 2));  // -36.5, 1.5
  EXPECT_EQ(evalParams[firstIndexOf("enemy_checks")].packed, pack(-15, -11));  // -14.5, -10.5
}
