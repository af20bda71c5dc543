#!/usr/bin/env bash
# Installs what is missing, checks the layering and the formatting of changed files, then builds
# and runs every test: the plain build (all tests, the Xvfb window tests among them), then the
# AddressSanitizer+UBSan build (all tests) and the ThreadSanitizer build (the tests labelled
# "threads", and only their executables are built there). Each run is a workflow preset of
# CMakePresets.json; under CI (the CI variable set) the "ci" variants make warnings errors. The
# plain build compiles every benchmark too, and a clang build compiles every fuzz target (neither
# is run here), so that none of them can stop compiling unnoticed.
set -euo pipefail
cd "$(dirname "$0")/.."
# Wine itself serves one end-to-end test against a prefix it made.
scripts/install-deps.sh --tests
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}

echo "=== checks ==="
scripts/check-layers.sh
scripts/check-format.sh

for run in default asan tsan; do
    preset=$run
    if [ -n "${CI:-}" ]; then
        [ "$run" = default ] && preset=ci || preset=ci-$run
    fi
    echo "=== $preset: configure, build, test ==="
    cmake --workflow --preset "$preset"
done
echo "=== fuzz targets: build only ==="
cmake --preset fuzz
cmake --build build-fuzz --target fuzz_all
echo "All test runs passed."
