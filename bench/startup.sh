#!/usr/bin/env bash
# Start-up against a yardstick: how long after its start the tool's window is mapped, next to a
# minimal Qt Widgets program's window of the same size, both on the same Xvfb server in the same
# run (alternating, RUNS times each, against the small demo prefix). Prints both medians and
# their ratio. A third window, the minimal one linked against every library the tool loads
# (minimal_window_tool_libraries), splits the difference into what loading those libraries costs
# and what the tool's own start-up adds. A fourth, the minimal window with one label and one edit
# box (minimal_window_with_text), tells what showing any text at all costs: the tool's window
# shows dozens of texts. The machine's load is printed too: on a busy machine the
# start-up's helper threads find no free core.
# Both run in a session of their own with a session bus, as on a desktop: without one, libdbus
# forks the tool at its start (and the minimal window at its first label) to try starting a bus,
# and the main thread waits for that. SESSION_BUS=0 measures that case.
# Usage: bench/startup.sh [BIN_DIR] (default: build/bin; needs the "demo" build preset's targets
# and minimal_window; without minimal_window_tool_libraries the libraries' share is left out).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${SESSION_BUS:-1}" = 1 ]; then
    exec dbus-run-session -- env SESSION_BUS=running bash "$0" "$@"
fi
echo "session bus: $([ "$SESSION_BUS" = running ] && echo "yes (dbus-run-session)" || echo no)"
bin=$(cd "${1:-build/bin}" && pwd)
runs=${RUNS:-9}
for program in MireluneSkinTool minimal_window make-demo-prefix demo-wine kry_stub; do
    [ -x "$bin/$program" ] || { echo "missing $bin/$program: cmake --build build --target $program"; exit 2; }
done
linked=minimal_window_tool_libraries
[ -x "$bin/$linked" ] || {
    echo "(no $linked: the libraries' share is left out; cmake --build build --target $linked)"
    linked=""
}
withText=minimal_window_with_text
[ -x "$bin/$withText" ] || {
    echo "(no $withText: the first text's share is left out; cmake --build build --target $withText)"
    withText=""
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX=$work/prefix WINE=$bin/demo-wine QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$work/runtime"
unset SKINTOOL_MESSAGEBOX_LOG
"$bin/make-demo-prefix" "$WINEPREFIX" >/dev/null

bash scripts/with-xvfb.sh 800x600 bash -euo pipefail -c '
    bin=$1 runs=$2 log=$3 linkedWindow=$4 textWindow=$5
    # Every window mapped on the screen, stamped in microseconds as it is reported. The measuring
    # uses shell builtins only (no date, wc or sleep processes), so it takes no processor time
    # from the programs measured; the tool uses the second core at its start.
    stdbuf -oL xev -root -event substructure 2>/dev/null | while IFS= read -r line; do
        case $line in MapNotify*) echo "${EPOCHREALTIME/[.,]/}" ;; esac
    done >> "$log" & watcher=$!
    exec {pause}<> <(:)  # "read -t" on it waits without a sleep process
    sleep 0.5
    # Milliseconds from the start of the program to its first mapped window.
    measure() {
        local started pid mapped=""
        : > "$log"
        started=${EPOCHREALTIME/[.,]/}
        "$bin/$1" >/dev/null 2>&1 & pid=$!
        for _ in $(seq 1 2500); do
            if [ -s "$log" ]; then read -r mapped < "$log"; break; fi
            read -t 0.004 -u "$pause" _ || true
        done
        kill -TERM $pid 2>/dev/null || true
        wait $pid 2>/dev/null || true
        [ -n "$mapped" ] || { echo "no window from $1" >&2; exit 1; }
        echo $(( (mapped - started) / 1000 ))
    }
    median() { sort -n | awk "{ v[NR] = \$1 } END { print v[int((NR + 1) / 2)] }"; }
    echo "load average before: $(cut -d" " -f1-3 /proc/loadavg)"
    measure minimal_window >/dev/null  # warm the caches for all
    [ -z "$linkedWindow" ] || measure "$linkedWindow" >/dev/null
    [ -z "$textWindow" ] || measure "$textWindow" >/dev/null
    measure MireluneSkinTool >/dev/null
    tool=() minimal=() linked=() text=()
    for _ in $(seq 1 "$runs"); do
        minimal+=("$(measure minimal_window)")
        [ -z "$linkedWindow" ] || linked+=("$(measure "$linkedWindow")")
        [ -z "$textWindow" ] || text+=("$(measure "$textWindow")")
        tool+=("$(measure MireluneSkinTool)")
    done
    kill $watcher 2>/dev/null || true
    m=$(printf "%s\n" "${minimal[@]}" | median)
    t=$(printf "%s\n" "${tool[@]}" | median)
    echo "load average after:  $(cut -d" " -f1-3 /proc/loadavg)"
    echo "minimal Qt window: ${minimal[*]} ms (median $m ms)"
    if [ -n "$linkedWindow" ]; then
        l=$(printf "%s\n" "${linked[@]}" | median)
        echo "minimal, with the libraries of the tool: ${linked[*]} ms (median $l ms)"
    fi
    if [ -n "$textWindow" ]; then
        x=$(printf "%s\n" "${text[@]}" | median)
        echo "minimal, with a label and an edit box: ${text[*]} ms (median $x ms)"
    fi
    echo "Skin Tool window:  ${tool[*]} ms (median $t ms)"
    [ -z "$linkedWindow" ] || awk -v t="$t" -v m="$m" -v l="$l" "BEGIN {
        printf \"loading the libraries of the tool: %+d ms, its own start-up work: %+d ms\n\", l - m, t - l }"
    [ -z "$textWindow" ] || awk -v x="$x" -v m="$m" -v t="$t" "BEGIN {
        printf \"the first text on a window: %+d ms (ratio of that window to the minimal one: %.2f)\n\", x - m, x / m
        printf \"start-up ratio (tool / minimal window with text): %.2f\n\", t / x }"
    awk -v t="$t" -v m="$m" "BEGIN { printf \"start-up ratio (tool / minimal window): %.2f\n\", t / m }"
' _ "$bin" "$runs" "$work/maps.log" "$linked" "$withText"
