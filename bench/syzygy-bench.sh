#!/usr/bin/env bash
# Tablebase speed: WDL probes per second on a fixed random set (first pass
# maps the files, second is warm), and the node rate of fixed-depth searches
# in 4- and 5-man positions with and without the tables.
#
#   bench/syzygy-bench.sh [TABLE_DIR] [PROBES] [DEPTH]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-/work/shared/data/syzygy}
probes=${2:-200000}
depth=${3:-14}
cmake --build build --target vesk syzygy_probe >/dev/null

echo "== WDL probes (one thread, $probes random positions over every table)"
build/bench/syzygy_probe "$dir" speed "$probes" 7 | grep -v '^info string'

fens=(
  "8/8/1r6/4k3/8/8/3Q4/7K w - -"    # KQvKR
  "8/8/8/3k4/8/3K4/2P5/8 w - -"     # KPvK
  "8/5k2/8/8/2p5/8/3P1K2/8 w - -"   # KPvKP
  "8/8/8/8/3k4/8/2R5/K1b5 w - -"    # KRvKB
  "8/2k5/8/8/8/3p4/8/1R2K3 w - -"   # KRvKP
  "8/8/4k3/8/8/2PP4/3B4/4K3 w - -"  # KBPPvK
)

# Searches every position to depth through UCI; prints nodes, ms and tbhits summed.
search_all() {
  coproc ENGINE { build/vesk -use_hce "$@"; }
  local nodes=0 ms=0 hits=0 line last
  for fen in "${fens[@]}"; do
    printf 'ucinewgame\nposition fen %s\ngo depth %s\n' "$fen" "$depth" >&"${ENGINE[1]}"
    last=
    while read -r line <&"${ENGINE[0]}"; do
      case $line in
        "info depth"*) last=$line ;;
        bestmove*) break ;;
      esac
    done
    nodes=$((nodes + $(awk '{for (i = 1; i < NF; i++) if ($i == "nodes") print $(i + 1)}' <<<"$last")))
    ms=$((ms + $(awk '{for (i = 1; i < NF; i++) if ($i == "time") print $(i + 1)}' <<<"$last")))
    hits=$((hits + $(awk '{for (i = 1; i < NF; i++) if ($i == "tbhits") print $(i + 1)}' <<<"$last")))
  done
  echo quit >&"${ENGINE[1]}"
  wait "$ENGINE_PID" 2>/dev/null || true
  echo "$nodes nodes in $ms ms = $((nodes * 1000 / (ms + 1))) nodes/s, $hits tbhits"
}

echo "== searches to depth $depth in ${#fens[@]} positions of 4 and 5 men"
echo "without tables: $(search_all)"
echo "with tables:    $(search_all -tbpath "$dir")"
