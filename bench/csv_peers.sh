#!/usr/bin/env bash
# tavirune against the tools an analyst would otherwise use, on one CSV of 1,048,576 debtors x 16
# columns, in one run on this machine: reading the file (time and peak memory) against
# data.table's fread and pandas' read_csv, and the whole process from the CSV to the AUROC with
# its interval against Rscript with fread + pROC and python with pandas + sklearn. Prints both
# sides of each ratio. The peers are Debian's packages (r-base-core, r-cran-data.table,
# r-cran-proc, python3-pandas, python3-sklearn), installed here for this script only.
# Usage: bench/csv_peers.sh [BUILD]   (default build-release; its tavirune and Tavirune.xll)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-release}"
peers=(r-base-core r-cran-data.table r-cran-proc python3-pandas python3-sklearn)
missing=()
for package in "${peers[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
python=/usr/bin/python3  # Debian's, with Debian's pandas and sklearn
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
csv="$work/portfolio.csv"

# Score, default flag, PD and thirteen risk drivers of each debtor, seeded.
"$python" - "$csv" <<'PY'
import sys, numpy as np
rng = np.random.default_rng(20261206)
n = 1048575  # and the header: a full sheet
z = rng.standard_normal(n)
pd_ = 1 / (1 + np.exp(4 + 1.2 * z))
score = np.round(500 + 100 * (z + 0.5 * rng.standard_normal(n))).astype(int)
default = (rng.random(n) < pd_).astype(int)
drivers = np.round(rng.standard_normal((n, 13)) * 100, 3)
with open(sys.argv[1], "w") as f:
    f.write("score,default,pd," + ",".join(f"x{i}" for i in range(1, 14)) + "\n")
    rows = np.column_stack([score, default]).astype(str)
    for i in range(n):
        f.write(f"{rows[i,0]},{rows[i,1]},{pd_[i]:.6f}," + ",".join(map(repr, drivers[i].tolist())) + "\n")
PY
printf 'score,default\n1,0\n' >"$work/tiny.csv"
size=$(stat -c %s "$csv")
echo "file: 1,048,576 x 16, $((size / 1000000)) MB"

# Wall seconds and peak resident KiB of one command.
measure() { /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>"$work/err"; cat "$work/time"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

tavirune="$build/tavirune"
export TAVIRUNE_XLL="$build/Tavirune.xll"
cat "$csv" >/dev/null  # the file in the page cache for every reader alike

read -r start_s _ < <(measure "$tavirune" eval --sheet "$work/tiny.csv" 'getVersion()')
read -r read_s read_kb < <(measure "$tavirune" eval --sheet "$csv" 'getVersion()')
fread_s=$(Rscript -e 'suppressMessages(library(data.table)); setDTthreads(0); f <- commandArgs(TRUE)[1]; t <- system.time(d <- fread(f))[["elapsed"]]; cat(t)' "$csv")
read -r _ fread_kb < <(measure Rscript -e 'suppressMessages(library(data.table)); setDTthreads(0); d <- fread(commandArgs(TRUE)[1])' "$csv")
pandas_s=$("$python" -c 'import sys, time, pandas; t = time.perf_counter(); d = pandas.read_csv(sys.argv[1]); print(time.perf_counter() - t)' "$csv")
read -r _ pandas_kb < <(measure "$python" -c 'import sys, pandas; d = pandas.read_csv(sys.argv[1])' "$csv")
ours_s=$(awk -v a="$read_s" -v b="$start_s" 'BEGIN { printf "%.3f", a - b }')
echo
echo "reading (tavirune: its process on the file less its process on a two-line file, $start_s s)"
printf '  tavirune %6.3f s  fread %6.3f s  ratio %s   pandas %6.3f s  ratio %s\n' "$ours_s" "$fread_s" "$(ratio "$ours_s" "$fread_s")" \
  "$pandas_s" "$(ratio "$ours_s" "$pandas_s")"
printf '  peak memory: tavirune %d MiB = %s x the file  (fread process %d MiB, pandas process %d MiB)\n' $((read_kb / 1024)) \
  "$(ratio "$((read_kb * 1024))" "$size")" $((fread_kb / 1024)) $((pandas_kb / 1024))

read -r ours_e2e ours_kb < <(measure "$tavirune" eval --sheet "$csv" 'rocCurveIndividual(A2:A1048576,B2:B1048576,0,0,10)')
read -r r_e2e r_kb < <(measure Rscript -e 'suppressMessages({library(data.table); library(pROC)}); setDTthreads(0); d <- fread(commandArgs(TRUE)[1]); r <- roc(d$default, d$score, direction = ">", quiet = TRUE); print(ci.auc(r))' "$csv")
read -r py_e2e py_kb < <(measure "$python" -c 'import sys, pandas
from sklearn.metrics import roc_auc_score, roc_curve
d = pandas.read_csv(sys.argv[1]); print(roc_auc_score(d["default"], -d["score"])); roc_curve(d["default"], -d["score"])' "$csv")
echo
echo "CSV to AUROC, whole processes"
printf '  tavirune %6.2f s  Rscript fread + pROC %6.2f s  ratio %s   python pandas + sklearn %6.2f s  ratio %s\n' "$ours_e2e" "$r_e2e" \
  "$(ratio "$ours_e2e" "$r_e2e")" "$py_e2e" "$(ratio "$ours_e2e" "$py_e2e")"
printf '  peak memory: tavirune %d MiB  R %d MiB  python %d MiB\n' $((ours_kb / 1024)) $((r_kb / 1024)) $((py_kb / 1024))
