#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target (each build-fuzz/bin/fuzz_* program) for the
# given number of seconds (default 600), two at a time. A target fuzz_<name> gets the dictionary
# fuzz/dict/<name>.dict and the seed corpus fuzz/corpus/<name> (or fuzz/corpus/fuzz_<name>) when
# they exist; what it learns is kept in build-fuzz/corpus/<name>, what it finds in
# build-fuzz/artifacts/<name>.
# Prints one line per target: executions, coverage, found or clean. Exits 1 when anything was found.
#
#   scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
case $seconds in
'' | *[!0-9]*) echo "usage: scripts/fuzz.sh [seconds]" >&2; exit 2 ;;
esac
parallel=2
max_len=65536

cmake --preset fuzz >/dev/null
cmake --build build-fuzz --target fuzz_all -j "$parallel" >/dev/null

run_target() {
    local program=$1 name
    name=$(basename "$program")
    name=${name#fuzz_}
    local work=build-fuzz/corpus/$name artifacts=build-fuzz/artifacts/$name log=build-fuzz/logs/fuzz_$name.log
    mkdir -p "$work" "$artifacts" "$(dirname "$log")"
    local args=(-max_total_time="$seconds" -max_len="$max_len" -timeout=25 -print_final_stats=1
                -artifact_prefix="$artifacts/")
    [ -f "fuzz/dict/$name.dict" ] && args+=(-dict="fuzz/dict/$name.dict")
    local corpora=("$work") seeds
    for seeds in "fuzz/corpus/$name" "fuzz/corpus/fuzz_$name"; do
        [ -d "$seeds" ] && corpora+=("$seeds")
    done
    local before status=0
    before=$(find "$artifacts" -type f | wc -l)
    # A hard stop a minute after the fuzzer's own limit, should it ever hang.
    timeout --kill-after=10 $((seconds + 60)) "$program" "${args[@]}" "${corpora[@]}" >"$log" 2>&1 || status=$?
    local runs cov ft found
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    if [ "$(find "$artifacts" -type f | wc -l)" -gt "$before" ]; then
        found="FOUND $(ls -t "$artifacts" | head -n 1) (log $log)"
    elif [ "$status" -ne 0 ]; then
        found="FOUND exit status $status (log $log)"
    else
        found=clean
    fi
    printf '%-28s %12s executions  coverage %6s edges %7s features  %s\n' \
        "fuzz_$name" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$found"
    [ "$found" = clean ]
}

failed=0
running=0
for program in build-fuzz/bin/fuzz_*; do
    [ -x "$program" ] || continue
    if [ "$running" -ge "$parallel" ]; then
        wait -n || failed=1
        running=$((running - 1))
    fi
    run_target "$program" &
    running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done
exit "$failed"
