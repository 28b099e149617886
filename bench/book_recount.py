#!/usr/bin/env python3
"""Recounts a book made by "vesk -mkbook" from its PGN, on its own.

Inputs: the PGN the book was made from (normalised by pgn-extract, so its
games are exactly those of the second input), pgn-extract's UCI rendering
of it with a FEN after every move, the book, and the Random64 table.

From the PGN's lines this script works out how many plies of each game the
maker records (a line is read while the game has at most 35 plies; comments,
variations, tag lines, ';' comments and move numbers are not moves). From
the UCI rendering it takes those plies' positions and moves, computes each
Polyglot key from the FEN and the book move (castling as the king taking its
rook), counts wins, draws and losses for the side that moved, and applies
the rule: wins > 2, score = draws + 4 wins - 2 losses > 9, weights scaled by
min(60000 / best score of the position, 1). The book must hold exactly those
entries, sorted by key and then weight (descending).
Usage: book_recount.py GAMES.pgn GAMES-uci-fen.pgn BOOK RANDOM64.txt
"""
import re
import struct
import sys
from collections import defaultdict

pgn_path, uci_path, book_path, random_path = sys.argv[1:5]
R = [int(line, 16) for line in open(random_path) if line.strip()]
KINDS = 'pPnNbBrRqQkK'
LINE_PLIES = 35
SAN = re.compile(r'^([NBRQK]?[a-h]?[1-8]?x?[a-h][1-8](=?[NBRQ])?|O-O(-O)?|0-0(-0)?)[+#]?[!?]*$')


def polyglot_key(fen):
    placement, side, castling, ep = fen.split()[:4]
    board, key = {}, 0
    for r, row in enumerate(placement.split('/')):
        f = 0
        for c in row:
            if c.isdigit():
                f += int(c)
                continue
            board[(f, 7 - r)] = c
            key ^= R[64 * KINDS.index(c) + 8 * (7 - r) + f]
            f += 1
    for i, c in enumerate('KQkq'):
        if c in castling:
            key ^= R[768 + i]
    if ep != '-':
        f = ord(ep[0]) - 97
        pawn, rank = ('P', 4) if side == 'w' else ('p', 3)
        if pawn in (board.get((f - 1, rank)), board.get((f + 1, rank))):
            key ^= R[772 + f]
    if side == 'w':
        key ^= R[780]
    return key, board, side


def square(text):
    return (ord(text[0]) - 97) + 8 * (int(text[1]) - 1)


def book_move(uci, board):
    frm, to = square(uci[:2]), square(uci[2:4])
    piece = board.get((frm % 8, frm // 8), '')
    if piece in 'Kk' and piece and abs(to - frm) == 2:
        to = frm + 3 if to > frm else frm - 4
    promo = ' nbrq'.index(uci[4]) if len(uci) > 4 else 0
    return to | frm << 6 | promo << 12


def recorded_plies(path):
    """Plies the maker records per game, in file order."""
    counts, plies, active, comment, variation, skip = [], 0, False, 0, 0, False
    for raw in open(path, encoding='latin-1'):
        line = raw.rstrip('\r\n')
        if '[Result' in line:
            if active:
                counts.append(plies)
            active, plies, comment, variation, skip = True, 0, 0, 0, False
            known = any(r in line for r in ('1-0', '0-1', '1/2'))
            continue
        if not active or not known or plies > LINE_PLIES:
            continue
        if comment == 0 and line[:1] in (';', '['):
            continue
        for tok in re.findall(r'[{}()]|[^\s{}()]+', line):
            if skip or tok.startswith('$'):
                continue
            if comment:
                comment += tok == '{'
                comment -= tok == '}'
                continue
            if tok == ';' or tok.startswith(';'):
                break
            if tok in '{}()':
                comment += tok == '{'
                variation += tok == '('
                variation -= tok == ')' and variation > 0
                continue
            if variation:
                continue
            m = re.search(r'[A-Za-z]|0-', tok)
            if not m:
                continue
            if SAN.match(tok[m.start():]):
                plies += 1
            else:
                skip = True
    if active:
        counts.append(plies)
    return counts


def games_with_positions(path):
    """(result, [(fen before, uci move)]) per game of pgn-extract's output."""
    result, moves, fen = None, [], None
    start = 'rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1'
    for line in open(path, encoding='latin-1'):
        if line.startswith('[Result '):
            if result is not None:
                yield result, moves
            result, moves, fen = line.split('"')[1], [], start
        elif not line.startswith('['):
            for uci, after in re.findall(r'([a-h][1-8][a-h][1-8][nbrq]?) \{ ([^}]*) \}', line):
                moves.append((fen, uci))
                fen = after.strip()
    if result is not None:
        yield result, moves


counts = defaultdict(lambda: [0, 0, 0])  # wins, losses, draws of (key, move)
plies = recorded_plies(pgn_path)
games = list(games_with_positions(uci_path))
if len(plies) != len(games):
    sys.exit('game counts differ: %d in the PGN, %d in the UCI rendering' % (len(plies), len(games)))
for n, (result, moves) in zip(plies, games):
    if result not in ('1-0', '0-1', '1/2-1/2'):
        continue
    assert n <= len(moves), (n, len(moves))
    for fen, uci in moves[:n]:
        key, board, side = polyglot_key(fen)
        if result == '1/2-1/2':
            o = 2
        else:
            o = 0 if (result == '1-0') == (side == 'w') else 1
        counts[(key, book_move(uci, board))][o] += 1

expected = defaultdict(list)
for (key, move), (w, l, d) in counts.items():
    score = d + 4 * w - 2 * l
    if w > 2 and score > 9:
        expected[key].append((move, score))
want = set()
for key, moves in expected.items():
    best = max(s for _, s in moves)
    for move, s in moves:
        want.add((key, move, int(s * min(60000 / best, 1.0))))

data = open(book_path, 'rb').read()
entries = [struct.unpack('>QHHI', data[i:i + 16]) for i in range(0, len(data), 16)]
have = set((k, m, w) for k, m, w, _ in entries)
ordered = all((a[0], -a[2]) <= (b[0], -b[2]) for a, b in zip(entries, entries[1:]))
print('games %d, recounted pairs %d, book entries %d, expected entries %d, missing %d, extra %d, sorted %s, '
      'learn all 0 %s' % (len(games), len(counts), len(entries), len(want), len(want - have), len(have - want),
                          ordered, all(e[3] == 0 for e in entries)))
bad = len(data) % 16 or want != have or not ordered or len(have) != len(entries)
sys.exit(1 if bad else 0)
