#!/usr/bin/env bash
# Builds and runs the whole suite: the Release build, then ASan+UBSan, then
# ThreadSanitizer on the threaded sessions.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_SANITIZE=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# ThreadSanitizer on the sessions that search with two threads; the engine
# they start inherits TSAN_OPTIONS, so a race in it fails the run as well.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_TSAN=ON -DVESK_SANITIZE=OFF -DVESK_TESTS=ON
cmake --build build-tsan -j "$jobs" --target vesk vesk_thread_tests
TSAN_OPTIONS=halt_on_error=1 \
  ctest --test-dir build-tsan --output-on-failure --no-tests=error -R '^tsan\..*TwoThreads'
