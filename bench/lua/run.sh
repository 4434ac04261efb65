#!/usr/bin/env bash
# Runs every benchmark script under our runner and under lua5.1 with hyperfine
# (median of at least 5 runs each) and prints the table of medians.
#   bench/lua/run.sh [path/to/tlua]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tlua=${1:-$here/../../build/rel/lua/tlua}
out=$(mktemp -d)
printf "%-18s %10s %10s %7s\n" benchmark tlua lua5.1 ratio
logsum=0; n=0
for f in "$here"/*.lua; do
  name=$(basename "$f" .lua)
  hyperfine -N -w 1 -r 5 --export-json "$out/$name.json" "$tlua $f" "lua5.1 $f" > /dev/null
  read -r ours theirs < <(python3 -c "
import json,sys
d=json.load(open('$out/$name.json'))['results']
print(d[0]['median'], d[1]['median'])")
  ratio=$(python3 -c "print('%.2f' % ($ours / $theirs))")
  printf "%-18s %9.3fs %9.3fs %7s\n" "$name" "$ours" "$theirs" "$ratio"
  logsum=$(python3 -c "import math; print($logsum + math.log($ours / $theirs))")
  n=$((n + 1))
done
python3 -c "import math; print('geometric mean ratio: %.2f' % math.exp($logsum / $n))"
rm -rf "$out"
