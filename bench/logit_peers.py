#!/usr/bin/python3
"""The logistic regression with its likelihood-ratio table against statsmodels, on the same data.

Draws ROWS x FACTORS correlated drivers and default flags from a logistic model (seeded), fits the
twelve models of the table (all drivers, no constant, and each driver left out) with statsmodels'
Newton method, then times estimate on the same data in the benchmark executable, and prints both
times, their ratio, and how far the log-likelihoods and the largest statistic of the two sides lie
apart.

    bench/logit_peers.py BUILD/bench/tavirune_bench [ROWS [FACTORS]]   (Debian's python3-statsmodels)
"""
import json
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import statsmodels.api as sm


def draw(rows, factors):
    rng = np.random.default_rng(20261207)
    common = rng.standard_normal((rows, 1))
    x = 0.6 * common + rng.standard_normal((rows, factors))
    beta = np.array([0.5 if j % 3 == 0 else -0.2 if j % 3 == 1 else 0.0 for j in range(factors)])
    score = -3.0 + x @ beta
    y = (rng.random(rows) < 1.0 / (1.0 + np.exp(-score))).astype(np.int32)
    return x, y


def statsmodels_table(x, y):
    """Log-likelihood of the full model and the likelihood-ratio statistic of every coefficient."""
    full_design = sm.add_constant(x, has_constant="add")
    full = sm.Logit(y, full_design).fit(method="newton", disp=0).llf
    ratios = []
    for dropped in range(full_design.shape[1]):
        restricted = sm.Logit(y, np.delete(full_design, dropped, axis=1)).fit(method="newton", disp=0).llf
        ratios.append(-2.0 * (restricted - full))
    return full, ratios


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    bench = sys.argv[1]
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    factors = int(sys.argv[3]) if len(sys.argv) > 3 else 10
    x, y = draw(rows, factors)

    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "logit.bin")
        with open(path, "wb") as out:
            np.array([rows, factors], dtype=np.uint64).tofile(out)
            np.ascontiguousarray(x, dtype=np.float64).tofile(out)
            y.astype(np.int32).tofile(out)

        start = time.perf_counter()
        full, ratios = statsmodels_table(x, y)
        peer = time.perf_counter() - start

        run = subprocess.run(
            [bench, "--benchmark_filter=^BM_EstimateFile", "--benchmark_format=json",
             "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"],
            env=dict(os.environ, TAVIRUNE_LOGIT_DATA=path), check=True, capture_output=True, text=True)
        results = json.loads(run.stdout)["benchmarks"]
        ours = next(b for b in results if b.get("aggregate_name") == "median")

    own = ours["real_time"] / 1000.0
    own_full, own_largest = (float(v) for v in ours["label"].split())
    print(f"{rows} rows x {factors} drivers, the twelve fits of the table, load {os.getloadavg()[0]:.2f}")
    print(f"statsmodels Logit (Newton)        {peer:8.3f} s")
    print(f"estimate (median of 3, all cores) {own:8.3f} s")
    print(f"ratio estimate / statsmodels      {own / peer:8.3f}")
    print(f"log-likelihood  statsmodels {full:.10f}  estimate {own_full:.10f}")
    print(f"largest LR      statsmodels {max(ratios):.10f}  estimate {own_largest:.10f}")


if __name__ == "__main__":
    main()
