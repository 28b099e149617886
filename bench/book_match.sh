#!/usr/bin/env bash
# A short fastchess match from the start position with our book on
# (OwnBook, OwnBook_File = a Polyglot book) against a Debian peer: counts the
# book answers in the engine log and the plies they covered, and reports
# abnormal ends and protocol warnings.
# Usage: bench/book_match.sh [--games 10] [--tc 2+0.02] [--book FILE] [--peer /usr/games/toga2]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
games=10 tc=2+0.02 peer=/usr/games/toga2
book=$root/../shared/data/polyglot/performance.bin
out=$root/build-bench/book-match
while (($#)); do
  case $1 in
    --games) games=$2; shift 2 ;;
    --tc) tc=$2; shift 2 ;;
    --book) book=$2; shift 2 ;;
    --peer) peer=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
book=$(realpath "$book")
fastchess=${FASTCHESS:-$HOME/.cache/fastchess/fastchess/fastchess}
[[ -x $fastchess ]] || fastchess=$("$root/../shared/tools/build-fastchess.sh")
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVESK_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" --target vesk >/dev/null
rm -rf "$out" && mkdir -p "$out" && cd "$out"
cp "$root/build-bench/vesk" vesk
printf '#!/bin/sh\nexec "%s" -use_hce "$@"\n' "$out/vesk" >vesk-hce.sh
chmod +x vesk-hce.sh

"$fastchess" -engine cmd="$out/vesk-hce.sh" name=vesk option.Threads=1 option.OwnBook=true \
  option.OwnBook_File="$book" -engine cmd="$peer" name="$(basename "$peer")" \
  -each tc="$tc" option.Hash=16 -rounds $((games / 2)) -games 2 -concurrency 1 -recover \
  -pgnout file=games.pgn -log file=match.log level=info engine=true >match.txt 2>&1 || true

grep -E '^(Results of|Games:)' match.txt | tail -2 || true
echo "games in the PGN: $(grep -c '^\[Result ' games.pgn)"
echo "book answers (info string book move is): $(grep -c 'info string book move is' match.log)"
echo "book lists (info string ( book moves are:): $(grep -c 'info string ( book moves are:' match.log)"
echo "first book lines:"
grep -o 'info string ( book moves are:.*' match.log | head -3
echo "terminations: $(grep -h '^\[Termination ' games.pgn | sort | uniq -c | tr '\n' ' ')"
bad=$(grep -ciE 'illegal|disconnect|stall|crash|timeout' games.pgn || true)
warnings=$(grep -iE '\[warn|illegal|disconnect' match.log | grep -vc "doesn't have option" || true)
echo "abnormal-end mentions in the PGN: ${bad:-0}; log warnings other than missing peer options: ${warnings:-0}"
