// The game record: the game position and its bounded history, set up from
// FEN or moves by the command loop and the tools.
#include <cstring>
#include <new>

#include "board/attacks.h"
#include "platform/output.h"
#include "search/search.h"

namespace search {

SearchThread* game = nullptr;

using namespace board;

bool createGameRecord() {
  game = new (std::nothrow) GameRecord{};
  if (!game) return false;
  game->position.owner = &game->history;
  return true;
}

void releaseGameRecord() {
  delete game;
  game = nullptr;
}

Position& gamePosition() { return game->position; }

void setStartPosition() { setGameFen(kStartFen); }

int setGameFen(const std::string& fen) {
  game->position.owner = &game->history;
  size_t a = fen.find_first_not_of(" \t");
  size_t b = fen.find_last_not_of(" \t");
  const std::string text = a == std::string::npos ? std::string() : fen.substr(a, b - a + 1);
  std::string reason;
  const int code = setFromFen(game->position, text, &reason);
  // In UCI mode every diagnostic is an "info string" line.
  const char* prefix = platform::diagnosticPrefix();
  if (code != kFenOk) platform::outputFormat("%sIllegal EPD - %s", prefix, text.c_str());
  if (code == kFenRejected) platform::outputFormat("%s%s", prefix, reason.c_str());
  return code;
}

namespace {

void compactHistory(GameRecord& g) {
  UndoHistory& h = g.history;
  int keep = std::min<int>(h.undoCount, g.position.rule50 + 2);
  int drop = h.undoCount - keep;
  if (drop <= 0) return;
  std::memmove(&h.undoStack[0], &h.undoStack[drop], sizeof(UndoEntry) * keep);
  h.undoCount = static_cast<int16_t>(keep);
  h.ply = static_cast<int16_t>(h.ply - drop);
}
}  // namespace

void playGameMove(Move move) {
  if (game->history.undoCount >= kGameHistoryPlies) compactHistory(*game);
  makeMove(game->position, move);
  // The history ends here: a stale move after it must not be replayed by "]".
  game->history.undoStack[game->history.undoCount].move = kNoMove;
}

Move findCoordinateMove(const std::string& token) {
  if (token.size() < 4 || token.size() > 5) return kNoMove;
  Position& pos = game->position;
  MoveEntry list[kMaxMoves];
  int n = generateLegal(pos, list);
  for (int i = 0; i < n; ++i) {
    Move m = list[i].move;
    if (token.compare(0, 2, squareName(moveFrom(m))) || token.compare(2, 2, squareName(moveTo(m)))) continue;
    char promo = token.size() == 5 ? static_cast<char>(tolower(static_cast<unsigned char>(token[4]))) : 0;
    char wanted = !isPromotion(m) ? 0 : "  nbrq"[promotionType(m)];
    if (promo == wanted) return m;
  }
  return kNoMove;
}

}  // namespace search
