// Search trace for the console "trace" command: the tree of the first plies,
// one line per path, written to "trace.txt".
#include <algorithm>
#include <cstdio>

#include "platform/output.h"
#include "protocol/protocol.h"

namespace protocol {

namespace {

int traceLimit = 0;
FILE* traceFile = nullptr;
int lastPly = 0;
int lastDepth = -1;

void traceMove(const board::Position& pos, board::Move move) {
  search::SearchThread* t = search::threads[0];
  // Only the main search thread traces.
  if (!t || pos.owner != &t->history || !traceLimit) return;
  if (!traceFile) {
    traceFile = fopen("trace.txt", "w");
    if (!traceFile) {
      platform::output_line("cannot create trace.txt; trace switched off");
      setTraceLimit(0);
      return;
    }
  }
  const int ply = t->history.ply;
  if (ply > traceLimit || ply < 1 || ply >= search::kStackSize) return;
  const int depth = t->threadIterationDepth.load(std::memory_order_relaxed);
  if (depth > lastDepth) fprintf(traceFile, "\n\nSEARCH DEPTH= %d\n", depth);
  if (ply <= lastPly) {
    fputc('\n', traceFile);
    for (int i = 1; i < ply; ++i) fputs("         ", traceFile);
  }
  fprintf(traceFile, "(%2d)%s ", t->stack[ply].depth, move ? board::moveToText(move).c_str() : "null");
  lastPly = ply;
  lastDepth = depth;
}

}  // namespace

void setTraceLimit(int plies) {
  traceLimit = std::clamp(plies, 0, 127);
  board::moveTraceHook = traceLimit ? traceMove : nullptr;
  if (!traceLimit && traceFile) {
    fclose(traceFile);
    traceFile = nullptr;
  }
  lastPly = 0;
  lastDepth = -1;
}

}  // namespace protocol
