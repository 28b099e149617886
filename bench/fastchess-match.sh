#!/usr/bin/env bash
# A fastchess match of our engine (hand-crafted evaluation, Threads 1) against
# a Debian peer, both colours per opening, then a summary from the PGN: the
# result with Elo, time losses, illegal moves and crashes, protocol warnings,
# and the lowest clock our engine was left with after a move.
# Usage: bench/fastchess-match.sh [--tc 1+0.01] [--games 400] [--peer /usr/games/toga2]
#          [--concurrency 2] [--hash 16] [--openings FILE] [--pvcheck] [--out DIR]
#        bench/fastchess-match.sh --summarize GAMES.pgn   (the summary of an earlier match)
# Env: FASTCHESS (the binary; default: built by ../shared/tools/build-fastchess.sh).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tc=1+0.01 games=400 peer=/usr/games/toga2 concurrency=2 hash=16 pvcheck=0
openings=$root/../shared/data/openings/noob_3moves.epd
out=$root/build-bench/matches
summarize=
while (($#)); do
  case $1 in
    --tc) tc=$2; shift 2 ;;
    --games) games=$2; shift 2 ;;
    --peer) peer=$2; shift 2 ;;
    --concurrency) concurrency=$2; shift 2 ;;
    --hash) hash=$2; shift 2 ;;
    --openings) openings=$2; shift 2 ;;
    --pvcheck) pvcheck=1; shift ;;
    --out) out=$2; shift 2 ;;
    --summarize) summarize=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done

# Time losses, abnormal ends and the lowest clock left to us, from a PGN
# written with timeleft=true.
summarize_pgn() {
  awk '
    /^\[White "/ { white = $2 } /^\[Black "/ { black = $2 }
    /^\[Termination "/ { term = $0 }
    /^\[Result "/ { result = $2 }
    /^$/ && term != "" {
      if (term ~ /time forfeit/) {
        loser = (result ~ /1-0/) ? black : white
        if (loser ~ /vesk/) ours++; else theirs++
      }
      if (term ~ /illegal|stall|disconnect|crash/) bad[term]++
      term = ""
    }
    # Movetext: "4. Nc3 {+0.08/1 0.001s, tl=1.019s} d5 {...}" or "4... d5 {...}";
    # with timeleft on, each comment ends with the clock of the side that moved.
    !/^\[/ {
      line = $0
      while (match(line, /[0-9]+\.(\.\.)?|\{[^}]*\}/)) {
        tok = substr(line, RSTART, RLENGTH); line = substr(line, RSTART + RLENGTH)
        if (tok ~ /^[0-9]/) { side = (tok ~ /\.\.\.$/) ? black : white; continue }
        if (match(tok, /tl=[0-9.]+s/)) {
          t = substr(tok, RSTART + 3, RLENGTH - 4) + 0
          if (side ~ /vesk/ && (low == "" || t < low)) low = t
        }
        side = (side == white) ? black : white
      }
    }
    END {
      printf "time losses: vesk %d, peer %d\n", ours + 0, theirs + 0
      for (k in bad) printf "abnormal end: %s x%d\n", k, bad[k]
      printf "lowest clock left to vesk after a move: %s s\n", low == "" ? "?" : low
    }' "$1"

}

if [[ -n $summarize ]]; then
  summarize_pgn "$summarize"
  exit 0
fi

out=$(realpath -m "$out")
openings=$(realpath -m "$openings")
fastchess=${FASTCHESS:-$("$root/../shared/tools/build-fastchess.sh")}
build=$root/build-bench
extra=()
[[ -f $build/CMakeCache.txt ]] || extra+=(-DVESK_TESTS=OFF)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${extra[@]}" >/dev/null
ninja -C "$build" vesk >/dev/null

mkdir -p "$out"
stamp=$(date +%Y%m%d-%H%M%S)
pgn=$out/match-$tc-$stamp.pgn
log=$out/match-$tc-$stamp.log
# The match plays a copy, so rebuilding meanwhile cannot change the engine.
cp "$build/vesk" "$out/vesk-$stamp"
wrapper=$out/vesk-hce-$stamp.sh
printf '#!/bin/sh\nexec "%s" -use_hce "$@"\n' "$out/vesk-$stamp" >"$wrapper"
chmod +x "$wrapper"

checks=()
((pvcheck)) && checks+=(-check-mate-pvs)
cd "$out"
"$fastchess" -engine cmd="$wrapper" name=vesk option.Threads=1 -engine cmd="$peer" name="$(basename "$peer")" \
  -each tc="$tc" option.Hash="$hash" \
  -openings file="$openings" format=epd order=random -srand "$RANDOM" \
  -rounds $((games / 2)) -games 2 -repeat -concurrency "$concurrency" -recover "${checks[@]}" \
  -pgnout file="$pgn" timeleft=true -log file="$log" level=warn \
  -ratinginterval 0 >"$out/match-$tc-$stamp.txt" 2>&1 || true

echo "tc $tc, $games games against $(basename "$peer"), concurrency $concurrency (pgn: $pgn)"
grep -E '^(Results of|Elo:|Games:|LLR|Ptnml)' "$out/match-$tc-$stamp.txt" | tail -4 || true
summarize_pgn "$pgn"
# Warnings about the peer's missing options are not about us.
warnings=$(grep -iE 'warn|illegal|disconnect' "$log" 2>/dev/null | grep -vc "doesn't have option" || true)
echo "fastchess warnings other than missing peer options: ${warnings:-0} ($log)"
