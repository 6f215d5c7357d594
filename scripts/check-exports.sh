#!/usr/bin/env bash
# Checks that the shared library exports exactly the Vantrel* functions of the
# public headers, and nothing else.
set -euo pipefail
lib=${1:-build/default/libDruxLauncher.so}
here=$(cd "$(dirname "$0")/.." && pwd)
expected=$(grep -ho '^VANTREL_API [^(]*(' "$here"/exports/*.h | sed -E 's/.*[ *]([A-Za-z0-9_]+)\($/\1/' | sort -u)
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWwDdBbRr]$/ {print $3}' | sort -u)
if [ "$expected" != "$actual" ]; then
    echo "exported symbols differ from the public headers:"
    diff <(echo "$expected") <(echo "$actual") || true
    exit 1
fi
echo "exports ok: $(echo "$actual" | wc -l) Vantrel functions, nothing else"
