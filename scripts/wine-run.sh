#!/bin/sh
# Runs a Windows program under Wine with the build's own Wine prefix and the
# loader of the build's processor (scripts/wine-env.sh): the cross-compiling
# emulator of the Windows test builds.
# Usage: wine-run.sh BUILD_DIR PROGRAM [ARGUMENTS...]
build=$1
shift
drux_build=$build
. "$(dirname "$0")/wine-env.sh"
# Test programs that use the library find DruxLauncher.dll beside the programs.
export WINEPATH="$build/apps"
exec "$DRUX_WINE" "$@"
