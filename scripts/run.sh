#!/usr/bin/env bash
# The main job: build everything, then compute the example validation workbook with the
# command-line host through Tavirune.xll and print the computed sheet; then compute its .xlsx form
# and write the computed workbook, with a chart of each ROC curve, to build-release/validation-computed.xlsx.
# Further arguments go to the first `tavirune calc` (for example -o OUT.csv or --threads 2).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-release" -j "$(nproc)"
cd "$root/examples"
"$root/build-release/tavirune" calc validation.csv --sheet portfolio.csv --format table "$@"
"$root/build-release/tavirune" calc validation.xlsx -o "$root/build-release/validation-computed.xlsx"
echo "written: build-release/validation-computed.xlsx (every sheet computed, a chart beside each ROC curve)" >&2
