#!/usr/bin/env bash
# The whole test suite: a release build, an AddressSanitizer+UndefinedBehaviorSanitizer build,
# a ThreadSanitizer build of the threaded tests, a bounded run of every fuzz target, and the
# Windows x64 cross build with its tests run under wine. Ends non-zero on any failure.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
jobs="$(nproc)"
status=0

run_suite() {  # name, ctest filter, cmake options...
  local name="$1" filter="$2"
  shift 2
  local dir="$root/build-$name"
  echo "=== $name build ==="
  cmake -S "$root" -B "$dir" -G Ninja -DTAVIRUNE_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" ${filter:+-R "$filter"}) || status=1
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
run_suite release "" -DCMAKE_BUILD_TYPE=Release
run_suite asan "" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVIRUNE_SANITIZE=address -DTAVIRUNE_BUILD_BENCH=OFF
run_suite tsan "[Tt]hreads" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVIRUNE_SANITIZE=thread -DTAVIRUNE_BUILD_BENCH=OFF

echo "=== fuzz (clang, AddressSanitizer + UndefinedBehaviorSanitizer) ==="
"$root/scripts/fuzz.sh" "${TAVIRUNE_FUZZ_SECONDS:-60}" || status=1

# Windows x64: cross-built with MinGW-w64, the tests run under wine in a prefix of the build's own.
# One X display (xvfb) for the whole run, since tests create real windows and the wine server
# keeps the display it started with; the server is ended with the display.
run_windows() {
  local dir="$root/build-windows" start=$SECONDS
  echo "=== windows build ==="
  # Without the benchmarks, which alone need sources fetched (bench/windows.sh builds them).
  if cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
       -DCMAKE_BUILD_TYPE=Release -DTAVIRUNE_BUILD_BENCH=OFF -DTAVIRUNE_WERROR=ON >/dev/null &&
     cmake --build "$dir" -j "$jobs"; then
    (cd "$dir" && WINEPREFIX="$dir/wine-prefix" WINEDEBUG=-all xvfb-run -a sh -c \
      'ctest --output-on-failure -j "$1"; result=$?; wineserver -k; exit $result' sh "$jobs") || status=1
  else
    status=1
  fi
  echo "=== windows stage: $((SECONDS - start)) s ==="
}
run_windows

if ((status)); then echo "TEST SUITE FAILED"; else echo "ALL TEST SUITES PASSED"; fi
exit "$status"
