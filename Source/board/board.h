// Board and moves: squares, pieces, the position record, moves, and the
// operations on them (setup, generation, make/unmake, notation, perft, SEE).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace board {

// ---------------------------------------------------------------- squares

using Bitboard = uint64_t;

constexpr int kNoSquare = 64;
constexpr int kWhite = 0;
constexpr int kBlack = 1;

constexpr int kPawn = 1;
constexpr int kKnight = 2;
constexpr int kBishop = 3;
constexpr int kRook = 4;
constexpr int kQueen = 5;
constexpr int kKing = 6;

constexpr int pieceCode(int colour, int type) { return colour * 8 + type; }
constexpr int typeOf(int code) { return code & 7; }
constexpr int colourOf(int code) { return (code >> 3) & 1; }
constexpr int fileOf(int sq) { return sq & 7; }
constexpr int rankOf(int sq) { return sq >> 3; }
constexpr int makeSquare(int file, int rank) { return rank * 8 + file; }
constexpr Bitboard bit(int sq) { return Bitboard{1} << sq; }
constexpr Bitboard kFileA = 0x0101010101010101ull;
constexpr Bitboard kFileH = kFileA << 7;
// The squares beside each given square on its rank.
constexpr Bitboard sideways(Bitboard b) { return ((b & ~kFileA) >> 1) | ((b & ~kFileH) << 1); }

constexpr int kForward[2] = {8, -8};

constexpr int kA1 = 0, kC1 = 2, kD1 = 3, kE1 = 4, kF1 = 5, kG1 = 6, kH1 = 7;
constexpr int kA8 = 56, kC8 = 58, kD8 = 59, kE8 = 60, kF8 = 61, kG8 = 62, kH8 = 63;

// castleRights bits
constexpr int kWhiteKingSide = 1;
constexpr int kWhiteQueenSide = 2;
constexpr int kBlackKingSide = 4;
constexpr int kBlackQueenSide = 8;

// materialSignature counts each piece type in four bits: pawns 0..3,
// knights 4..7, bishops 8..11, rooks 12..15, queens 16..19.
constexpr std::array<int32_t, 8> kSignatureStep = {0, 1, 16, 256, 4096, 65536, 0, 0};
constexpr int32_t kSignaturePawns = 0xF;
constexpr int32_t kSignatureBishopsQueens = 0xF0F00;
constexpr int32_t kSignatureRooksQueens = 0xFF000;
constexpr int kSignatureBits = 4;
constexpr std::array<int16_t, 8> kMaterialStep = {0, 0, 3, 3, 5, 10, 0, 0};

// ---------------------------------------------------------------- moves

// destination in bits 0..5, origin in bits 8..13, one promotion flag.
using Move = uint16_t;

constexpr Move kNoMove = 0;
constexpr Move kEndOfList = 0xFFFF;
constexpr Move kPromoQueen = 0x0040;
constexpr Move kPromoKnight = 0x0080;
constexpr Move kPromoBishop = 0x4000;
constexpr Move kPromoRook = 0x8000;
constexpr Move kPromoMask = 0xC0C0;

constexpr Move makeMoveCode(int from, int to, Move flags = 0) {
  return static_cast<Move>(to | (from << 8) | flags);
}
constexpr int moveFrom(Move m) { return (m >> 8) & 63; }
constexpr int moveTo(Move m) { return m & 63; }
constexpr bool isPromotion(Move m) { return (m & kPromoMask) != 0; }
// Piece type a promotion move creates (queen when no flag says otherwise).
constexpr int promotionType(Move m) {
  return (m & kPromoKnight) ? kKnight : (m & kPromoBishop) ? kBishop : (m & kPromoRook) ? kRook : kQueen;
}

struct MoveEntry {
  Move move;
  int16_t score;
  uint8_t piece;
  uint8_t captured;
};

// Room for every pseudo-legal move of any position plus the terminator.
constexpr int kMaxMoves = 256;

// ---------------------------------------------------------------- position

struct UndoEntry {
  uint64_t key;
  uint64_t pawnKey;
  Move move;
  uint8_t capturedType;
  uint8_t epSquare;
  uint8_t rule50;
  uint8_t castleRights;
};

constexpr int kUndoCapacity = 900;

// The part of a thread record that make/unmake and the repetition test
// maintain: the game-plus-search line and its counters.
struct UndoHistory {
  std::array<UndoEntry, kUndoCapacity> undoStack;
  int16_t undoCount;
  int16_t ply;
  Move lastMove;
};

