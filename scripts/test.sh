#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the plain build (all tests, the Xvfb
# window tests among them), then the AddressSanitizer+UBSan build (all tests) and the
# ThreadSanitizer build (the tests labelled "threads").
set -euo pipefail
cd "$(dirname "$0")/.."
# Wine itself serves one end-to-end test against a prefix it made.
scripts/install-deps.sh --tests
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

run_preset() {
    local preset=$1; shift
    local dir=build
    [ "$preset" = default ] || dir="build-$preset"
    echo "=== $preset build ==="
    scripts/build.sh "$preset"
    echo "=== $preset tests ==="
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp
run_preset default
run_preset asan
if [ -n "$(ctest --test-dir build -N -L threads 2>/dev/null | grep -E '^ +Test +#')" ]; then
    run_preset tsan -L threads
fi
echo "All test runs passed."
