#!/usr/bin/env bash
# Hash resize latency: seconds from "setoption name Hash value N" to
# "readyok", for our engine and Debian's stockfish in the same run, then the
# same for a start with "-hash N" (ours only; stockfish has no such switch).
# Usage: bench/hash.sh [build-dir] [sizes in MB...]   (default: build-bench, 1024 8192)
# Env: RUNS (default 3, the best run counts), STOCKFISH (path of the reference),
# VESK (an engine binary to time instead of building one, e.g. an older build).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
shift || true
sizes=("$@")
((${#sizes[@]})) || sizes=(1024 8192)
runs=${RUNS:-3}
stockfish=${STOCKFISH:-/usr/games/stockfish}

extra=()
[[ -f $build/CMakeCache.txt ]] || extra+=(-DVESK_TESTS=OFF)
if [[ -n ${VESK:-} ]]; then
  vesk=$VESK
else
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${extra[@]}" >/dev/null
  ninja -C "$build" vesk >/dev/null
  vesk=$build/vesk
fi

now() { date +%s.%N; }

# Waits for a line starting with $2 on the engine's output fd $1.
await() {
  local line
  while IFS= read -r -t 60 -u "$1" line; do [[ $line == "$2"* ]] && return 0; done
  echo "no '$2' within 60 s" >&2
  return 1
}

# Seconds from the setoption to readyok for one engine command line.
resize_seconds() {
  local mb=$1 start end
  shift
  coproc ENGINE { "$@" 2>/dev/null; }
  printf 'uci\nisready\n' >&"${ENGINE[1]}"
  await "${ENGINE[0]}" readyok
  start=$(now)
  printf 'setoption name Hash value %s\nisready\n' "$mb" >&"${ENGINE[1]}"
  await "${ENGINE[0]}" readyok
  end=$(now)
  printf 'quit\n' >&"${ENGINE[1]}"
  wait "$ENGINE_PID" 2>/dev/null || true
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

# Seconds from process start to readyok with -hash.
startup_seconds() {
  local mb=$1 start end
  start=$(now)
  coproc ENGINE { "$vesk" -use_hce -hash "$mb" 2>/dev/null; }
  printf 'isready\n' >&"${ENGINE[1]}"
  await "${ENGINE[0]}" readyok
  end=$(now)
  printf 'quit\n' >&"${ENGINE[1]}"
  wait "$ENGINE_PID" 2>/dev/null || true
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

best() { printf '%s\n' "$@" | sort -g | head -1; }

printf '%-8s %12s %12s %14s\n' "Hash MB" "ours s" "stockfish s" "ours -hash s"
for mb in "${sizes[@]}"; do
  ours=() ref=() boot=()
  for ((i = 0; i < runs; i++)); do
    ours+=("$(resize_seconds "$mb" "$vesk" -use_hce)")
    if [[ -x $stockfish ]]; then ref+=("$(resize_seconds "$mb" "$stockfish")"); fi
    boot+=("$(startup_seconds "$mb")")
  done
  printf '%-8s %12s %12s %14s\n' "$mb" "$(best "${ours[@]}")" "$( ((${#ref[@]})) && best "${ref[@]}" || echo -)" \
    "$(best "${boot[@]}")"
done
