#!/usr/bin/env bash
# A fastchess SPRT of the hand-crafted evaluation with a params file (the
# candidate) against the same engine without one or with another params
# file (the base): Threads 1, both colours per opening. Each engine runs in
# its own directory, where it finds its "params.txt".
# Usage: bench/params-match.sh --params FILE [--base-params FILE] [--engine BIN] [--base-engine BIN]
#          [--tc 10+0.1] [--games 1000] [--concurrency 1] [--hash 16] [--elo0 0] [--elo1 10]
#          [--timemargin 1000]
#          [--openings FILE] [--out DIR] [--adjudicate]
# --adjudicate ends a game as a draw once both engines score within 10 cp for
# 8 moves after move 40, and as a win once both agree on 1,000 cp or more for
# 3 moves: fewer clock hours per game.
# Env: FASTCHESS (the binary; default: built by ../shared/tools/build-fastchess.sh).
# The engines default to build/vesk; a copy of each is played, so rebuilding
# meanwhile changes nothing. The time margin (ms) forgives scheduler delays
# on a loaded machine; both sides get it.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tc=10+0.1 games=1000 concurrency=1 hash=16 elo0=0 elo1=10 margin=1000 adjudicate=0
params= base_params= engine=$root/build/vesk base_engine=
openings=$root/../shared/data/openings/noob_3moves.epd
out=$root/build-bench/params-matches
while (($#)); do
  case $1 in
    --params) params=$2; shift 2 ;;
    --base-params) base_params=$2; shift 2 ;;
    --engine) engine=$2; shift 2 ;;
    --base-engine) base_engine=$2; shift 2 ;;
    --tc) tc=$2; shift 2 ;;
    --games) games=$2; shift 2 ;;
    --concurrency) concurrency=$2; shift 2 ;;
    --hash) hash=$2; shift 2 ;;
    --timemargin) margin=$2; shift 2 ;;
    --elo0) elo0=$2; shift 2 ;;
    --elo1) elo1=$2; shift 2 ;;
    --openings) openings=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --adjudicate) adjudicate=1; shift ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
[[ -n $params || -n $base_engine ]] || { echo "--params FILE or --base-engine BIN is required" >&2; exit 2; }
base_engine=${base_engine:-$engine}
fastchess=${FASTCHESS:-$("$root/../shared/tools/build-fastchess.sh")}

stamp=$(date +%Y%m%d-%H%M%S)
run=$(realpath -m "$out/$stamp")
mkdir -p "$run/candidate" "$run/base"
# One engine side: its directory, its binary copy, its params file, a wrapper.
prepare() {
  local side=$1 bin=$2 file=$3
  cp "$bin" "$run/$side/vesk"
  [[ -z $file ]] || cp "$file" "$run/$side/params.txt"
  printf '#!/bin/sh\ncd "%s" && exec ./vesk -use_hce "$@"\n' "$run/$side" >"$run/$side/engine.sh"
  chmod +x "$run/$side/engine.sh"
}
prepare candidate "$engine" "$params"
prepare base "$base_engine" "$base_params"

adjudication=()
((adjudicate)) && adjudication=(-draw movenumber=40 movecount=8 score=10 -resign movecount=3 score=1000 twosided=true)
cd "$run"
"$fastchess" -engine cmd="$run/candidate/engine.sh" name=candidate -engine cmd="$run/base/engine.sh" name=base \
  -each tc="$tc" timemargin="$margin" option.Hash="$hash" option.Threads=1 \
  -openings file="$(realpath -m "$openings")" format=epd order=random -srand "$RANDOM" \
  -rounds $((games / 2)) -games 2 -repeat -concurrency "$concurrency" -recover "${adjudication[@]}" \
  -sprt elo0="$elo0" elo1="$elo1" alpha=0.05 beta=0.05 model=logistic \
  -pgnout file="$run/games.pgn" -log file="$run/fastchess.log" level=warn \
  -ratinginterval 10 >"$run/match.txt" 2>&1 || true
echo "candidate ${params:-$engine} against base ${base_params:-$base_engine}, tc $tc ($run)"
grep -E '^(Results of|Elo:|Games:|LLR|Ptnml|SPRT)' "$run/match.txt" | tail -6 || true