struct Position {
  UndoHistory* owner;
  std::array<uint8_t, 65> board;
  std::array<std::array<Bitboard, 8>, 2> pieces;
  uint64_t key;
  uint64_t pawnKey;
  std::array<int32_t, 2> materialSignature;
  std::array<int16_t, 2> pieceMaterial;
  uint8_t sideToMove;
  uint8_t rule50;
  uint8_t castleRights;
  uint8_t epSquare;
  std::array<uint8_t, 2> kingSquare;
};

inline Bitboard occupied(const Position& p) { return p.pieces[0][0] | p.pieces[1][0]; }

extern std::array<uint64_t, 1024> ZobristKeys;

constexpr const char* kStartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";

// Result codes of setFromFen.
constexpr int kFenOk = 0;
constexpr int kFenCastlingFixed = -1;  // set up, contradicted rights dropped
constexpr int kFenRejected = -2;       // refused, position unchanged

// ---------------------------------------------------------------- set-up and keys
// Fills the keys once; returns how many came out too close to an earlier one
// (the generator is fixed, so 0 on every run).
int initZobristKeys();
void clearBoard(Position& pos);
void putPiece(Position& pos, int colour, int type, int square);
void computeKeys(Position& pos);
// Sets pos from FEN text. A refused text (kFenRejected) leaves pos as it was;
// reason, when given, receives why it was refused or what was changed.
int setFromFen(Position& pos, const std::string& text, std::string* reason = nullptr);
// Structural check of a position; empty when sound, else the reason.
std::string validatePosition(const Position& pos);

// ---------------------------------------------------------------- attacks (tables and sliders in attacks.h)
void initAttackTables();
int isAttacked(const Position& pos, int square, int byColour);
int leastValuableAttacker(const Position& pos, int square, int colour, Bitboard occ);
int findAttacker(const Position& pos, int square, int colour, Bitboard blockers);

// ---------------------------------------------------------------- move generation
MoveEntry* generateCaptures(const Position& pos, int colour, MoveEntry* out, int target);
MoveEntry* generatePromotions(const Position& pos, int colour, MoveEntry* out, bool allPieces);
MoveEntry* generateQuiets(const Position& pos, int colour, MoveEntry* out, int target);
MoveEntry* generateQuietChecks(const Position& pos, int colour, MoveEntry* out);
// The complete pseudo-legal list of the side to move, terminated by kEndOfList;
// returns the terminator's slot. out needs kMaxMoves entries.
MoveEntry* generateAll(const Position& pos, MoveEntry* out);
// Legal moves only; returns the count.
int generateLegal(Position& pos, MoveEntry* out);
// Whether move is one of the pseudo-legal moves of the side to move (a move
// from the transposition table or a book must pass this before it is made).
bool isPseudoLegal(const Position& pos, Move move);

// ---------------------------------------------------------------- make, unmake, legality, draws
extern const std::array<uint8_t, 64> kCastleMask;
uint64_t makeMove(Position& pos, Move move);
void unmakeMove(Position& pos);
uint64_t makeNullMove(Position& pos);
void unmakeNullMove(Position& pos);
int isLegal(const Position& pos, int colour, Move move);
// Plies without a capture or pawn move that end the game (the fifty-move rule).
constexpr int kFiftyMovePlies = 100;
int isDraw(Position& pos, int pliesFromRoot);
// Optional hook the search trace installs; called with 0 for a null move.
extern void (*moveTraceHook)(const Position& pos, Move move);

// ---------------------------------------------------------------- notation
// The coordinate form follows the dialogue mode (platform::uci_mode): UCI
// writes "e7e8q", the console "e7e8=Q".
const char* squareName(int square);  // "a1".."h8", "-" for 64
char* moveToText(Move move, char* buffer);
std::string moveToText(Move move);
struct SanTexts {
  char coordinate[16];
  char san[16];
  char sanWithFile[16];
  char sanWithRank[16];
};
void moveToSan(const Position& pos, Move move, SanTexts& out);
// Whether the side to move gives check with move (discoveries, castling rook
// and en passant included).
bool givesCheck(const Position& pos, Move move);
// Reads any accepted move spelling: kMoveRead and the move when exactly one
// legal move matches; kMoveAmbiguous when several do (the caller says so).
constexpr int kMoveRead = 1, kMoveUnread = 0, kMoveAmbiguous = -1;
int parseMove(Position& pos, const std::string& text, Move& out);
std::string positionToFen(const Position& pos, bool withCounters);
std::string boardDiagram(const Position& pos);

// ---------------------------------------------------------------- perft
uint64_t perft(Position& pos, int depth);

// ---------------------------------------------------------------- static exchange
extern const std::array<int16_t, 8> kSeeValue;
int staticExchange(const Position& pos, int colour, int from, int to);
int exchangeGain(const Position& pos, int colour, int to, int victimType, Bitboard occ);

}  // namespace board
