#!/usr/bin/env bash
# rocCurveIndividual alone (AUROC and its interval) against sklearn's roc_auc_score and roc_curve
# on 1,048,576 debtors held in memory, in one run on this machine: portfolios of the same draws as
# bench/bench_discrimination.cpp (about 2% defaults; scores of 1000 grades with many ties, and
# all-distinct normal scores), the lowest score riskiest. Prints both sides of each ratio, with
# std::sort of the (score, indicator) pairs beside them. sklearn is Debian's python3-sklearn,
# installed here for this script only.
# Usage: bench/roc_peers.sh [BUILD]   (default build-release; its bench/tavirune_bench)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-release}"
if ! dpkg-query -W -f='${Status}' python3-sklearn 2>/dev/null | grep -q "install ok installed"; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends python3-sklearn >/dev/null
fi
python=/usr/bin/python3  # Debian's, with Debian's sklearn
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Best of five, in ms, on both sides: on a shared machine the least disturbed run says most.
"$python" - >"$work/sklearn" <<'PY'
import time
import numpy as np
from sklearn.metrics import roc_auc_score, roc_curve

rng = np.random.default_rng(42)
n = 1048576
d = rng.random(n) < 0.02
ties = rng.integers(0, 1000, n) / 10.0 - np.where(d, 20.0, 0.0)
distinct = rng.standard_normal(n) - np.where(d, 1.0, 0.0)

def best(f):
    times = []
    for _ in range(5):
        t = time.perf_counter()
        f()
        times.append(time.perf_counter() - t)
    return 1000 * min(times)

for name, scores in (("ties", ties), ("distinct", distinct)):
    print(name, best(lambda: roc_auc_score(d, -scores)), best(lambda: roc_curve(d, -scores)))
PY

(cd "$build/bench" && ./tavirune_bench --benchmark_filter='^BM_(SortScoreIndicatorPairs|RocCurveIndividual|RocCurveIndividualDistinct)$' \
  --benchmark_repetitions=5 --benchmark_format=json 2>/dev/null) >"$work/ours.json"

"$python" - "$work/sklearn" "$work/ours.json" <<'PY'
import json, os, sys

peers = {}
for line in open(sys.argv[1]):
    name, auc, curve = line.split()
    peers[name] = (float(auc), float(curve))
run = json.load(open(sys.argv[2]))
ours = {}
for b in run["benchmarks"]:
    if b.get("run_type") == "iteration" and b["time_unit"] == "ms":
        ours[b["run_name"]] = min(ours.get(b["run_name"], float("inf")), b["real_time"])
print(f"load average {os.getloadavg()[0]:.2f} on {os.cpu_count()} CPUs; best of 5 on both sides, wall-clock ms")
for name, bench in (("ties", "BM_RocCurveIndividual"), ("distinct", "BM_RocCurveIndividualDistinct")):
    auc, curve = peers[name]
    print(f"{name:>8}: rocCurveIndividual {ours[bench]:7.1f}  sklearn roc_auc_score {auc:7.1f}  ratio {ours[bench] / auc:.2f}"
          f"   roc_curve {curve:7.1f}  ratio {ours[bench] / curve:.2f}")
print(f"std::sort of the pairs (ties) {ours['BM_SortScoreIndicatorPairs']:7.1f}")
PY
