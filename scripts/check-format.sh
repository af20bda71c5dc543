#!/usr/bin/env bash
# Checks the C and C++ files changed since the branch left main (or since BASE, given as the
# first argument) against .clang-format, and prints how each offending file should read.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format || true)
[ -n "$format" ] || { echo "clang-format is not installed"; exit 1; }
if ! git rev-parse --git-dir >/dev/null 2>&1; then
    echo "Format check skipped: not a git checkout."
    exit 0
fi
base=${1:-$(git merge-base HEAD main 2>/dev/null || git merge-base HEAD origin/main 2>/dev/null || true)}
if [ -z "$base" ]; then
    echo "Format check skipped: no main branch to compare with (give a base commit as argument)."
    exit 0
fi
mapfile -t files < <({ git diff --name-only --diff-filter=d "$base" -- '*.cpp' '*.h' '*.c'
                        git ls-files --others --exclude-standard -- '*.cpp' '*.h' '*.c'; } | sort -u)
failed=0
for f in "${files[@]}"; do
    [ -f "$f" ] || continue
    if ! "$format" --style=file "$f" | diff -u --label "$f" --label "$f (formatted)" "$f" - ; then
        failed=$((failed + 1))
    fi
done
if ((failed)); then
    echo "$failed file(s) are not formatted; run: $format -i <file>"
    exit 1
fi
echo "Format check passed on ${#files[@]} changed file(s)."
