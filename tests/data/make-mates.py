#!/usr/bin/env python3
# Writes mates.epd, the "go mate" test set: positions in which our engine
# itself proves a mate in 2 to 5 moves ("go mate N depth D"). Candidates are
# the WAC positions (kept for mates in 2 and 3, which the test can recheck by
# brute force quickly) and random king-and-queen or king-and-rook against king
# placements (mates in 4 and 5). The test checks every line again by brute
# force: a mate in N exists and none in N - 1. Not part of the build or run.
#
#   python3 tests/data/make-mates.py build/vesk > tests/data/mates.epd
import random
import subprocess
import sys

PER_DISTANCE = 3


def square_name(s):
    return "abcdefgh"[s % 8] + str(s // 8 + 1)


def cheb(a, b):
    return max(abs(a % 8 - b % 8), abs(a // 8 - b // 8))


def placement_fen(pieces):
    rows = []
    for r in range(7, -1, -1):
        row, empty = "", 0
        for f in range(8):
            p = pieces.get(r * 8 + f)
            if p:
                row += (str(empty) if empty else "") + p
                empty = 0
            else:
                empty += 1
        rows.append(row + (str(empty) if empty else ""))
    return "/".join(rows)


def random_endings(rng, count):
    out = []
    while len(out) < count:
        k, q, bk = rng.sample(range(64), 3)
        if cheb(k, bk) < 2:
            continue
        out.append(placement_fen({k: "K", q: rng.choice("QR"), bk: "k"}) + " w - -")
    return out


def mate_distance(engine, fen, most, depth):
    """The engine's "score mate N" for the side to move, or None."""
    p = subprocess.run([engine, "-use_hce"], input=f"position fen {fen}\ngo mate {most} depth {depth}\nquit\n",
                       capture_output=True, text=True, timeout=120)
    if "Illegal EPD" in p.stdout:
        return None
    last = None
    for line in p.stdout.splitlines():
        if line.startswith("info depth") and " score " in line:
            last = line
    if not last:
        return None
    words = last.split()
    at = words.index("score")
    return int(words[at + 2]) if words[at + 1] == "mate" and int(words[at + 2]) > 0 else None


def main():
    engine = sys.argv[1]
    rng = random.Random(20261209)
    wac = [" ".join(line.split()[:4]) for line in open("tests/data/wac.epd")]
    found = {n: [] for n in range(2, 6)}
    for fen in wac + random_endings(rng, 400):
        middlegame = fen in wac
        if all(len(found[n]) == PER_DISTANCE for n in found if (n <= 3) == middlegame):
            continue
        n = mate_distance(engine, fen, 3, 9) if middlegame else mate_distance(engine, fen, 5, 14)
        if n in found and len(found[n]) < PER_DISTANCE and (n <= 3) == middlegame:
            found[n].append(fen)
        if all(len(v) == PER_DISTANCE for v in found.values()):
            break
    print("# Positions our engine proves a mate in; written by tests/data/make-mates.py.")
    for n in sorted(found):
        for fen in found[n]:
            print(f"{fen} dm {n};")


main()
