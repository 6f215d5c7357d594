#!/bin/sh
# Runs a Windows program under wine64 with the build's own Wine prefix: the
# cross-compiling emulator of the Windows test build.
# Usage: wine-run.sh BUILD_DIR PROGRAM [ARGUMENTS...]
build=$1
shift
export WINEPREFIX="$build/wine-prefix"
export WINEDEBUG=-all
# Test programs that use the library find DruxLauncher.dll beside the programs.
export WINEPATH="$build/apps"
exec /usr/lib/wine/wine64 "$@"
