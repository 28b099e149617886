#!/usr/bin/env bash
# Compares our WDL and DTZ probes with Debian's fathom (a black-box oracle) on
# the expected-value EPD files and on random placements over every table in
# the directory, and with the EPD files' own expected values.
#
#   bench/syzygy-oracle.sh [TABLE_DIR] [POSITIONS_PER_TABLE] [SEED]
#
# Writes the compared positions with fathom's values to
# build/syzygy-oracle/fathom.txt ("FEN | wdl |dtz|"); tests/data/syzygy is
# drawn from such a file.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-/work/shared/data/syzygy}
per_table=${2:-560}
seed=${3:-20261209}
fathom=${FATHOM:-/usr/games/fathom}
out=build/syzygy-oracle
mkdir -p "$out"
cmake --build build --target syzygy_probe >/dev/null
probe=build/bench/syzygy_probe

# 1. The EPD files against their own expected values.
for epd in endgame.epd endgame-large.epd; do
  [ -f "$dir/$epd" ] || continue
  sed 's/ wdl_table.*//' "$dir/$epd" | "$probe" "$dir" fen | grep -v '^info string' >"$out/$epd.ours"
  paste -d'|' "$dir/$epd" "$out/$epd.ours" | awk -F'|' '
    { n++; split($1, a, ";"); w = a[2]; d = a[3]; gsub(/[^-0-9]/, "", w); gsub(/[^-0-9]/, "", d);
      split($3, o, " "); if (o[1] != w || o[2] != d) { bad++; if (bad < 6) print "  mismatch: " $0 } }
    END { printf "%s: %d positions, %d mismatches with the expected wdl/dtz\n", FILENAME_, n, bad + 0 }' \
    FILENAME_="$epd"
done

# 2. Random placements (both sides to move, capture-only, en passant).
"$probe" "$dir" random "$per_table" "$seed" 2>"$out/random.counts" | grep -v '^info string' >"$out/random.fen"
cat "$out/random.counts"
# Random placements before the large file, so that a run cut short has
# compared those first.
{ [ -f "$dir/endgame.epd" ] && sed 's/ wdl_table.*/ 0 1/' "$dir/endgame.epd"
  cat "$out/random.fen"
  [ -f "$dir/endgame-large.epd" ] && sed 's/ wdl_table.*/ 0 1/' "$dir/endgame-large.epd"; } | awk '!seen[$0]++' >"$out/all.fen"
"$probe" "$dir" fen <"$out/all.fen" | grep -v '^info string' >"$out/ours.txt"

# fathom answers are kept between runs (a process per position is slow).
cache=$out/fathom-cache.txt
touch "$cache"
# (FILENAME, not NR == FNR: the cache is empty on the first run.)
awk -F' [|] ' 'FILENAME == ARGV[1] { known[$1] = 1; next } !($1 in known)' "$cache" "$out/all.fen" >"$out/ask.fen"
echo "asking fathom about $(wc -l <"$out/ask.fen") positions ($(wc -l <"$out/all.fen") in all)"
# One fathom process per position, its PGN tags read back by FEN (each
# process writes its few lines at once, so parallel answers do not mix).
tr '\n' '\0' <"$out/ask.fen" | xargs -0 -P "${JOBS:-6}" -n 1 "$fathom" --path="$dir" 2>/dev/null | awk '
  function tag(line) { sub(/^\[[A-Za-z]+ "/, "", line); sub(/"\]$/, "", line); return line }
  /^\[FEN / { fen = tag($0) }
  /^\[WDL / { w = tag($0) }
  /^\[DTZ / { d = tag($0); sub(/^-/, "", d)
               v = w == "Win" ? 2 : w == "CursedWin" ? 1 : w == "Draw" ? 0 : w == "BlessedLoss" ? -1 : w == "Loss" ? -2 : "fail"
               print fen " | " v " " d; fflush() }' >>"$cache" || true
# (xargs fails when any fathom process does; those positions are counted below.)
cp "$cache" "$out/fathom.txt"

# 3. Join by FEN and count by table class (men, pawns or not).
awk -F' [|] ' '
  function cls(fen,   b, men, pawns, i, c) {
    split(fen, b, " "); men = 0; pawns = 0
    for (i = 1; i <= length(b[1]); i++) { c = substr(b[1], i, 1); if (c ~ /[a-zA-Z]/) men++; if (c ~ /[pP]/) pawns = 1 }
    return men "-man " (pawns ? "pawns" : "pawnless") (b[4] != "-" ? " ep" : "")
  }
  FILENAME == ARGV[1] { f[$1] = $2; next }
  !($1 in f) { na++; if (na < 6) print "  fathom gave no answer: " $0; next }
  {
    k = cls($1); n[k]++
    split(f[$1], x, " "); split($2, y, " ")
    # A DTZ we decline where a successor cannot be probed (the table holds no
    # value for it): fathom answers from the other moves instead.
    if (y[1] == "fail" && x[1] != "fail" && $2 ~ /dtz/) { declined[k]++; if (declined[k] < 3) print "  declined: " $1 " fathom " f[$1]; next }
    if (x[1] == "fail" || y[1] == "fail") { if (x[1] != y[1]) { bad[k]++; print "  mismatch: " $1 " fathom " f[$1] " ours " $2 } else failed[k]++; next }
    d = y[2] < 0 ? -y[2] : y[2]
    if (x[1] != y[1] || x[2] != d) { bad[k]++; if (bad[k] < 6) print "  mismatch: " $1 " fathom " f[$1] " ours " $2 }
  }
  END { for (k in n) { printf "%-22s %7d positions, %d mismatches, %d unanswered by both, %d DTZ declined\n", k, n[k], bad[k] + 0, failed[k] + 0, declined[k] + 0; t += n[k]; tb += bad[k] } 
        printf "total %d positions compared with fathom, %d mismatches, %d not answered by fathom\n", t, tb + 0, na + 0 }' \
  "$out/fathom.txt" "$out/ours.txt" | sort
