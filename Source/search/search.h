// Search: thread records, the shared control record, and the entry points of
// the transposition table, move picker, node search, driver, time management,
// threads and selectivity.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "board/board.h"
#include "eval/eval.h"
#include "platform/platform.h"
#include "search/limits.h"

namespace search {

using board::Bitboard;
using board::Move;
using board::MoveEntry;
using board::Position;

constexpr int kInfinity = 10001;
constexpr int kMateValue = 10000;
constexpr int kStackSize = 70;       // plies 0..69; the root is ply 1
constexpr int kPlyListCapacity = 320;  // move-list room per ply
constexpr int kMaxThreads = 160;

// ---------------------------------------------------------------- per ply

// Picker modes and stages (kept together in pickMode).
enum PickMode : uint8_t { kPickMain, kPickPerft, kPickQuiesce0, kPickQuiesceDeep };
enum PickStage : uint8_t {
  kStageTT, kStageGenCaptures, kStageGoodCaptures, kStageGenQuiets, kStageSorted, kStageUnsorted,
  kStageQuiesceCaptures, kStageGenChecks, kStageChecks, kStageDone
};

struct StackEntry {
  int16_t nodeType;
  int16_t depth;
  int16_t staticEval;
  int16_t alpha, beta;
  int16_t inCheck;
  uint8_t reduction;
  uint8_t iidActive;
  uint8_t reSearching;
  uint16_t moveClass;
  int16_t threat[2];
  int16_t movesSearched;
  int32_t tbResult;
  Move ttMove, killer1, killer2, evasionKiller;
  uint8_t checker;
  PickMode pickMode;
  PickStage stage;
  MoveEntry* listStart;  // this ply's list
  MoveEntry* current;    // next entry to consider
  MoveEntry* listEnd;    // terminator slot
  MoveEntry ttEntry;     // the table move handed out first
  Move currentMove;      // move being searched from this node (0 = null move)
  uint8_t currentPiece;  // its piece code
};

// ---------------------------------------------------------------- threads

struct SearchThread {
  board::UndoHistory history;  // the game-plus-search line and its counters
  std::array<StackEntry, kStackSize> stack;
  std::array<std::array<MoveEntry, kPlyListCapacity>, kStackSize> moveLists;
  int16_t historyTable[8][16][64];
  Move counterMove1[16][64];
  Move counterMove2[16][64];
  Move followUpMove[16][64];
  eval::EvalState evalState;
  Position position;
  Move pv[kStackSize + 1][kStackSize + 1];  // pv[ply][ply..] is the line found at ply
  Move threadLine[kStackSize];
  std::array<MoveEntry, 256> rootMoves;
  int rootMoveCount;
  uint8_t threadIndex;
  std::atomic<int> threadIterationDepth;
  std::atomic<int> threadCompletedDepth;
  std::atomic<int> threadBestScore;
  std::atomic<int> failState;
  int selDepth;
  uint32_t seed;
  Move threadBestMove;
  uint64_t nodeLimit;
  std::atomic<uint64_t> nodes;
  platform::RelaxedCounter tbHits;
  platform::RelaxedCounter ttProbes, ttHits;
  std::array<platform::RelaxedCounter, 4> nodeTypeCount;
};

// ---------------------------------------------------------------- control

constexpr float kNoDeadline = 1e30f;

// Shared control state: written by the command loop and thread 0, read by all.
struct SearchControl {
  // Written by thread 0 while the command loop's time check reads them.
  Move best_line[kStackSize];
  std::atomic<int> best_score;
  std::atomic<int> iteration_depth;
  std::atomic<int> completed_depth;
  std::atomic<int> best_change_depth;
  std::atomic<bool> one_reply;
  std::atomic<int> score_history[kStackSize];
  float last_iteration_time;
  int last_iteration_depth;
  uint64_t nodes_by_depth[kStackSize];
  std::atomic<int> root_tb_result;
  float hashfull;
  uint64_t total_nodes;
  uint64_t total_tbhits;
  uint64_t total_evals, total_eval_hits, total_pawn_probes, total_pawn_hits, total_tt_probes, total_tt_hits;
  uint64_t node_type_count[4];
  int sel_depth;
  double clock_start;
  std::atomic<float> elapsed;
  float target_time;
  // The clock-game search stops here whatever its state (seconds of elapsed;
  // kNoDeadline for fixed-time, depth, node and analysis searches).
  std::atomic<float> hard_deadline{kNoDeadline};
  float move_overhead;
  bool ponder_enabled;
  int multi_pv;
  int root_side;
  Move book_move;
};

extern SearchControl control;
extern std::atomic<uint8_t> search_state;
extern std::atomic<uint8_t> stop_requested;
extern std::atomic<uint8_t> quit_requested;
extern SearchLimits limits;
extern double noise;     // seconds before search output starts; 9999 = never
extern int eval_mode;    // 0 hand-crafted, 1 network, 2 training, 3 EPD dump
extern double calibration_nps;
extern float max_elo;
extern int threadCount;  // Threads option in force
extern bool nnNoise;     // the network adds its small jitter in this search

enum SearchState : uint8_t { kIdle = 0, kGoReceived = 1, kGoPonderReceived = 2, kSearching = 3, kPondering = 4,
                             kToolSearch = 5, kFinishedFlag = 16 };

extern std::mutex infoLock;
extern std::mutex statsLock;

// The game record: a thread-shaped record holding the game position and history.
using GameRecord = SearchThread;
extern SearchThread* game;
// Made once at start-up (false when there is no memory for it), freed at exit.
bool createGameRecord();
void releaseGameRecord();
Position& gamePosition();
void setStartPosition();
// Sets the game position from FEN and says why a text is refused or changed
// ("Illegal EPD - ..."); returns setFromFen's code.
int setGameFen(const std::string& fen);
// Makes a move on the game record, keeping the history bounded.
void playGameMove(Move move);
// The legal move written in coordinate form (with promotion letter), or 0.
Move findCoordinateMove(const std::string& token);
// Slots are filled by the threads themselves while others read them.
extern std::array<std::atomic<SearchThread*>, kMaxThreads> threads;

// ---------------------------------------------------------------- table

void initSearchTables();

// ttable.cpp
struct HashProbe {
  Move move;
  int score;
  int depth;
  int bound;
};
constexpr int kBoundUpper = 1, kBoundLower = 2, kBoundExact = 3;
extern uint8_t ttEnabled;
extern int hashMb;
extern uint16_t ttAge;
// 1 when a table of that size is in place; 0 when the machine cannot give it:
// the previous size (or the largest smaller one available) stays in use,
// hashMb tells which, and a line says so.
int ttAllocate(int megabytes);
// Gives the table back (at exit).
void ttRelease();
void ttClear();
bool ttProbe(const Position& pos, HashProbe& out);
void ttStore(const Position& pos, int ply, int depth, Move move, int score, int alpha, int beta);
int ttHashfull();
void ttNewSearch();
uint64_t ttEntryCount();
// Starts loading the bucket of key, ahead of the probe at the child node.
void ttPrefetch(uint64_t key);

// picker.cpp
extern std::array<int32_t, kStackSize> historyWeight;
extern const std::array<int16_t, 8> mvvScore;
extern const std::array<int16_t, 8> exchangeRank;
void startPicker(SearchThread& t, int ply, PickMode mode);
MoveEntry* pickNextMove(SearchThread& t, int ply);
void updateQuietStats(SearchThread& t, int ply, Move move, int piece, int depth, int score, int alpha);
void resetThreadTables(SearchThread& t);
// Type of the piece that made the move into this ply (0 after a null move or at the root).
int previousMoverType(const SearchThread& t, int ply);

// nodesearch.cpp / quiesce.cpp
int search(SearchThread& t, int ply, int depth, int alpha, int beta, int nodeType);
int quiesce(SearchThread& t, int ply, int depth, int alpha, int beta, int nodeType);
int moveClassOf(const Position& pos, Move move);
// The capture or quiet piece move loses more than 70 by exchange (pawn en
// passant excepted): pruned or reduced further by the searches.
bool failsExchange(const Position& pos, Move move);
// pv[ply][ply + 1..] = the child's line (up to its 0).
void copyChildLine(SearchThread& t, int ply);
int staticEvaluation(SearchThread& t, int ply, bool inCheck);

// driver.cpp
void rootSearch(SearchThread& t);
void reportSearchInfo(SearchThread& t, int lineNumber, int depth, int score, const Move* line);
void reportFinalInfo(int lineNumber, int depth, int score, const Move* line);
double effectiveBranchingFactor();
void sumThreadCounters();
std::string lineText(const Move* line, int maxMoves);

// timeman.cpp
void resetClock();
float updateElapsed();
void prepareSearch();
void checkTime();
// The pondered move was played: the clock the deadline guards starts now.
void startClockAtPonderhit();
// Thread 0 between time checks: the deadline holds even when the thread
// running the time check is not scheduled in time.
void checkDeadline();

// threads.cpp
int prepareThread(int index);
int startSearchThread(uint8_t state);
// Runs thread 0's search on the calling thread (benchmark on the main thread).
void runMainThreadSearch();
void waitForSearchEnd();
// Reads and runs waiting commands while a tool search runs.
using InputPoll = void (*)();
// One search for a tool (state 5), run to its end on the search threads while
// the calling thread keeps the time check and reads input ("stop", "quit").
void runToolSearch(InputPoll pollInput, bool yieldBetweenChecks);
void releaseThreads();

// selectivity.cpp
struct Selectivity {
  int BP_margin = 15;
  int FP_depth = 3, SEP_depth = 3, NMP_depth = 3, LMP_depth = 6, LMR_depth = 3;
  int16_t FP_margin[12] = {}, SEP_margin[12] = {}, LMP_count[12] = {};
  float LMR_table[32][32] = {};
  int builtFor = -1;
};
extern Selectivity sel;
extern bool limit_active;
void applySelectivity();
void printSelectivity();
void strengthFromElo();
void throttle(SearchThread& t);

// The user-settable options, held twice: the live record every part reads,
// and the saved record that "uci" lists.
struct EngineOptions {
  int16_t rebuild = 1;  // reload the evaluation weights at the next search start
  int32_t Hash = 64;
  int16_t Threads = 1;
  int16_t MoveOverhead = 50;
  int16_t Ponder = 1;
  int16_t MultiPV = 1;
  int16_t UCI_LimitStrength = 0;
  int16_t UCI_Elo = 0;
  int16_t Log = 0;
  int16_t OwnBook = 0;
  int16_t OwnBook_Variety = 25;
  int16_t OwnBook_Depth = 24;
  int16_t OwnBook2_Depth = 0;
  int16_t evalNoise = 0;
  std::string paramFile = "params.txt";
  std::string NN_file = "nn.bin";
  std::string ConfigFilePath;
  std::string OwnBook_File;
  std::string OwnBook2_File;
  std::string SyzygyPath;
  int16_t minProbeDepth = 0;
  int16_t SyzygyProbeDepth6 = 1;
  int16_t Contempt = 0;
  int16_t Selectivity = 100;
  // Pruning settings: (unused), SEP_depth, SEP_step, NMP_depth, FP_depth,
  // FP_step, LMP_depth, LMP_step, LMR_depth.
  std::array<int16_t, 9> personality = {0, 3, 75, 3, 3, 125, 6, 3, 3};
  eval::Personality personalityPercent = [] {
    eval::Personality p{};
    for (auto& pair : p) pair = {100, 100};
    return p;
  }();
};
enum PersonalityIndex { kSEP_depth = 1, kSEP_step, kNMP_depth, kFP_depth, kFP_step, kLMP_depth, kLMP_step, kLMR_depth };

extern EngineOptions live_options;
extern EngineOptions saved_options;

}  // namespace search
