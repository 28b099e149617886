// The console board editor ("edit"): pieces are placed line by line, read
// through the same input reader as every command, so it works from a pipe
// and from a terminal. The result passes the same checks as a FEN.
#include <array>
#include <cctype>
#include <cstring>

#include "board/attacks.h"
#include "platform/output.h"
#include "protocol/console.h"

namespace protocol {

using namespace board;

namespace {

constexpr size_t kEditLineLength = 77;
constexpr const char* kPieceLetters = "PNBRQK";

struct EditBoard {
  std::array<uint8_t, 64> squares{};  // piece codes
  int sideToMove = kWhite;
  int castleRights = 0;
};

// The square of a word's second and third characters, or kNoSquare.
int wordSquare(const std::string& word) {
  if (word.size() < 3) return kNoSquare;
  const int file = word[1] - 'a', rank = word[2] - '1';
  if (file < 0 || file > 7 || rank < 0 || rank > 7) return kNoSquare;
  return makeSquare(file, rank);
}

// "w Pa2 Kc2": the colour, then pieces with their squares. A word with
// another first letter empties its square; one with no square on the
// board ends the line.
void readPieceLine(EditBoard& b, const std::string& line) {
  size_t at = line.find_first_not_of(' ');
  size_t end = line.find(' ', at);
  const std::string first = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
  if (first != "w" && first != "b") return;
  const int colour = first == "w" ? kWhite : kBlack;
  b.sideToMove = colour;
  while (end != std::string::npos) {
    at = line.find_first_not_of(' ', end);
    if (at == std::string::npos) break;
    end = line.find(' ', at);
    const std::string word = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
    const int sq = wordSquare(word);
    if (sq == kNoSquare) break;
    const char letter = static_cast<char>(toupper(static_cast<unsigned char>(word[0])));
    const char* type = strchr(kPieceLetters, letter);
    b.squares[sq] = letter && type ? static_cast<uint8_t>(pieceCode(colour, static_cast<int>(type - kPieceLetters) + 1))
                                   : 0;
  }
}

// Each castling right stays only with its king and rook at home.
int castlingRightsOf(const EditBoard& b, int rights) {
  const auto& s = b.squares;
  int valid = 0;
  if (s[kE1] == pieceCode(kWhite, kKing)) {
    if (s[kH1] == pieceCode(kWhite, kRook)) valid |= kWhiteKingSide;
    if (s[kA1] == pieceCode(kWhite, kRook)) valid |= kWhiteQueenSide;
  }
  if (s[kE8] == pieceCode(kBlack, kKing)) {
    if (s[kH8] == pieceCode(kBlack, kRook)) valid |= kBlackKingSide;
    if (s[kA8] == pieceCode(kBlack, kRook)) valid |= kBlackQueenSide;
  }
  return rights & valid;
}

std::string fenOf(const EditBoard& b) {
  Position pos{};
  pos.owner = nullptr;
  clearBoard(pos);
  for (int sq = 0; sq < 64; ++sq)
    if (b.squares[sq]) putPiece(pos, colourOf(b.squares[sq]), typeOf(b.squares[sq]), sq);
  pos.sideToMove = static_cast<uint8_t>(b.sideToMove);
  pos.castleRights = static_cast<uint8_t>(b.castleRights);
  pos.epSquare = kNoSquare;
  return positionToFen(pos, false);
}

}  // namespace

void editPosition() {
  platform::output_line("\n");
  platform::output_line(".                    end edit");
  platform::output_line("#                    clear board");
  platform::output_line("w  Pa2 Pb2 Kc2       white, pieces");
  platform::output_line("b  Pa7 Pb7 Kc7       black, pieces");
  const Position& game = search::gamePosition();
  EditBoard b;
  for (int sq = 0; sq < 64; ++sq) b.squares[sq] = game.board[sq];
  b.sideToMove = game.sideToMove;
  std::string line;
  while (platform::waitLine(input, line)) {
    line = line.substr(0, std::min(line.find_first_of("\r\n"), kEditLineLength));
    if (line.find_first_not_of(' ') == std::string::npos) continue;
    if (line[0] == '.') break;
    if (line[0] == '#') {
      b.squares.fill(0);
      continue;
    }
    readPieceLine(b, line);
  }
  b.castleRights = castlingRightsOf(b, game.castleRights);
  // The FEN checks refuse what the tables cannot hold (no king, pawns on the
  // last rank, the side not to move in check): the old position then stays.
  search::setGameFen(fenOf(b));
  showBoard(false);
}

}  // namespace protocol
