#!/usr/bin/env bash
# Runs every benchmark script under our runner and under lua5.1 with hyperfine
# and prints the medians of the wall-clock times and the mean user CPU times,
# with their ratios and geometric means.
#   bench/lua/run.sh [path/to/tlua] [runs per round] [rounds]
# The machine is shared: load comes and goes over seconds, so the two
# interpreters take turns in rounds (one warm-up run each per round) instead
# of one long block each, and the figures pool all rounds.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tlua=${1:-$here/../../build/release/lua/tlua}
runs=${2:-3}
rounds=${3:-3}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for f in "$here"/*.lua; do
  name=$(basename "$f" .lua)
  for r in $(seq "$rounds"); do
    hyperfine -N -w 1 -r "$runs" --export-json "$out/$name.$r.json" "$tlua $f" "lua5.1 $f" > /dev/null 2>&1
  done
done
python3 - "$out" <<'PY'
import json, math, os, statistics, sys
out = sys.argv[1]
print("%-16s %9s %9s %6s %9s %9s %6s" % ("benchmark", "tlua", "lua5.1", "ratio", "tlua cpu", "lua cpu", "ratio"))
lw = lu = 0.0
names = sorted({f.split(".")[0] for f in os.listdir(out)})
for n in names:
    rs = [json.load(open(os.path.join(out, f)))["results"] for f in os.listdir(out) if f.split(".")[0] == n]
    w0 = statistics.median([t for r in rs for t in r[0]["times"]])
    w1 = statistics.median([t for r in rs for t in r[1]["times"]])
    u0 = statistics.mean([r[0]["user"] for r in rs])  # hyperfine gives the mean user time
    u1 = statistics.mean([r[1]["user"] for r in rs])
    lw += math.log(w0 / w1); lu += math.log(u0 / u1)
    print("%-16s %8.3fs %8.3fs %6.2f %8.3fs %8.3fs %6.2f" % (n, w0, w1, w0 / w1, u0, u1, u0 / u1))
print("geometric mean ratio: wall %.2f, cpu %.2f" % (math.exp(lw / len(names)), math.exp(lu / len(names))))
PY
