#!/usr/bin/env bash
# Makes a Windows test build's Wine prefix ready (the loader of the build's
# processor, see wine-env.sh) and keeps a wineserver
# running for it, so that tests start in a few hundredths of a second and ctest
# never waits for Wine's background processes (which inherit its output pipe).
# Usage: wine-start.sh BUILD_DIR     (wine-stop.sh BUILD_DIR ends the server)
set -euo pipefail
build=$(cd "$1" && pwd)
drux_build=$build
. "$(dirname "$0")/wine-env.sh"
wine=$DRUX_WINE
if [ ! -x "$wine" ]; then
    echo "wine-start.sh: $wine is missing (an i686 build needs wine32:i386; run scripts/setup.sh)" >&2
    exit 1
fi
server=/usr/lib/wine/wineserver
fresh=0
[ -f "$WINEPREFIX/system.reg" ] || fresh=1
mkdir -p "$WINEPREFIX"
"$server" -p 2>/dev/null || true  # already running for this prefix: kept
"$wine" cmd.exe /c exit >/dev/null 2>&1 </dev/null
if [ "$fresh" = 1 ]; then
    # A crashing test must end, not wait in Wine's debugger: no debugger at all.
    "$wine" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /f >/dev/null 2>&1 </dev/null
    "$wine" reg delete 'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug' /f \
        >/dev/null 2>&1 </dev/null || true
fi
