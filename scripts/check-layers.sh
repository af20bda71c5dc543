#!/usr/bin/env bash
# Fails when code above src/platform/ touches the operating system directly (an OS header, a
# read of /proc or /sys) or when an include points up the layer order. Prints file:line: reason.
# tests/, tools/, bench/ and fuzz/ are exempt.
set -euo pipefail
cd "$(dirname "$0")/.."

# Folder below src/ and its layer; a folder may include its own layer and every lower one.
# A sub-folder not listed takes the layer of its nearest listed parent.
LAYERS='
platform 0
imaging 1
env 1
controls 2
crash/core/settings 3
crash/core/stack 4
crash/core/threads 4
crash/core/plugins 4
crash/core/report 5
crash/core/handler 6
crash/ui 6
crash/send 6
crash/core/intercept 7
app 8
'

# Operating-system headers: POSIX, Linux, glibc internals, X11, Windows.
OS_HEADERS='unistd\.h|sys/[^>]*|signal\.h|csignal|dlfcn\.h|fcntl\.h|pthread\.h|link\.h|elf\.h|execinfo\.h|ucontext\.h|pwd\.h|grp\.h|dirent\.h|sched\.h|semaphore\.h|spawn\.h|termios\.h|poll\.h|netdb\.h|netinet/[^>]*|arpa/[^>]*|linux/[^>]*|asm/[^>]*|malloc\.h|mntent\.h|syslog\.h|ifaddrs\.h|net/[^>]*|X11/[^>]*|xcb/[^>]*|windows\.h|winsock2?\.h|ws2tcpip\.h|shlobj\.h|tlhelp32\.h|dbghelp\.h|psapi\.h'

files=$(find src -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.hpp' \) \
        -not -path 'src/platform/*' | sort)

awk -v layers="$LAYERS" -v osheaders="^(${OS_HEADERS})$" '
function layer_of(path,    p) {
    p = path
    while (p != "") {
        if (p in level) return level[p]
        if (index(p, "/") == 0) break
        sub(/\/[^\/]*$/, "", p)
    }
    return -1
}
BEGIN {
    n = split(layers, rows, "\n")
    for (i = 1; i <= n; i++) {
        if (split(rows[i], f, " ") == 2) level[f[1]] = f[2]
    }
    failures = 0
}
FNR == 1 {
    folder = FILENAME
    sub(/^src\//, "", folder)
    sub(/\/[^\/]*$/, "", folder)
    own = layer_of(folder)
    if (own < 0) {
        printf "%s:1: no layer is known for src/%s; add it to LAYERS in scripts/check-layers.sh\n", FILENAME, folder
        failures++
    }
    in_comment = 0
}
{
    line = $0
    # Comments do not count; strings do (a path in a string is a read waiting to happen).
    if (in_comment) {
        if (index(line, "*/") == 0) next
        sub(/^.*\*\//, "", line)
        in_comment = 0
    }
    gsub(/\/\*([^*]|\*[^\/])*\*\//, "", line)
    if (match(line, /\/\*/)) { line = substr(line, 1, RSTART - 1); in_comment = 1 }
    sub(/\/\/.*$/, "", line)
    gsub(/"[^"]*\/\/[^"]*"/, "\"\"", line)

    if (match(line, /^[ \t]*#[ \t]*include[ \t]*<[^>]+>/)) {
        header = line
        sub(/^[^<]*</, "", header)
        sub(/>.*$/, "", header)
        if (header ~ osheaders) {
            printf "%s:%d: includes <%s>, an operating-system header; only src/platform/ may\n", FILENAME, FNR, header
            failures++
        }
    } else if (match(line, /^[ \t]*#[ \t]*include[ \t]*"[^"]+"/)) {
        target = line
        sub(/^[^"]*"/, "", target)
        sub(/".*$/, "", target)
        if (index(target, "/") > 0 && own >= 0) {
            dir = target
            sub(/\/[^\/]*$/, "", dir)
            other = layer_of(dir)
            if (other > own) {
                printf "%s:%d: includes \"%s\" from a higher layer (src/%s may use only its own layer and those below)\n", FILENAME, FNR, target, folder
                failures++
            }
        }
    }
    if (line ~ /"\/(proc|sys)(\/|")/) {
        printf "%s:%d: reads /proc or /sys directly; only src/platform/ may\n", FILENAME, FNR
        failures++
    }
}
END {
    if (failures) {
        printf "%d layering problem(s) found.\n", failures
        exit 1
    }
}
' $files
echo "Layering check passed: nothing above src/platform/ touches the system, no include points up."
