#!/bin/sh
# OpenBench's steps on a fresh clone of this repository: "make -j EXE=...",
# "./EXE bench" twice (the node count must repeat and the last line must
# parse as OpenBench parses it), and a build with EVALFILE whose binary runs
# from an empty folder with no network file. Needs g++, cmake and python3.
#   bench/openbench-dryrun.sh [NETWORK]   (default: a synthetic zero network)
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git clone -q "$repo" "$work/clone"
cd "$work/clone"

echo "== make -j EXE=vesk-test"
start=$(date +%s)
make -j EXE=vesk-test > "$work/make.log" 2>&1 || { tail -20 "$work/make.log"; exit 1; }
echo "built in $(( $(date +%s) - start )) s"

sig=""
for run in 1 2; do
  start=$(date +%s.%N)
  taskset -c 0 ./vesk-test bench > "$work/bench$run.out" 2> "$work/bench$run.err"
  end=$(date +%s.%N)
  last=$(tail -n 1 "$work/bench$run.out")
  # OpenBench: non-alphanumerics become spaces, then (\d+\s+nodes) and (\d+\s+nps).
  parsed=$(printf '%s\n' "$last" | python3 -c '
import re, sys
line = re.sub(r"[^a-zA-Z0-9]", " ", sys.stdin.read())
n = re.search(r"(\d+\s+nodes)", line); s = re.search(r"(\d+\s+nps)", line)
print(n.group(1).split()[0], s.group(1).split()[0]) if n and s else print("unparsed")')
  echo "run $run: last line '$last' -> nodes/nps $parsed, $(python3 -c "print(round($end - $start, 1))") s on one core"
  echo "  stderr: $(cat "$work/bench$run.err")"
  nodes=${parsed%% *}
  [ -z "$sig" ] && sig=$nodes
  [ "$nodes" = "$sig" ] || { echo "FAIL: node counts differ ($sig, $nodes)"; exit 1; }
done
echo "bench signature $sig"

echo "== make EXE=x EVALFILE=nets/nn.bin"
mkdir -p nets
if [ $# -ge 1 ]; then cp "$1" nets/nn.bin; else
  python3 -c '
import struct
header = struct.pack("<9H", 0, 1, 896, 42, 1, 1, 1, 0, 0)
floats = (896 + 42) + 1 + 1 + 1 + 8
open("nets/nn.bin", "wb").write(header + struct.pack("<%df" % floats, *([0.0] * floats)))'
fi
make EXE=x EVALFILE=nets/nn.bin > "$work/make2.log" 2>&1 || { tail -20 "$work/make2.log"; exit 1; }
mkdir "$work/empty"
cp x "$work/empty/x"
rm -rf nets build-make
cd "$work/empty"
out=$(printf 'uci\nisready\nposition startpos\ngo depth 3\nquit\n' | ./x 2>&1)
printf '%s\n' "$out" | grep -E "loaded NN|error|bestmove" || true
printf '%s\n' "$out" | grep -q "^bestmove" || { echo "FAIL: no bestmove from the built-in network"; exit 1; }
printf '%s\n' "$out" | grep -q "error loading NN" && { echo "FAIL: the built-in network did not load"; exit 1; }
ls "$work/empty"
echo "ok"
