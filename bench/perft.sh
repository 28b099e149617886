#!/usr/bin/env bash
# Start-position perft(6) speed: our engine against /usr/games/stockfish.
# Usage: bench/perft.sh [build-dir]   (default: build-bench)
# Env: RUNS (default 3, best run counts), STOCKFISH (oracle path).
# Exits non-zero when our node count is wrong.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
runs=${RUNS:-3}
stockfish=${STOCKFISH:-/usr/games/stockfish}
depth=6
expected=119060324
startfen="rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"

# A fresh bench directory skips the test suite; an existing one keeps its options.
extra=()
[[ -f $build/CMakeCache.txt ]] || extra+=(-DVESK_TESTS=OFF)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${extra[@]}" >/dev/null
ninja -C "$build" vesk >/dev/null
if grep -q '^VESK_\(SANITIZE\|TSAN\):BOOL=ON' "$build/CMakeCache.txt"; then
  echo "warning: $build has sanitizers on; timings are not representative" >&2
fi

now() { echo "${EPOCHREALTIME/[.,]/}"; }  # microseconds

# Our engine: one console process, RUNS perft commands; the engine's own nps
# is the figure, the wall time per command is a cross-check.
coproc OURS { exec "$build/vesk" -c -use_hce 2>&1; }
echo "fen $startfen" >&"${OURS[1]}"
best_ours=0 best_ours_wall=0 our_nodes=
for ((i = 0; i < runs; i++)); do
  t0=$(now)
  echo "perft $depth" >&"${OURS[1]}"
  while IFS= read -r line <&"${OURS[0]}"; do
    [[ $line == visited* ]] && break
  done
  t1=$(now)
  # "visited N nodes in S seconds, nps= R"
  read -r _ nodes _ _ _ _ _ nps <<<"$line"
  our_nodes=$nodes
  (( nps > best_ours )) && best_ours=$nps
  wall=$(( nodes * 1000000 / (t1 - t0) ))
  (( wall > best_ours_wall )) && best_ours_wall=$wall
done
echo quit >&"${OURS[1]}"
wait "$OURS_PID" || true

echo "ours:      perft($depth) nodes=$our_nodes nps=$best_ours (engine-reported, best of $runs; wall-clock nps=$best_ours_wall)"
status=0
if [[ $our_nodes != "$expected" ]]; then
  echo "FAIL: ours counted $our_nodes nodes, expected $expected" >&2
  status=1
fi

if [[ -x $stockfish ]]; then
  # Timed per command inside one open process, after readyok, so start-up
  # and network loading are outside the measurement.
  coproc SF { exec "$stockfish" 2>&1; }
  printf 'uci\nisready\nposition fen %s 0 1\n' "$startfen" >&"${SF[1]}"
  while IFS= read -r line <&"${SF[0]}"; do
    [[ $line == readyok* ]] && break
  done
  best_sf_us=0 sf_nodes=
  for ((i = 0; i < runs; i++)); do
    t0=$(now)
    echo "go perft $depth" >&"${SF[1]}"
    while IFS= read -r line <&"${SF[0]}"; do
      [[ $line == "Nodes searched:"* ]] && break
    done
    t1=$(now)
    sf_nodes=${line##*: }
    us=$(( t1 - t0 ))
    (( best_sf_us == 0 || us < best_sf_us )) && best_sf_us=$us
  done
  echo quit >&"${SF[1]}"
  wait "$SF_PID" || true
  best_sf=$(( sf_nodes * 1000000 / best_sf_us ))
  echo "stockfish: perft($depth) nodes=$sf_nodes nps=$best_sf (wall clock per command, best of $runs)"
  awk -v a="$best_ours" -v b="$best_sf" -v w="$best_ours_wall" \
    'BEGIN { printf "ratio ours/stockfish = %.3f (wall-clock ours/stockfish = %.3f)\n", a / b, w / b }'
else
  echo "stockfish: $stockfish not found, no comparison"
fi
exit $status
