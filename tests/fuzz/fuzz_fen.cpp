// Fuzzes FEN input. Whatever setFromFen accepts must be a sound position:
// its FEN reads back to itself, every legal move makes and unmakes with
// matching keys, move texts parse back to their move, and perft agrees with
// a plain generate-and-test count.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "board/attacks.h"

using namespace board;

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
  fprintf(stderr, "fuzz_fen: %s: %s\n", what, detail.c_str());
  abort();
}

void check(bool ok, const char* what, const Position& pos) {
  if (!ok) fail(what, positionToFen(pos, true));
}

bool samePosition(const Position& a, const Position& b) {
  return a.board == b.board && a.pieces == b.pieces && a.key == b.key && a.pawnKey == b.pawnKey &&
         a.materialSignature == b.materialSignature && a.pieceMaterial == b.pieceMaterial &&
         a.sideToMove == b.sideToMove && a.rule50 == b.rule50 && a.castleRights == b.castleRights &&
         a.epSquare == b.epSquare && a.kingSquare == b.kingSquare;
}

bool keysMatch(const Position& pos) {
  Position fresh = pos;
  computeKeys(fresh);
  return fresh.key == pos.key && fresh.pawnKey == pos.pawnKey;
}

// Leaf count by generating everything and testing each move with isLegal.
uint64_t plainPerft(Position& pos, int depth) {
  if (depth == 0) return 1;
  MoveEntry list[kMaxMoves];
  MoveEntry* end = generateAll(pos, list);
  uint64_t nodes = 0;
  for (MoveEntry* e = list; e != end; ++e) {
    if (!isLegal(pos, pos.sideToMove, e->move)) continue;
    makeMove(pos, e->move);
    nodes += plainPerft(pos, depth - 1);
    unmakeMove(pos);
  }
  return nodes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  initAttackTables();
  initZobristKeys();
  // Rejections print a line each; keep the fuzzer's own report readable.
  int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2048) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  static UndoHistory history, history2;
  platform::uci_mode = 1;

  Position pos{};
  pos.owner = &history;
  int code = setFromFen(pos, text);
  if (code == kFenRejected) return 0;
  check(code == kFenOk || code == kFenCastlingFixed, "unknown result code", pos);
  check(validatePosition(pos).empty(), "accepted an unsound position", pos);
  check(keysMatch(pos), "keys after setup", pos);
  check(history.undoCount == 0, "history not reset", pos);

  // FEN output reads back to the same position.
  const std::string fen = positionToFen(pos, false);
  Position again{};
  again.owner = &history2;
  if (setFromFen(again, fen) != kFenOk) fail("own FEN not accepted", fen);
  if (!samePosition(pos, again) || positionToFen(again, false) != fen) fail("FEN round trip", fen);

  MoveEntry list[kMaxMoves];
  MoveEntry* end = generateAll(pos, list);
  check(end - list < kMaxMoves && end->move == kEndOfList, "move list bounds", pos);
  const int us = pos.sideToMove;
  int legal = 0;
  for (MoveEntry* e = list; e != end; ++e) {
    const Move m = e->move;
    if (!isLegal(pos, us, m)) continue;
    ++legal;

    // Both texts of the move name it and nothing else.
    SanTexts texts;
    moveToSan(pos, m, texts);
    Move parsed = kNoMove;
    if (!parseMove(pos, texts.san, parsed) || parsed != m) fail("SAN does not parse back", fen + " " + texts.san);
    const std::string coordinate = moveToText(m);
    if (!parseMove(pos, coordinate, parsed) || parsed != m) fail("coordinate does not parse back", fen + " " + coordinate);

    const Position before = pos;
    const UndoHistory counters = history;
    makeMove(pos, m);
    check(keysMatch(pos), "keys after makeMove", pos);
    check(validatePosition(pos).empty(), "unsound after a legal move", pos);
    check(!isAttacked(pos, pos.kingSquare[us], us ^ 1), "legal move leaves the king attacked", pos);
    unmakeMove(pos);
    check(samePosition(pos, before), "unmakeMove does not restore", pos);
    check(history.undoCount == counters.undoCount && history.ply == counters.ply, "history counters", pos);
  }
  MoveEntry legalList[kMaxMoves];
  check(generateLegal(pos, legalList) == legal, "generateLegal count", pos);

  const uint64_t fast = perft(pos, 2);
  const uint64_t plain = plainPerft(pos, 2);
  if (fast != plain) fail("perft 2 disagrees", fen + " " + std::to_string(fast) + " vs " + std::to_string(plain));
  check(keysMatch(pos), "keys after perft", pos);
  return 0;
}
