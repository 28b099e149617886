#!/usr/bin/env python3
"""Checks book_oracle's listing against an independent read of the book.

For each line (FEN, our key, our entries) the Polyglot key is computed here
from the FEN with the published Random64 table, the book file is read here
(16-byte big-endian records), and the entries of that key (file order, at
most 128) must equal ours, as must the key.
Usage: book_oracle.py BOOK RANDOM64.txt < listing
"""
import struct
import sys

book_path, random_path = sys.argv[1], sys.argv[2]
R = [int(line, 16) for line in open(random_path) if line.strip()]
assert len(R) == 781

entries = {}
data = open(book_path, 'rb').read()
for off in range(0, len(data) - len(data) % 16, 16):
    key, move, weight, _learn = struct.unpack('>QHHI', data[off:off + 16])
    entries.setdefault(key, []).append((move, weight))

KINDS = 'pPnNbBrRqQkK'


def polyglot_key(fen):
    fields = fen.split()
    placement, side, castling, ep = fields[0], fields[1], fields[2], fields[3]
    board = {}
    key = 0
    for r, row in enumerate(placement.split('/')):
        rank = 7 - r
        f = 0
        for c in row:
            if c.isdigit():
                f += int(c)
            else:
                board[(f, rank)] = c
                key ^= R[64 * KINDS.index(c) + 8 * rank + f]
                f += 1
    for i, c in enumerate('KQkq'):
        if c in castling:
            key ^= R[768 + i]
    if ep != '-':
        f = ord(ep[0]) - ord('a')
        pawn, rank = ('P', 4) if side == 'w' else ('p', 3)
        if board.get((f - 1, rank)) == pawn or board.get((f + 1, rank)) == pawn:
            key ^= R[772 + f]
    if side == 'w':
        key ^= R[780]
    return key


positions = mismatches = in_book = 0
for line in sys.stdin:
    fen, ours_key, ours = (line.rstrip('\n').split('\t') + [''])[:3]
    key = polyglot_key(fen)
    theirs = entries.get(key, [])[:128]
    mine = [tuple(int(x) for x in e.split(':')) for e in ours.split()]
    positions += 1
    in_book += bool(theirs)
    if int(ours_key, 16) != key or mine != theirs:
        mismatches += 1
        if mismatches <= 10:
            print('MISMATCH', fen, ours_key, '%016x' % key, mine, theirs)
print('positions compared %d, in the book %d, mismatches %d' % (positions, in_book, mismatches))
sys.exit(1 if mismatches else 0)
