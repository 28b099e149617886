// Syzygy endgame tablebases: the registry of table files found in the
// SyzygyPath directories, and the win/draw/loss and distance-to-zero probes
// the search and the root use.
#pragma once

#include <cstdint>
#include <string>

#include "board/board.h"

namespace syzygy {

// The probe layer's own compact position: colour and kind sets, squares as
// on the board; turn 1 = White to move; ep 0 = none.
struct TbPosition {
  uint64_t white, black, kings, queens, rooks, bishops, knights, pawns;
  uint8_t rule50, ep, turn;
};

// Bits 0..5 destination, 6..11 origin, 12..14 promotion piece.
using TbMove = uint16_t;
constexpr int kTbPromoQueen = 1, kTbPromoRook = 2, kTbPromoBishop = 3, kTbPromoKnight = 4;
constexpr TbMove makeTbMove(int from, int to, int promo = 0) {
  return static_cast<TbMove>(to | (from << 6) | (promo << 12));
}
constexpr int tbFrom(TbMove m) { return (m >> 6) & 63; }
constexpr int tbTo(TbMove m) { return m & 63; }
constexpr int tbPromo(TbMove m) { return (m >> 12) & 7; }
constexpr int kTbMaxMoves = 256;

// Results as the entry points give them: WDL + 2.
enum TbResult : int { kTbLoss = 0, kTbBlessedLoss = 1, kTbDraw = 2, kTbCursedWin = 3, kTbWin = 4 };

// The largest number of men of any registered table (0: nothing is probed).
// Written only while no search runs.
extern int largestTable;

// (Re)initialises from a path of directories separated by ':' or ';' ("" or
// "<empty>" registers nothing); prints "info string found %d tablebases"
// unless nothing was asked for. Must not run while a search probes.
int initTablebases(const std::string& path);
// Number of registered tables, and of keys they are found by (a table of
// symmetric material has one).
int tableCount();
int registeredKeys();

// 0..4 or -1 when the search should not or cannot probe here.
int probeWdlInSearch(const board::Position& pos, int depth, int minDepth, int probeDepth6);
// The root's category 0..4 with the chosen move and its distance, or -1.
// Uses the distance-to-zero tables: call only from one thread at a time.
int probeRoot(const board::Position& pos, int& category, int& distance, board::Move& move);

// success 0: unknown (table missing or unreadable).
int probeWdl(const TbPosition& pos, int& success);
int probeDtz(const TbPosition& pos, int& success);

TbPosition toTbPosition(const board::Position& pos, bool keepRule50);
uint64_t materialKey(const TbPosition& pos, bool mirror);
// Pseudo-legal moves without castling (a promotion four times: queen,
// knight, rook, bishop); captures, en passant and promotions only.
TbMove* tbGenerateMoves(const TbPosition& pos, TbMove* out);
TbMove* tbGenerateCaptures(const TbPosition& pos, TbMove* out);
// 1 when move is legal; the successor is written to to.
int tbMakeMove(const TbPosition& from, TbPosition& to, TbMove move);
// Structural check: one king each, sets disjoint, no pawn on the first or
// last rank, the side not to move not in check.
bool tbPositionValid(const TbPosition& pos);

}  // namespace syzygy
