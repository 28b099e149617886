// The per-thread search record with its per-ply stack, the thread slots, the
// game record (a record of the same layout), and the thread entry points.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "board/board.h"
#include "eval/eval.h"
#include "platform/platform.h"
#include "search/control.h"

namespace search {

using board::Bitboard;
using board::MoveEntry;

constexpr int kPlyListCapacity = 320;  // move-list room per ply
constexpr int kMaxThreads = 160;

// Picker modes and stages.
enum PickMode : uint8_t { kPickMain, kPickPerft, kPickQuiesce0, kPickQuiesceDeep };
enum PickStage : uint8_t {
  kStageTT, kStageGenCaptures, kStageGoodCaptures, kStageGenQuiets, kStageSorted, kStageUnsorted,
  kStageQuiesceCaptures, kStageGenChecks, kStageChecks, kStageDone
};

// Thread 0's aspiration state, which the time check reads.
enum FailState : int { kNotFailing = 0, kFailingLow = 1, kFailingHigh = 2 };

struct StackEntry {
  int16_t depth;  // after extension (the console trace shows it)
  int16_t staticEval;
  int16_t inCheck;
  uint8_t iidActive;
  uint8_t reSearching;
  uint16_t moveClass;
  int16_t threat[2];
  int16_t movesSearched;
  int32_t tbResult;  // the node's tablebase result, -1 for none
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
  bool threadLineShowable;  // false: a mate score whose line could not be run to the mate
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

// The Threads option in force (set between searches).
extern int threadCount;
// Slots are filled by the threads themselves while others read them.
extern std::array<std::atomic<SearchThread*>, kMaxThreads> threads;

// The master runs thread 0 and starts, joins and releases the others.
int prepareThread(int index);
int startSearchThread(uint8_t state);
// Runs thread 0's search on the calling thread (benchmark on the main thread).
void runMainThreadSearch();
void waitForSearchEnd();
// One search for a tool (state 5), run to its end on the search threads while
// the calling thread keeps the time check and reads input ("stop", "quit").
void runToolSearch(const SearchLimits& limits, const SearchSettings& settings, InputPoll pollInput,
                   bool yieldBetweenChecks);
void releaseThreads();

// The game record (game.cpp): a thread-shaped record holding the game
// position and history, which every search copies.
using GameRecord = SearchThread;
// Past this length of game history the oldest plies are dropped; the
// repetition test never looks further back than the fifty-move counter, so
// those are kept. A loaded game stops short of it so that it stays whole.
constexpr int kGameHistoryPlies = 512;
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

}  // namespace search
