#!/usr/bin/env bash
# Configures and builds one preset of CMakePresets.json (default: "default").
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
dir=build
[ "$preset" = default ] || dir="build-$preset"
cmake --preset "$preset" >/dev/null
cmake --build "$dir" -j "$(nproc)"
