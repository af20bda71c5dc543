#!/usr/bin/env bash
# Runs a command on an X server of its own (Xvfb, first free display from a random number on) with
# a screen of the given size, once the server answers; the server ends with the command.
# Usage: scripts/with-xvfb.sh WIDTHxHEIGHT COMMAND [ARGUMENT...]
# -noreset: by default the server resets when its last client leaves and refuses whoever connects
# meanwhile, and the readiness probe is such a client.
set -euo pipefail
size=$1
shift
exec xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 ${size}x24 -noreset" bash -c '
    for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    exec "$@"' _ "$@"
