#!/usr/bin/env bash
# The main job: build and run the demo of the core.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build-release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-release" -j "$(nproc)"
"$root/build-release/cli/tavirune_demo" "$@"
