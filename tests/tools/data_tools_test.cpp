// The PGN scanner and the tuning-data generator, run as the binary runs them,
// with the written lines checked by a reader of their own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "protocol/engine_process.h"
#include "test_util.h"
#include "tools/tools.h"

using testutil::EngineProcess;
using testutil::TempDir;

namespace {

std::string dataFile(const char* name) { return std::string(VESK_TEST_DATA) + "/" + name; }

std::vector<std::string> fileLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::string fourFields(const std::string& fen) {
  std::istringstream in(fen);
  std::string a, b, c, d;
  in >> a >> b >> c >> d;
  return a + " " + b + " " + c + " " + d;
}

// The scores a game collection's comments give, keyed by the position before
// the move, read without the scanner: cutechess "+0.45/18", TCEC "wv=0.43",
// "book". Also the result of each position's game from white's view.
struct SourceScores {
  std::map<std::string, std::set<int>> scores;
  std::map<std::string, std::set<double>> whiteResults;
};

int expectedScore(const std::string& comment, bool black) {
  if (comment.find("book") != std::string::npos) return 0;
  double pawns;
  if (size_t wv = comment.find("wv="); wv != std::string::npos) {
    if (comment.compare(wv + 3, 1, "M") == 0) return black ? -9000 : 9000;
    pawns = std::stod(comment.substr(wv + 3));
    return static_cast<int>(std::lround(pawns * 100)) * (black ? -1 : 1);
  }
  std::istringstream in(comment);
  std::string word;
  in >> word;
  const size_t slash = word.find('/');
  if (slash == std::string::npos || slash < 2) return tools::kNoCommentScore;
  return static_cast<int>(std::lround(std::stod(word.substr(0, slash)) * 100));
}

SourceScores readSource(const std::string& path) {
  testutil::initTables();
  SourceScores out;
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  testutil::Board board;
  double whiteResult = 0.5;
  std::string lastFen;
  bool black = false, haveMove = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '[') {
      const size_t end = text.find('\n', i);
      const std::string tag = text.substr(i, end - i);
      if (tag.rfind("[Event ", 0) == 0) board.set(board::kStartFen), haveMove = false;
      if (tag.rfind("[Result ", 0) == 0)
        whiteResult = tag.find("\"1-0\"") != std::string::npos ? 1 : tag.find("\"0-1\"") != std::string::npos ? 0 : 0.5;
      i = end;
    } else if (text[i] == '{') {
      const size_t end = text.find('}', i);
      if (haveMove) out.scores[lastFen].insert(expectedScore(text.substr(i + 1, end - i - 1), black));
      i = end;
    } else if (isalpha(static_cast<unsigned char>(text[i]))) {
      size_t end = i;
      while (end < text.size() && !isspace(static_cast<unsigned char>(text[end]))) ++end;
      board::Move m;
      if (board::parseMove(board.pos, text.substr(i, end - i), m) == board::kMoveRead) {
        lastFen = fourFields(board::positionToFen(board.pos, false));
        black = board.pos.sideToMove == board::kBlack;
        out.whiteResults[lastFen].insert(whiteResult);
        board::makeMove(board.pos, m);
        haveMove = true;
      }
      i = end;
    }
  }
  return out;
}

struct EpdLine {
  std::string fen;
  std::map<std::string, std::string> ops;
};

EpdLine splitEpd(const std::string& line) {
  EpdLine e;
  size_t pos = 0;
  for (int spaces = 0; pos < line.size(); ++pos)
    if (line[pos] == ' ' && ++spaces == 4) break;
  e.fen = line.substr(0, pos);
  std::istringstream rest(line.substr(pos));
  std::string op;
  while (std::getline(rest, op, ';')) {
    std::istringstream words(op);
    std::string code, value;
    words >> code;
    if (std::isdigit(static_cast<unsigned char>(code[0]))) words >> code >> code;  // the counters
    std::getline(words, value);
    if (!code.empty()) e.ops[code] = value.empty() ? value : value.substr(1);
  }
  return e;
}

