#!/usr/bin/env bash
# A fastchess match of a network against the hand-crafted evaluation of the
# same binary (or against another network with --base-net): Threads 1, both
# colours per opening, an SPRT with --sprt. Each side runs in its own
# directory, where it finds its "nn.bin".
# Usage: bench/net-match.sh --net FILE [--base-net FILE] [--engine BIN] [--tc 10+0.1] [--games 400]
#          [--concurrency 2] [--hash 16] [--sprt] [--elo0 0] [--elo1 10] [--timemargin 1000]
#          [--openings FILE] [--out DIR] [--adjudicate] [--nodes N]
# --nodes N plays every move at N nodes instead of a clock (the two
# evaluations compared at equal search effort, speed left out).
# --adjudicate ends a game as a draw once both engines score within 10 cp for
# 8 moves after move 40, and as a win once both agree on 1,000 cp or more for
# 3 moves (the network's scores stop at 1,266): fewer clock hours per game.
# Env: FASTCHESS (the binary; default: built by ../shared/tools/build-fastchess.sh).
# A copy of the engine is played, so rebuilding meanwhile changes nothing.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tc=10+0.1 games=400 concurrency=2 hash=16 elo0=0 elo1=10 margin=1000 sprt=0 adjudicate=0 nodes=
net= base_net= engine=$root/build/vesk
openings=$root/../shared/data/openings/noob_3moves.epd
out=$root/build-bench/net-matches
while (($#)); do
  case $1 in
    --net) net=$2; shift 2 ;;
    --base-net) base_net=$2; shift 2 ;;
    --engine) engine=$2; shift 2 ;;
    --tc) tc=$2; shift 2 ;;
    --games) games=$2; shift 2 ;;
    --concurrency) concurrency=$2; shift 2 ;;
    --hash) hash=$2; shift 2 ;;
    --sprt) sprt=1; shift ;;
    --elo0) elo0=$2; shift 2 ;;
    --elo1) elo1=$2; shift 2 ;;
    --timemargin) margin=$2; shift 2 ;;
    --openings) openings=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --adjudicate) adjudicate=1; shift ;;
    --nodes) nodes=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
[[ -n $net ]] || { echo "--net FILE is required" >&2; exit 2; }
[[ -f $net ]] || { echo "no network at $net" >&2; exit 2; }
[[ -z $base_net || -f $base_net ]] || { echo "no network at $base_net" >&2; exit 2; }
fastchess=${FASTCHESS:-$("$root/../shared/tools/build-fastchess.sh")}

run=$(realpath -m "$out/$(date +%Y%m%d-%H%M%S)")
mkdir -p "$run/candidate" "$run/base"
# One side: its directory, the binary copy, its network or the switch for none.
prepare() {
  local side=$1 file=$2 switch=
  cp "$engine" "$run/$side/vesk"
  if [[ -n $file ]]; then cp "$file" "$run/$side/nn.bin"; else switch=-use_hce; fi
  printf '#!/bin/sh\ncd "%s" && exec ./vesk %s "$@"\n' "$run/$side" "$switch" >"$run/$side/engine.sh"
  chmod +x "$run/$side/engine.sh"
}
prepare candidate "$net"
prepare base "$base_net"

test_args=()
((sprt)) && test_args=(-sprt elo0="$elo0" elo1="$elo1" alpha=0.05 beta=0.05 model=logistic)
((adjudicate)) && test_args+=(-draw movenumber=40 movecount=8 score=10 -resign movecount=3 score=1000 twosided=true)
limit=(tc="$tc" timemargin="$margin")
[[ -z $nodes ]] || limit=(tc=inf nodes="$nodes")
base_name=hce
[[ -z $base_net ]] || base_name=base-net
cd "$run"
"$fastchess" -engine cmd="$run/candidate/engine.sh" name=net -engine cmd="$run/base/engine.sh" name="$base_name" \
  -each "${limit[@]}" option.Hash="$hash" option.Threads=1 \
  -openings file="$(realpath -m "$openings")" format=epd order=random -srand "$RANDOM" \
  -rounds $((games / 2)) -games 2 -repeat -concurrency "$concurrency" -recover "${test_args[@]}" \
  -pgnout file="$run/games.pgn" -log file="$run/fastchess.log" level=warn \
  -ratinginterval 10 >"$run/match.txt" 2>&1 || true
limit_text="tc $tc"
[[ -z $nodes ]] || limit_text="$nodes nodes a move"
echo "network $net against ${base_net:-the hand-crafted evaluation}, $limit_text ($run)"
grep -E '^(Results of|Elo:|Games:|LLR|Ptnml|SPRT)' "$run/match.txt" | tail -6 || true
