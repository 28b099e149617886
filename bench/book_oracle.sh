#!/usr/bin/env bash
# Book probe against an independent read of a Polyglot book (key computed
# from the FEN, records read in Python) on the positions of seeded random
# games' first 20 plies; prints positions compared and mismatches.
# Usage: bench/book_oracle.sh [--book FILE] [--games N] [--seed S]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
book=$root/../shared/data/polyglot/performance.bin
random64=$root/../shared/data/polyglot/random64.txt
games=2000 seed=1
while (($#)); do
  case $1 in
    --book) book=$2; shift 2 ;;
    --games) games=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVESK_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" --target book_oracle >/dev/null
"$root/build-bench/bench/book_oracle" "$book" --games "$games" --plies 20 --seed "$seed" |
  python3 "$root/bench/book_oracle.py" "$book" "$random64"