int scanTo(const std::string& dir, const std::string& pgn, int variant, const std::string& out) {
  EngineProcess engine({"-scan_pgn" + std::to_string(variant), pgn, "-o", out}, dir);
  return engine.wait(60.0);
}

}  // namespace

// Every written line parses with our FEN reader and carries the score its
// source comment gives (variants 2 and 3) and its game's result (variant 2).
TEST(PgnScanner, WrittenLinesCarryTheirCommentScoresAndResults) {
  TempDir dir;
  for (const char* name : {"cutechess-40.pgn", "tcec-2.pgn"}) {
    const SourceScores source = readSource(dataFile(name));
    for (int variant : {2, 3}) {
      const std::string out = dir.file("v" + std::to_string(variant) + ".epd");
      ASSERT_EQ(scanTo(dir.path(), dataFile(name), variant, out), 0);
      int lines = 0;
      for (const std::string& line : fileLines(out)) {
        if (line.empty()) continue;
        ++lines;
        const EpdLine e = splitEpd(line);
        testutil::Board board;
        ASSERT_EQ(board.set(e.fen), board::kFenOk) << line;
        const std::string key = fourFields(e.fen);
        ASSERT_TRUE(source.scores.count(key)) << name << ": no scored move from " << line;
        EXPECT_TRUE(source.scores.at(key).count(std::stoi(e.ops.at("ce")))) << name << ": " << line;
        if (variant == 2) {
          const double gr = std::stod(e.ops.at("gr"));
          const double white = board.pos.sideToMove == board::kWhite ? gr : 1 - gr;
          EXPECT_TRUE(source.whiteResults.at(key).count(white)) << line;
        }
      }
      EXPECT_GT(lines, 150) << name << " variant " << variant;
    }
  }
}

TEST(PgnScanner, CommentForms) {
  EXPECT_EQ(tools::commentScore(" book ", false), 0);
  EXPECT_EQ(tools::commentScore("book, mb=+0+0,", true), 0);
  EXPECT_EQ(tools::commentScore(" +0.29/18 1.2s ", false), 29);
  EXPECT_EQ(tools::commentScore(" -1.16/4 0.74s ", true), -116);
  EXPECT_EQ(tools::commentScore(" +M12/30 1s ", false), tools::kCommentMateScore);
  EXPECT_EQ(tools::commentScore(" -M3/9 ", false), -tools::kCommentMateScore);
  EXPECT_EQ(tools::commentScore(" 1.2s ", false), tools::kNoCommentScore);
  EXPECT_EQ(tools::commentScore(" 0/1 ", false), tools::kNoCommentScore);  // the word is too short
  EXPECT_EQ(tools::commentScore("eval 35, depth 12", true), -35);
  EXPECT_EQ(tools::commentScore("eval , depth 12", false), tools::kNoCommentScore);
  EXPECT_EQ(tools::commentScore("d=28, wv=0.43, R50=50,", true), -43);
  EXPECT_EQ(tools::commentScore("d=30, wv=M16,", false), tools::kCommentMateScore);
  EXPECT_EQ(tools::commentScore(" +1e300/20 ", false), 29998);  // bounded, no overflow
}

TEST(PgnScanner, SkippedGamesDecidedGamesAndAnnotations) {
  TempDir dir;
  {
    std::ofstream pgn(dir.file("g.pgn"));
    // A lost-on-time game contributes nothing; comments, variations and NAGs
    // are not moves; variant 3 stops after the first score beyond 500.
    pgn << "[Event \"a\"]\n[Result \"0-1\"]\n[Termination \"time forfeit\"]\n\n"
           "1. e4 { +0.30/10 1s } e5 { -0.20/10 1s } 0-1\n\n"
           "[Event \"b\"]\n[Round \"2\"]\n[Result \"1-0\"]\n\n"
           "1. d4 { +0.10/10 } (1. e4 { +9.99/1 } e5) d5 $1 { -0.10/10 } 2. c4 { +6.00/12 } dxc4 { -5.00/12 }\n"
           "3. e3 { +5.00/12 } 1-0\n";
  }
  ASSERT_EQ(scanTo(dir.path(), "g.pgn", 3, dir.file("v3.epd")), 0);
  std::vector<int> ce;
  for (const std::string& line : fileLines(dir.file("v3.epd")))
    if (!line.empty()) ce.push_back(std::stoi(splitEpd(line).ops.at("ce")));
  EXPECT_EQ(ce, (std::vector<int>{10, -10, 600}));

  ASSERT_EQ(scanTo(dir.path(), "g.pgn", 1, dir.file("v1.txt")), 0);
  const auto lines = fileLines(dir.file("v1.txt"));
  auto has = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
  EXPECT_TRUE(has("[Tag \"game_1\"]"));
  EXPECT_TRUE(has("  1.  d4      {  0.10}"));
  EXPECT_TRUE(has("      dxc4    {  5.00}"));  // from white's view
  EXPECT_FALSE(has("  1.  e4      {  0.30}"));
}

