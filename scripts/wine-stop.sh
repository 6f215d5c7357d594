#!/usr/bin/env bash
# Ends the wineserver of the Windows test build's prefix (and only that one).
set -euo pipefail
build=$(cd "$1" && pwd)
server=/usr/lib/wine/wineserver
WINEPREFIX="$build/wine-prefix" "$server" -k 2>/dev/null || true
WINEPREFIX="$build/wine-prefix" "$server" -w 2>/dev/null || true
