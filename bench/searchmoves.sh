#!/bin/sh
# "go searchmoves" on N random positions (default 2000) with random subsets
# of one to four legal moves, depths 1 to 5: "bestmove" must always be one
# of them, and a single listed move is answered after one iteration. Runs
# the suite's test with a larger count; needs the Release tree in build/.
#   bench/searchmoves.sh [N]
set -eu
cd "$(dirname "$0")/.."
n=${1:-2000}
start=$(date +%s)
VESK_SEARCHMOVES_POSITIONS=$n ./build/tests/vesk_tests --gtest_filter=UciAnalysis.SearchmovesKeepsTheAnswerInTheList
echo "$n positions in $(( $(date +%s) - start )) s"
