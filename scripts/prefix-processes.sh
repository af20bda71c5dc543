# Sourced by the demo and the end-to-end tests: the processes of one Wine prefix, so a script
# stops what it started and nothing of another prefix, user or test run on the machine.

# prefix_pids PREFIX PATTERN: ids of the processes whose program (the first word of the command
# line; for a Windows program run by Wine, its Windows path) matches the extended regular
# expression PATTERN and whose environment names PREFIX as WINEPREFIX. Scripts whose text merely
# mentions the program are not matched.
prefix_pids() {
    local prefix=$1 pattern=$2 pid first
    for pid in $(pgrep -f -- "$pattern" || true); do
        first=$({ tr '\0' '\n' < "/proc/$pid/cmdline" | head -1; } 2>/dev/null || true)
        printf '%s\n' "$first" | grep -qE -- "$pattern" || continue
        { tr '\0' '\n' < "/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" && echo "$pid"
    done
    return 0
}

# stop_prefix_processes PREFIX PATTERN: ends those processes and waits (at most 5 s) until gone.
stop_prefix_processes() {
    local pids
    pids=$(prefix_pids "$1" "$2")
    [ -n "$pids" ] || return 0
    kill $pids 2>/dev/null || true
    for _ in $(seq 1 50); do
        [ -z "$(prefix_pids "$1" "$2")" ] && return 0
        sleep 0.1
    done
    kill -KILL $(prefix_pids "$1" "$2") 2>/dev/null || true
}
