#!/usr/bin/env bash
# Builds and runs the whole suite: the Release build, then ASan+UBSan, then
# ThreadSanitizer on the threaded sessions. Each stage says how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
# Line tables are enough for sanitizer reports and build much faster than -g.
debug_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")

stage_start=$SECONDS
stage_done() { echo "== $1: $((SECONDS - stage_start)) s"; stage_start=$SECONDS; }

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
# The benchmark programs are built by the scripts that run them.
cmake --build build -j "$jobs" --target vesk vesk-train vesk_tests vesk_train_tests
stage_done "Release build"
ctest --test-dir build --output-on-failure -j "$jobs"
stage_done "Release tests"

cmake -S . -B build-asan -G Ninja "${debug_flags[@]}" -DVESK_SANITIZE=ON
cmake --build build-asan -j "$jobs" --target vesk vesk-train vesk_tests vesk_train_tests
stage_done "ASan+UBSan build"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
stage_done "ASan+UBSan tests"

# ThreadSanitizer on the sessions that search with two threads; the engine
# they start inherits TSAN_OPTIONS, so a race in it fails the run as well.
cmake -S . -B build-tsan -G Ninja "${debug_flags[@]}" -DVESK_TSAN=ON -DVESK_SANITIZE=OFF -DVESK_TESTS=ON
cmake --build build-tsan -j "$jobs" --target vesk vesk_thread_tests
stage_done "TSan build"
TSAN_OPTIONS=halt_on_error=1 \
  ctest --test-dir build-tsan --output-on-failure --no-tests=error -R '^tsan\..*TwoThreads'
stage_done "TSan tests"