// Truncated text, comments that never close, very long lines, NUL bytes, a
// game longer than the record: the scanner ends cleanly and writes sound lines.
TEST(PgnScanner, HostileInputEndsCleanly) {
  TempDir dir;
  {
    std::ofstream pgn(dir.file("bad.pgn"), std::ios::binary);
    pgn << "[Event \"long\"]\n[Result \"1/2-1/2\"]\n\n";
    for (int i = 0; i < 250; ++i) pgn << "Nf3 { +0.10/5 } Nf6 { -0.10/5 } Ng1 { +0.10/5 } Ng8 { -0.10/5 } ";
    pgn << "\n[Event \"wide\"]\n[Result \"1-0\"]\n\n1. e4 { +0.30/9 " << std::string(100000, 'x') << " }\n";
    pgn << std::string(100000, 'e') << "\n";
    pgn << "[Event \"nul\"]\n[Result \"1-0\"]\n\n1. d4 { +0.2" << '\0' << "/9 } d5 { never closed\n";
    pgn << "[Event \"cut\"]\n[Result \"0-1\"]\n\n1. c4 { +0.2/9 } c5 { -0.1/9 } 2. Nc";
  }
  for (int variant = 1; variant <= 4; ++variant) {
    EngineProcess engine({"-scan_pgn" + std::to_string(variant), "bad.pgn", "-o", "out.epd"}, dir.path());
    ASSERT_EQ(engine.wait(60.0), 0) << engine.transcript();
    EXPECT_NE(engine.transcript().find("games= 4,"), std::string::npos) << engine.transcript();
    if (variant == 1) continue;
    for (const std::string& line : fileLines(dir.file("out.epd"))) {
      if (line.empty()) continue;
      testutil::Board board;
      EXPECT_EQ(board.set(splitEpd(line).fen), board::kFenOk) << line.substr(0, 200);
    }
  }
}

// Random damage to a scored game collection, scanned in this process (so the
// sanitizer builds see inside): no crash, and every line still parses.
TEST(PgnScanner, DamagedCollectionsScanSafely) {
  testutil::initTables();
  TempDir dir;
  std::ifstream in(dataFile("cutechess-40.pgn"), std::ios::binary);
  std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  source.resize(20000);
  std::mt19937 rng(7);
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  ASSERT_EQ(chdir(dir.path().c_str()), 0);  // the scanner writes its side file here
  const int rounds = testutil::kSanitized ? 20 : 60;
  for (int round = 0; round < rounds; ++round) {
    std::string text = source;
    const int edits = 1 + static_cast<int>(rng() % 40);
    for (int e = 0; e < edits; ++e) {
      const size_t at = rng() % text.size();
      switch (rng() % 4) {
        case 0: text[at] = static_cast<char>(rng()); break;
        case 1: text.erase(at, rng() % 200); break;
        case 2: text.insert(at, std::string(1 + rng() % 3, "{}()[]\"/;%\n"[rng() % 11])); break;
        default: text.insert(at, text.substr(rng() % text.size(), rng() % 500)); break;
      }
      if (text.empty()) text = "e4";
    }
    std::ofstream(dir.file("d.pgn"), std::ios::binary) << text;
    const int variant = 1 + round % 4;
    {
      testutil::StdoutCapture quiet;
      ASSERT_EQ(tools::scan_pgn("d.pgn", "d.epd", variant), 0);
    }
    if (variant == 1) continue;
    for (const std::string& line : fileLines(dir.file("d.epd"))) {
      if (line.empty()) continue;
      testutil::Board board;
      ASSERT_EQ(board.set(splitEpd(line).fen), board::kFenOk) << "round " << round << ": " << line;
    }
  }
  ASSERT_EQ(chdir(cwd), 0);
}

