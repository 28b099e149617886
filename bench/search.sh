#!/usr/bin/env bash
# Search speed: our "-bench" nodes per second (single thread, hand-crafted
# evaluation) against Debian's ethereal-chess "bench", run back to back.
# Usage: bench/search.sh [build-dir]   (default: build-bench)
# Env: RUNS (default 1), ETHEREAL (path of the reference engine).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
runs=${RUNS:-1}
ethereal=${ETHEREAL:-/usr/games/ethereal-chess}

extra=()
[[ -f $build/CMakeCache.txt ]] || extra+=(-DVESK_TESTS=OFF)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${extra[@]}" >/dev/null
ninja -C "$build" vesk >/dev/null

best_ours=0 best_ref=0 signature=
for ((i = 0; i < runs; i++)); do
  line=$("$build/vesk" -use_hce -bench | grep '^total time=')
  # "total time= T seconds, nodes= N, nps= R"
  nodes=$(sed -E 's/.*nodes= ([0-9]+).*/\1/' <<<"$line")
  nps=$(sed -E 's/.*nps= ([0-9]+).*/\1/' <<<"$line")
  if [[ -n $signature && $signature != "$nodes" ]]; then
    echo "bench is not deterministic: $signature then $nodes nodes" >&2
    exit 1
  fi
  signature=$nodes
  ((nps > best_ours)) && best_ours=$nps
  if [[ -x $ethereal ]]; then
    ref=$(cd /tmp && "$ethereal" bench 2>/dev/null | sed -nE 's/^NPS *: *([0-9]+).*/\1/p')
    ((ref > best_ref)) && best_ref=$ref
  fi
done

echo "ours:     -bench nodes=$signature nps=$best_ours (best of $runs)"
if ((best_ref > 0)); then
  echo "ethereal: bench nps=$best_ref (best of $runs)"
  awk -v a="$best_ours" -v b="$best_ref" 'BEGIN { printf "ratio ours/ethereal = %.3f\n", a / b }'
fi
