#!/usr/bin/env bash
# The benchmarks of the worksheet functions built twice on this machine, for Linux and for Windows
# x64 (MinGW-w64, run under wine), run one after the other, and their times set side by side with
# the Windows/Linux ratio of each. The benchmarks that need the stand-in host or the command-line
# host exist on Linux only and are left out.
# Usage: bench/windows.sh
#   TAVIRUNE_BENCH_REPETITIONS  repetitions of each benchmark, medians compared (default 3)
#   TAVIRUNE_BENCH_MIN_TIME     seconds each repetition runs at least (default 0.2)
#   TAVIRUNE_BENCH_FILTER       regular expression of the benchmarks to run (default: all of Windows')
#   TAVIRUNE_WINDOWS_SOURCES    where scripts/windows-sources.sh unpacks (default build-windows-sources)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
repetitions="${TAVIRUNE_BENCH_REPETITIONS:-3}"
min_time="${TAVIRUNE_BENCH_MIN_TIME:-0.2}"
sources="${TAVIRUNE_WINDOWS_SOURCES:-$root/build-windows-sources}"
linux="$root/build-bench-linux"
windows="$root/build-bench-windows"
jobs="$(nproc)"
start=$SECONDS

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

echo "=== sources ==="
"$root/scripts/windows-sources.sh" "$sources"

echo "=== Windows x64 release build ==="
cmake -S "$root" -B "$windows" -G Ninja "${launcher[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTAVIRUNE_WERROR=ON -DTAVIRUNE_BUILD_TESTS=OFF -DTAVIRUNE_BUILD_BENCH=ON \
  -DTAVIRUNE_WINDOWS_SOURCES="$sources" >/dev/null
cmake --build "$windows" -j "$jobs" --target tavirune_bench

echo "=== Linux release build ==="
cmake -S "$root" -B "$linux" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release -DTAVIRUNE_WERROR=ON \
  -DTAVIRUNE_BUILD_TESTS=OFF -DTAVIRUNE_BUILD_BENCH=ON >/dev/null
cmake --build "$linux" -j "$jobs" --target tavirune_bench

# A wine prefix of the build's own, made before any timing starts; its server is ended at the end.
export WINEPREFIX="$windows/wine-prefix" WINEDEBUG=-all
trap 'wineserver -k 2>/dev/null || true' EXIT
[[ -f "$WINEPREFIX/system.reg" ]] || wineboot -i >/dev/null 2>&1
windows_bench() { (cd "$windows/bench" && wine ./tavirune_bench.exe "$@"); }

# The same benchmarks on both: those of the Windows build, unless a filter is given.
if [[ -n "${TAVIRUNE_BENCH_FILTER:-}" ]]; then
  filter="$TAVIRUNE_BENCH_FILTER"
else
  filter="^($(windows_bench --benchmark_list_tests=true | tr -d '\r' | paste -sd '|'))\$"
fi
flags=(--benchmark_filter="$filter" --benchmark_repetitions="$repetitions" --benchmark_min_time="$min_time"
  --benchmark_report_aggregates_only=true --benchmark_out_format=json)

echo "=== Linux run ==="
(cd "$linux/bench" && ./tavirune_bench "${flags[@]}" --benchmark_out=linux.json)
echo "=== Windows run (wine) ==="
windows_bench "${flags[@]}" --benchmark_out=windows.json

echo "=== Windows / Linux (medians of $repetitions, wall-clock time) ==="
python3 - "$linux/bench/linux.json" "$windows/bench/windows.json" <<'PY'
import json
import math
import sys

SCALE = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def medians(path):
    with open(path) as f:
        run = json.load(f)
    times = {}
    for b in run["benchmarks"]:
        # With one repetition there are no aggregates: the run itself is the figure.
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        times[b["run_name"]] = b["real_time"] * SCALE[b["time_unit"]]
    return run["context"], times


linux_context, linux = medians(sys.argv[1])
windows_context, windows = medians(sys.argv[2])
for label, context in (("Linux", linux_context), ("Windows", windows_context)):
    load = context.get("load_avg", [])
    print(f"{label}: {context.get('num_cpus')} CPUs at {context.get('mhz_per_cpu')} MHz, Google Benchmark built "
          f"{context.get('library_build_type')}" + (f", load {load[0]:.2f}" if load else ""))

def ms(value):  # four significant digits without an exponent
    digits = 3 - math.floor(math.log10(value)) if value > 0 else 0
    return f"{value:.{max(0, digits)}f}"


names = [n for n in linux if n in windows]
width = max([len(n) for n in names] + [9])
print(f"{'benchmark':<{width}} {'Linux ms':>12} {'Windows ms':>12} {'ratio':>7}")
logs = []
for name in names:
    ratio = windows[name] / linux[name] if linux[name] > 0 else float("nan")
    if ratio > 0 and math.isfinite(ratio):
        logs.append(math.log(ratio))
    print(f"{name:<{width}} {ms(linux[name]):>12} {ms(windows[name]):>12} {ratio:>7.2f}")
if logs:
    print(f"{'geometric mean of the ratios':<{width}} {'':>12} {'':>12} {math.exp(sum(logs) / len(logs)):>7.2f}")
for label, only in (("Linux", set(linux) - set(windows)), ("Windows", set(windows) - set(linux))):
    if only:
        print(f"only on {label}: {', '.join(sorted(only))}")
PY
echo "=== $((SECONDS - start)) s ==="
