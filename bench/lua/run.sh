#!/usr/bin/env bash
# Runs every benchmark script under our runner and under lua5.1 with hyperfine
# (at least 5 runs each, after one warm-up run) and prints the medians of the
# wall-clock times and the mean user CPU times, with their ratios and geometric means.
#   bench/lua/run.sh [path/to/tlua] [runs]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tlua=${1:-$here/../../build/rel/lua/tlua}
runs=${2:-5}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for f in "$here"/*.lua; do
  name=$(basename "$f" .lua)
  hyperfine -N -w 1 -r "$runs" --export-json "$out/$name.json" "$tlua $f" "lua5.1 $f" > /dev/null 2>&1
done
python3 - "$out" <<'PY'
import json, math, os, statistics, sys
out = sys.argv[1]
print("%-16s %9s %9s %6s %9s %9s %6s" % ("benchmark", "tlua", "lua5.1", "ratio", "tlua cpu", "lua cpu", "ratio"))
lw = lu = 0.0
names = sorted(f[:-5] for f in os.listdir(out))
for n in names:
    r = json.load(open(os.path.join(out, n + ".json")))["results"]
    w0, w1 = r[0]["median"], r[1]["median"]
    u0, u1 = r[0]["user"], r[1]["user"]  # hyperfine gives the mean user time
    lw += math.log(w0 / w1); lu += math.log(u0 / u1)
    print("%-16s %8.3fs %8.3fs %6.2f %8.3fs %8.3fs %6.2f" % (n, w0, w1, w0 / w1, u0, u1, u0 / u1))
print("geometric mean ratio: wall %.2f, cpu %.2f" % (math.exp(lw / len(names)), math.exp(lu / len(names))))
PY
