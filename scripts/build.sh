#!/usr/bin/env bash
# Configures and builds one build preset of CMakePresets.json (default: "default"); the build
# preset names its configure preset and, where it builds only part of the tree, its targets.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
# Build presets carry their configure preset's name, except "demo" (part of "default").
configure=$preset
[ "$preset" = demo ] && configure=default
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
cmake --preset "$configure" >/dev/null
cmake --build --preset "$preset"
