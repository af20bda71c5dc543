#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need. Safe to run again.
# Extra package names given as arguments are installed too (the tests add the real Wine).
set -euo pipefail
# One list per area in scripts/packages/*.txt (blank-separated names, "#" starts a comment);
# the lists named test-*.txt only with --tests.
here=$(dirname "$0")
lists=()
for f in "$here"/packages/*.txt; do
    case "$(basename "$f")" in test-*) [ "${1:-}" = --tests ] || continue ;; esac
    lists+=("$f")
done
[ "${1:-}" = --tests ] && shift
packages=($(sed 's/#.*//' "${lists[@]}"))
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
