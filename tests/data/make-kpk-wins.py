#!/usr/bin/env python3
# Writes kpk-wins.txt, the reference for the KPK table test, by asking the
# Debian "fathom" command-line tool (package fathom, installed as
# /usr/games/fathom) for the WDL result of every legal KPK position with the
# white pawn on files a-d, ranks 2-7, either side to move. Not part of the
# build or the test run. TBDIR holds the Syzygy tables KPvK, KQvK, KRvK,
# KBvK and KNvK (.rtbw and .rtbz): the tool also probes the moves from the
# position, promotions included.
#
#   python3 tests/data/make-kpk-wins.py TBDIR > tests/data/kpk-wins.txt
#
# Each position is probed as "fathom --path=TBDIR --test FEN", which prints
# "1-0", "1/2-1/2" or "0-1".
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

FATHOM = "/usr/games/fathom"


def cheb(a, b):
    return max(abs(a % 8 - b % 8), abs(a // 8 - b // 8))


def fen(p, s, k, mover):
    board = {p: "P", s: "K", k: "k"}
    rows = []
    for r in range(7, -1, -1):
        row, empty = "", 0
        for f in range(8):
            c = board.get(r * 8 + f)
            if c:
                row += (str(empty) if empty else "") + c
                empty = 0
            else:
                empty += 1
        rows.append(row + (str(empty) if empty else ""))
    return "/".join(rows) + (" w" if mover == 0 else " b") + " - - 0 1"


def legal(mover, p, s, k):
    if len({p, s, k}) < 3 or cheb(s, k) < 2:
        return False
    # With the pawn side to move the other king must not stand in check.
    return not (mover == 0 and (k == p + 9 or (p % 8 > 0 and k == p + 7)))


def probe(job):
    m, p, s, k = job
    text = fen(p, s, k, m)
    out = subprocess.run([FATHOM, "--path=" + sys.argv[1], "--test", text],
                         capture_output=True, text=True, check=True).stdout.strip()
    if out not in ("1-0", "1/2-1/2"):
        sys.exit("unexpected result %r for %s" % (out, text))
    return out == "1-0"


def main():
    jobs = [(m, r * 8 + f, s, k) for m in (0, 1) for r in range(1, 7) for f in range(4)
            for s in range(64) for k in range(64) if legal(m, r * 8 + f, s, k)]
    with ThreadPoolExecutor(max_workers=4) as pool:
        wins = dict(zip(jobs, pool.map(probe, jobs, chunksize=256)))
    print("# King and pawn against king: positions the pawn side wins, from the")
    print("# Syzygy KPvK tables through Debian's fathom tool (see make-kpk-wins.py).")
    print("# One line per side to move m (0: pawn side) and pawn square p (a1 = 0,")
    print("# white pawn on files a-d, ranks 2-7): \"m p HEX\", where HEX holds 4096")
    print("# bits, bit s*64+k set when the position with the pawn's king on s and")
    print("# the other king on k is a win; hex digit i carries bits 4i..4i+3, the")
    print("# lowest bit first. Illegal placements read 0.")
    print("# %d legal positions, %d wins." % (len(jobs), sum(wins.values())))
    for m in (0, 1):
        for r in range(1, 7):
            for f in range(4):
                p = r * 8 + f
                digits = []
                for i in range(1024):
                    v = 0
                    for b in range(4):
                        sk = 4 * i + b
                        if wins.get((m, p, sk // 64, sk % 64)):
                            v |= 1 << b
                    digits.append("%x" % v)
                print(m, p, "".join(digits))


main()
