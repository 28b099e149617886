#!/usr/bin/env bash
# The book maker on the shared PGN collections and on a PGN of at least
# 50,000 games (the collections, normalised by pgn-extract, repeated):
# every book must be accepted by Debian's polyglot (info-book, dump-book),
# be sorted, and hold exactly the weights an independent recount gives
# (bench/book_recount.py). Times "vesk -mkbook" against "polyglot make-book"
# on the big PGN.
# Usage: bench/book_maker_check.sh [--games 50000] [--out DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
data=$root/../shared/data
random64=$data/polyglot/random64.txt
want_games=50000 out=$root/build-bench/book-maker
while (($#)); do
  case $1 in
    --games) want_games=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
PATH=$PATH:/usr/games
for tool in polyglot pgn-extract python3; do
  command -v $tool >/dev/null || { echo "needs $tool" >&2; exit 2; }
done
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVESK_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" --target vesk >/dev/null
vesk=$root/build-bench/vesk
rm -rf "$out" && mkdir -p "$out"
cd "$out"

# Accepted by polyglot: info-book exits 0 and reports, dump-book writes both colours.
polyglot_accepts() {
  polyglot info-book -bin "$1" >"$1.info" 2>&1 && grep -q "Lines for white" "$1.info" &&
    polyglot dump-book -bin "$1" -color white -out "$1.white" >/dev/null 2>&1 &&
    polyglot dump-book -bin "$1" -color black -out "$1.black" >/dev/null 2>&1
}

make_book() {  # PGN BOOK: our maker, seconds on stdout
  local start=$(date +%s.%N)
  "$vesk" -use_hce -quiet -mkbook "$1" >"$2.log" 2>&1
  mv tmp_book.bin "$2"
  echo "$(date +%s.%N) - $start" | bc
}

status=0
echo "== raw collections"
for pgn in "$data"/pgn/*.pgn; do
  name=$(basename "$pgn" .pgn)
  make_book "$pgn" "$name.bin" >/dev/null
  size=$(stat -c %s "$name.bin")
  if polyglot_accepts "$name.bin"; then ok=yes; else ok=NO; status=1; fi
  printf '%-32s entries %6d  polyglot accepts: %s  (%s)\n' "$name" $((size / 16)) "$ok" \
    "$(grep -o 'ngames= [0-9]*, nmoves= [0-9]*' "$name.bin.log")"
done

echo "== normalised collections, recounted"
for pgn in "$data"/pgn/*.pgn; do
  pgn-extract -s "$pgn" 2>/dev/null
done >collections.pgn
pgn-extract -s -Wuci --fencomments --nocomments --novars collections.pgn >collections-uci.pgn 2>/dev/null
make_book collections.pgn collections.bin >/dev/null
polyglot_accepts collections.bin || status=1
python3 "$root/bench/book_recount.py" collections.pgn collections-uci.pgn collections.bin "$random64" || status=1

games=$(grep -c '^\[Result ' collections.pgn)
copies=$(((want_games + games - 1) / games))
echo "== $copies copies of $games games"
for ((i = 0; i < copies; ++i)); do cat collections.pgn; done >big.pgn
for ((i = 0; i < copies; ++i)); do cat collections-uci.pgn; done >big-uci.pgn
echo "games in big.pgn: $(grep -c '^\[Result ' big.pgn), $(du -m big.pgn | cut -f1) MB"
ours=$(make_book big.pgn big.bin)
polyglot_accepts big.bin || status=1
python3 "$root/bench/book_recount.py" big.pgn big-uci.pgn big.bin "$random64" || status=1
start=$(date +%s.%N)
polyglot make-book -pgn big.pgn -bin polyglot-big.bin >polyglot-make.log 2>&1
theirs=$(echo "$(date +%s.%N) - $start" | bc)
printf 'time for the big book: vesk -mkbook %.2f s (%d entries), polyglot make-book %.2f s (%d entries)\n' \
  "$ours" $(($(stat -c %s big.bin) / 16)) "$theirs" $(($(stat -c %s polyglot-big.bin) / 16))
exit $status
