#!/usr/bin/env bash
# The long soak: a million calls of every function through the stand-in host on eight
# threads, from a Release build; prints the time and the resident set after the first 10,000
# calls and at the end.
# Usage: bench/soak.sh [calls, default 1000000]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${TAVIRUNE_BUILD_DIR:-$root/build-soak}"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVIRUNE_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target soak_tests
TAVIRUNE_SOAK_CALLS="${1:-1000000}" "$dir/tests/soak_tests" | grep -E "soak:|OK|FAILED|Failure|Expected|Which is|first at"
