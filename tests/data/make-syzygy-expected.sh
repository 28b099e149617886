#!/usr/bin/env bash
# Writes tests/data/syzygy/expected.txt: positions that fathom answered in a
# run of bench/syzygy-oracle.sh (its cache) and that the tables copied here
# can answer, with fathom's WDL and |DTZ|. Every en-passant position is kept,
# of the rest a fixed sample.
set -euo pipefail
cd "$(dirname "$0")/../.."
cache=${1:-build/syzygy-oracle/fathom-cache.txt}
count=${2:-3000}
sed 's/ | .*//' "$cache" | build/bench/syzygy_probe tests/data/syzygy fen | grep -v '^info string' |
  awk -F' [|] ' 'NR == FNR { if ($2 != "fail" && $2 != "bad") ok[$1] = 1; next }
                 ($1 in ok) && $2 !~ /fail/ { print }' - "$cache" |
  awk -v n="$count" -F' [|] ' '{ split($1, f, " "); if (f[4] != "-") ep[++e] = $0; else rest[++r] = $0 }
    END { for (i = 1; i <= e; i++) print ep[i]; step = r / (n - e); if (step < 1) step = 1
          for (i = 1; i <= r; i += step) print rest[int(i)] }' >tests/data/syzygy/expected.txt
wc -l tests/data/syzygy/expected.txt
