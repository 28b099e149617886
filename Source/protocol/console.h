// Console internals shared by its command files: the board display, move
// texts as a person reads them, the end-of-game test, text-file lines, and
// the game-file and board-editor commands.
#pragma once

#include <cstdio>
#include <string>

#include "protocol/protocol.h"

namespace protocol {

// The board diagram, after the evaluation display when the caller shows a
// move or asks for the board and the display flag is set.
void showBoard(bool withEvaluation);

// SAN with castling written "O-O" and a mate marked "#".
std::string sanText(board::Position& pos, board::Move move);

// How the game stands at pos: result is null while it goes on.
struct GameOutcome {
  const char* result;  // "1-0", "0-1", "1/2-1/2"
  const char* reason;
};
GameOutcome gameOutcome(board::Position& pos);

// One line of a text file without its line end ("\r" stripped); characters
// past maxLength are dropped (cut tells). False at the end of the file.
bool readTextLine(FILE* file, std::string& line, size_t maxLength, bool* cut = nullptr);

// Game files (console_pgn.cpp).
void loadGame(const std::string& file, const std::string& tag);
void saveGame();

// The board editor (console_edit.cpp): reads its lines from the command input.
void editPosition();

}  // namespace protocol
