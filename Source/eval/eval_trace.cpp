// The printed breakdown of one hand-crafted evaluation.
#include <cstdio>
#include <cstring>
#include <string>

#include "board/attacks.h"
#include "eval/eval.h"
#include "platform/output.h"

namespace eval {

using namespace board;

namespace {

using platform::appendFormat;

void appendSquares(std::string& out, const char* title, Bitboard set) {
  if (!set) return;
  out += title;
  for (Bitboard b = set; b;) appendFormat(out, " %s", squareName(popLowest(b)));
  out += '\n';
}

}  // namespace

void printTrace(const Position& pos, const EvalInfo& info, float scale) {
  const float w = info.endgameWeight;
  std::string out = "           white  black    pos    mtl\n";
  static constexpr const char* kLabels[kTraceGroups] = {"pawns:", "knights:", "bishops:", "rooks:",   "queens:",
                                                        "king:",  "ppawns:",  "threats:", "special:"};
  for (int g = 0; g < kTraceGroups; ++g) {
    int white = blend(info.traceDelta[g][0], w), black = blend(info.traceDelta[g][1], w);
    int material = 0;
    if (g <= kTraceQueens) {
      // Groups of piece types carry their material; show it apart.
      int shift = 4 * g;
      int mtlW = blend(((pos.materialSignature[0] >> shift) & 15) * param(kMtlPawn + g), w);
      int mtlB = blend(((pos.materialSignature[1] >> shift) & 15) * param(kMtlPawn + g), w);
      white -= mtlW;
      black -= mtlB;
      material = mtlW - mtlB;
    }
    appendFormat(out, "%-10s  %4d   %4d   %4d   %4d\n", kLabels[g], white, black, white - black, material);
  }
  appendSquares(out, "hung pieces on: ", info.hung);
  appendSquares(out, "free pawns on: ", info.freePassers);
  int eval = static_cast<int>(blend(info.score[0] - info.score[1], w) * static_cast<double>(scale));
  if (pos.sideToMove == kBlack) eval = -eval;
  appendFormat(out, "eval= %d, phase= %0.2f, sf= %0.2f, rule50= %d\n\n", eval, w, scale, pos.rule50);

  if (info.trace >= 2) {
    for (const EvalParam& e : evalParams)
      if (!strstr(e.name, "PST_")) appendFormat(out, "%-22s  %4d , %4d\n", e.name, mgOf(e.packed), egOf(e.packed));
    static constexpr struct {
      const char* title;
      int index;
    } kTables[] = {{"Pawn1", kPstP1},   {"Pawn2", kPstP2},   {"Connected Pawn", kPstCP}, {"Defended Pawn", kPstDP},
                   {"Knight1", kPstN1}, {"Knight2", kPstN2}, {"Bishop1", kPstB1},        {"Bishop2", kPstB2},
                   {"Rook1", kPstR1},   {"Rook2", kPstR2},   {"Queen1", kPstQ1},         {"Queen2", kPstQ2},
                   {"King", kPstK}};
    for (const auto& t : kTables) {
      out += t.title;
      out += '\n';
      for (int rank = 7; rank >= 0; --rank) {
        for (int file = 0; file < 8; ++file) appendFormat(out, " %3d", mgOf(param(t.index + rank * 8 + file)));
        out += "     ";
        for (int file = 0; file < 8; ++file) appendFormat(out, " %3d", egOf(param(t.index + rank * 8 + file)));
        out += '\n';
      }
      out += '\n';
    }
  }
  out.pop_back();  // the output path adds the last line end
  platform::output_line(out);
}

}  // namespace eval
