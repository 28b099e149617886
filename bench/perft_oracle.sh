#!/usr/bin/env bash
# Builds bench/perft_oracle and runs it against /usr/games/stockfish.
# Usage: bench/perft_oracle.sh [build-dir] [perft_oracle options...]
#   e.g. bench/perft_oracle.sh build-bench --positions 400 --seed 7
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench
if [[ $# -gt 0 && $1 != --* ]]; then
  build=$1
  shift
fi
extra=()
[[ -f $build/CMakeCache.txt ]] || extra+=(-DVESK_TESTS=OFF)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${extra[@]}" >/dev/null
ninja -C "$build" perft_oracle >/dev/null
exec "$build/bench/perft_oracle" "$@"
