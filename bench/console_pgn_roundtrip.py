#!/usr/bin/env python3
"""Round trip of the console's "save" and "load" over real game collections.

Pass 1: every game is loaded, saved to tmp.pgn and loaded back from it; the
final positions (FEN with the fifty-move count and the game length) must
agree. Pass 2: each game restarts from its position after ten plies ("fen"
plus the rest of its moves typed in SAN), so tmp.pgn carries SetUp/FEN
headers; that file is loaded back the same way and handed to pgn-extract, when
installed, as a black-box reader. polyglot make-book ignores FEN headers, so it
reads the games of pass 1 (all from the initial position).

    bench/console_pgn_roundtrip.py build/vesk ../shared/data/pgn/ch-RUS-HL-2012.pgn ...
"""
import os
import shutil
import subprocess
import sys
import tempfile

START_PLY = 10


def run_console(engine, lines, cwd):
    out = subprocess.run([engine, "-c", "-use_hce"], input="\n".join(lines + ["quit"]) + "\n",
                         capture_output=True, text=True, cwd=cwd, timeout=600).stdout
    return out.splitlines()


def marked_fens(lines, marker):
    """The FEN of the last board shown before each line that types marker."""
    result, last = [], None
    for i, line in enumerate(lines):
        if i + 1 < len(lines) and line and line[0] != " " and len(lines[i + 1]) == 17 and lines[i + 1][0] == " ":
            last = line
        if line == "unknown command or illegal move: " + marker:
            result.append(last)
    return result


def loads(lines):
    """(tag line, messages, FEN) for each "load" in the output."""
    result = []
    for i, line in enumerate(lines):
        if not line.startswith("loading "):
            continue
        notes = []
        for j in range(i + 1, len(lines) - 1):
            if len(lines[j + 1]) == 17 and lines[j + 1][0] == " ":
                result.append((line, notes, lines[j]))
                break
            if lines[j]:
                notes.append(lines[j])
    return result


def games_in(path):
    with open(path, encoding="latin-1") as f:
        return sum(1 for line in f if "[Event " in line)


def saved_moves(path):
    """The SAN moves of each game of a tmp.pgn."""
    games, moves, in_moves = [], [], False
    with open(path) as f:
        for line in f:
            if line.startswith("[Event "):
                if in_moves or moves:
                    games.append(moves)
                moves, in_moves = [], False
            elif line.startswith("["):
                continue
            else:
                words = line.split()
                in_moves = in_moves or bool(words)
                moves += [w for w in words if w not in ("*", "1-0", "0-1", "1/2-1/2")]
    games.append(moves)
    return games


def main():
    engine, files = os.path.abspath(sys.argv[1]), [os.path.abspath(p) for p in sys.argv[2:]]
    work = tempfile.mkdtemp(prefix="vesk-roundtrip-")
    first, second = os.path.join(work, "first"), os.path.join(work, "second")
    os.makedirs(first)
    os.makedirs(second)
    games = [(f, n) for f in files for n in range(1, min(games_in(f), 1000) + 1)]

    # Pass 1: load, note the position after START_PLY plies, save.
    script = []
    for f, n in games:
        script += [f"load {f} {n}", "save", f"jump {START_PLY // 2 + 1}", "@start"]
    script += [f"load tmp.pgn {k}" for k in range(1, len(games) + 1)]
    out = run_console(engine, script, first)
    loaded = loads(out)
    originals, reloaded = loaded[:len(games)], loaded[len(games):]
    start_fens = marked_fens(out, "@start")
    notes = sum(1 for o in originals if o[1])
    mismatches = sum(1 for a, b in zip(originals, reloaded) if a[2] != b[2])
    print(f"pass 1: {len(games)} games loaded ({notes} with a note), saved and reloaded: "
          f"{mismatches} final positions differ")
    for a, b in zip(originals, reloaded):
        if a[2] != b[2]:
            print("  ", a[0], a[1], a[2], "|", b[2])
    # The loaded games against a black-box reader's final positions (board and side).
    tool = shutil.which("pgn-extract") or ("/usr/games/pgn-extract" if os.path.exists("/usr/games/pgn-extract") else None)
    if tool:
        differ, compared, at = 0, 0, 0
        for f in files:
            count = sum(1 for g in games if g[0] == f)
            r = subprocess.run([tool, "-s", "-F", "--notags", f], capture_output=True, text=True, errors="replace")
            theirs = [c.split('"')[0] for c in r.stdout.split('{ "')[1:]]
            ours = [o[2] for o in originals[at:at + count]]
            at += count
            if len(theirs) != len(ours):
                print(f"   {os.path.basename(f)}: pgn-extract reads {len(theirs)} games, we read {len(ours)}")
                continue
            compared += len(ours)
            differ += sum(1 for a, b in zip(ours, theirs) if a.split()[:2] != b.split()[:2])
        print(f"pgn-extract final positions: {compared} games compared, {differ} differ from ours (board and side)")
    for o in originals:
        if o[1]:
            print("   note:", o[0], o[1])

    # Pass 2: the same games from their position after START_PLY plies.
    moves = saved_moves(os.path.join(first, "tmp.pgn"))
    script, played = [], 0
    for fen, game in zip(start_fens, moves):
        if len(game) <= START_PLY:
            continue
        script += ["fen " + " ".join(fen.split()[:4])] + game[START_PLY:] + ["save", "@end"]
        played += 1
    script += [f"load tmp.pgn {k}" for k in range(1, played + 1)]
    out = run_console(engine, script, second)
    live = marked_fens(out, "@end")
    back = [l[2] for l in loads(out)]
    mismatches = sum(1 for a, b in zip(live, back) if a != b)
    print(f"pass 2: {played} games from a FEN saved and reloaded: {mismatches} final positions differ")
    pgn = os.path.join(second, "tmp.pgn")
    if shutil.which("pgn-extract") or os.path.exists("/usr/games/pgn-extract"):
        tool = shutil.which("pgn-extract") or "/usr/games/pgn-extract"
        r = subprocess.run([tool, "-s", pgn], capture_output=True, text=True)
        print(f"pgn-extract: {r.stdout.count('[Event ')} games read, {len(r.stderr.splitlines())} lines on stderr")
        if r.stderr:
            print("  ", r.stderr[:400])
    if shutil.which("polyglot") or os.path.exists("/usr/games/polyglot"):
        tool = shutil.which("polyglot") or "/usr/games/polyglot"
        r = subprocess.run([tool, "make-book", "-pgn", os.path.join(first, "tmp.pgn"), "-bin",
                            os.path.join(first, "book.bin")], capture_output=True, text=True, cwd=first)
        print("polyglot make-book:", (r.stdout + r.stderr).strip().replace("\n", " | ")[:400])
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
