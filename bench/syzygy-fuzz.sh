#!/usr/bin/env bash
# Damaged tablebase files under AddressSanitizer and UndefinedBehaviorSanitizer:
# flipped, truncated, extended, emptied copies and wrong magics, probed for
# SECONDS; prints the number of damaged tables and positions probed.
#
#   bench/syzygy-fuzz.sh [TABLE_DIR] [SECONDS] [SEED]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-/work/shared/data/syzygy}
seconds=${2:-150}
seed=${3:-1}
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" -DVESK_SANITIZE=ON >/dev/null
cmake --build build-asan --target syzygy_probe >/dev/null
start=$SECONDS
log=build-asan/syzygy-fuzz.stderr
# The table messages go to stderr beside any sanitizer report: count them apart.
set +e
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  timeout $((seconds + 120)) build-asan/bench/syzygy_probe "$dir" fuzz "$seconds" "$seed" 2>"$log" |
  grep -v '^info string'
status=${PIPESTATUS[0]}
set -e
echo "ran $((SECONDS - start)) s, exit status $status"
echo "table messages: $(grep -c -E '^(Corrupted table|Could not)' "$log")"
others=$(grep -v -E '^(Corrupted table|Could not)' "$log" || true)
if [ -n "$others" ]; then echo "other output on stderr:"; head -40 <<<"$others"; exit 1; fi
exit "$status"
