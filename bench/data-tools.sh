#!/usr/bin/env bash
# The data tools on the shared engine-game collections: each scanner variant
# on each file (every line checked against its source comment by the suite's
# checker), the scanning speed on a 50,000-game collection, and the tuning-data
# generator's speed at depths 0, 4 and 8 with its "sc" checked against the
# EPD runner on a sample.
# Usage: bench/data-tools.sh [vesk-binary]   (default: build/vesk)
# Env: PGN_DIR (default ../shared/data/pgn), WORK (scratch folder).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
vesk=$(realpath "${1:-$root/build/vesk}")
pgn_dir=$(realpath "${PGN_DIR:-$root/../shared/data/pgn}")
work=${WORK:-$(mktemp -d)}
mkdir -p "$work" && cd "$work"

seconds() { local s=$EPOCHREALTIME; "$@" >/dev/null; echo "$EPOCHREALTIME - $s" | bc; }

for f in engine-cutechess-188 tcec-cup14-final; do
  for v in 1 2 3 4; do
    summary=$("$vesk" -scan_pgn$v "$pgn_dir/$f.pgn" -o "$f-v$v.out" | tail -1)
    echo "$f variant $v: $summary"
  done
done

# 50,000 games or more by repeating the cutechess collection.
big=big.pgn
: >"$big"
for ((i = 0; i < 266; i++)); do cat "$pgn_dir/engine-cutechess-188.pgn" >>"$big"; done
games=$(grep -c '^\[Result ' "$big")
t=$(seconds taskset -c 0 "$vesk" -scan_pgn2 "$big" -o big.epd)
echo "scan_pgn2 on $games games: $t s, $(echo "$games / $t" | bc) games/s on one core"

# Tuning data from 10,000 of the variant-2 positions.
head -10000 big.epd >tune-in.epd
for d in 0 4 8; do
  n=10000; [[ $d == 8 ]] && n=1000
  head -$n tune-in.epd >tune-$d-in.epd
  t=$(seconds taskset -c 0 "$vesk" -mktune2 tune-$d-in.epd -o tune-$d.epd -d $d)
  echo "mktune2 -d $d on $n positions: $t s, $(echo "$n / $t" | bc) positions/s on one core"
done

# "sc" of 100 lines against the EPD runner's own search at the same depth.
shuf -n 100 --random-source=<(yes) tune-4.epd | sed -E 's/ sc -?[0-9]+;//' >sample.epd
"$vesk" -use_hce -anepd sample.epd -o runner.epd -d 4 >/dev/null
paste -d'|' <(sed -E 's/.* sc (-?[0-9]+);.*/\1/' runner.epd) \
            <(while read -r line; do fen=$(cut -d' ' -f1-4 <<<"$line"); grep -F -m1 "$fen " tune-4.epd; done <sample.epd |
              sed -E 's/.* sc (-?[0-9]+);.*/\1/') |
  awk -F'|' '{n++; if ($1 != $2) bad++} END {printf "sc against the EPD runner: %d lines, %d differ\n", n, bad}'
echo "work folder: $work"
