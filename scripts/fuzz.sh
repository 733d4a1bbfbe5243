#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) and runs each
# for a bounded time over its corpus in tests/fuzz/corpus/<target>, which grows with what it finds.
# Usage: scripts/fuzz.sh [seconds per target, default 60] [target ...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
dir="$root/build-fuzz"
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVIRUNE_SANITIZE=fuzz -DTAVIRUNE_BUILD_TESTS=OFF -DTAVIRUNE_BUILD_BENCH=OFF >/dev/null
targets=("$@")
if ((${#targets[@]} == 0)); then
  mapfile -t targets < <(cd "$root/tests/fuzz" && ls fuzz_*.cpp | sed 's/\.cpp$//')
fi
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"
mkdir -p "$dir/artifacts"
status=0
for target in "${targets[@]}"; do
  corpus="$root/tests/fuzz/corpus/$target"
  mkdir -p "$corpus"
  echo "=== fuzzing $target for ${seconds}s ==="
  if ! "$dir/tests/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -max_len=8192 \
       -print_final_stats=1 -artifact_prefix="$dir/artifacts/$target-" "$corpus" 2>"$dir/$target.log"; then
    echo "FUZZ FAILURE in $target (input kept in $dir/artifacts):"
    grep -E "ERROR|SUMMARY|#[0-9]+ " "$dir/$target.log" | head -30
    status=1
  fi
  grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb)|cov: " "$dir/$target.log" | tail -3
done
exit "$status"