// Lines against their game result, "sc" against the EPD runner's own score at
// the same depth, and a refused position that ends the run.
TEST(TuningData, FiltersScoresAndStopsAtARefusedPosition) {
  TempDir dir;
  {
    std::ofstream epd(dir.file("in.epd"));
    epd << "# comment\n"
           "r2qkbnr/1pp2ppp/p1p5/4p3/4P1b1/3P1N2/PPP2PPP/RNBQ1RK1 b kq - ce -22; gr 0.5;\n"
           "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - ce -200; gr 1.0;\n"  // contradicts its result
           "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - ce 30; gr 0.5;\n"
           "rnbqkbnr/pppp1ppp/8/4p3/6P1/5P2/PPPPP2P/RNBQKBNR b KQkq - ce 0; gr 0.5;\n"  // a mate is found
           "3k4/8/8/8/8/8/8/4K2R w K - ce 500; gr 1.0;\n"
           "8/8/8/8/8/8/8/8 w - - ce 0; gr 0.5;\n"
           "4k3/8/8/8/8/8/8/4K2R w K - ce 500; gr 1.0;\n";
  }
  EngineProcess tune({"-mktune2", "in.epd", "-o", "out.epd", "-d", "4"}, dir.path());
  ASSERT_EQ(tune.wait(60.0), 1) << tune.transcript();
  EXPECT_NE(tune.transcript().find("8/8/8/8/8/8/8/8 w - - ce 0; gr 0.5;"), std::string::npos) << tune.transcript();
  std::vector<EpdLine> written;
  for (const std::string& line : fileLines(dir.file("out.epd"))) written.push_back(splitEpd(line));
  ASSERT_EQ(written.size(), 3u) << tune.transcript();
  EXPECT_EQ(written[0].fen, "r2qkbnr/1pp2ppp/p1p5/4p3/4P1b1/3P1N2/PPP2PPP/RNBQ1RK1 b kq -");
  EXPECT_EQ(written[1].fen, "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq -");
  EXPECT_EQ(written[2].fen, "3k4/8/8/8/8/8/8/4K2R w K -");
  EXPECT_EQ(written[2].ops.at("gr"), "1.0");

  EngineProcess runner({"-use_hce", "-anepd", "in.epd", "-o", "runner.epd", "-d", "4"}, dir.path());
  ASSERT_EQ(runner.wait(60.0), 0) << runner.transcript();
  std::map<std::string, std::string> runnerScore;
  for (const std::string& line : fileLines(dir.file("runner.epd"))) {
    const EpdLine e = splitEpd(line);
    runnerScore[e.fen] = e.ops.count("sc") ? e.ops.at("sc") : "";
  }
  for (const EpdLine& e : written) EXPECT_EQ(e.ops.at("sc"), runnerScore[e.fen]) << e.fen;
}

// A tablebase win lifts the search score to the table's win band.
TEST(TuningData, TablebaseResultCorrectsTheScore) {
  TempDir dir;
  std::ofstream(dir.file("in.epd")) << "8/8/8/8/8/2k5/8/K6Q w - - ce 500; gr 1.0;\n";
  EngineProcess tune({"-tbpath", dataFile("syzygy"), "-mktune2", "in.epd", "-o", "out.epd", "-d", "4"}, dir.path());
  ASSERT_EQ(tune.wait(60.0), 0) << tune.transcript();
  const auto lines = fileLines(dir.file("out.epd"));
  ASSERT_EQ(lines.size(), 1u) << tune.transcript();
  EXPECT_EQ(splitEpd(lines[0]).ops.at("sc"), "9800") << lines[0];
}
