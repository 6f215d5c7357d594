# Sourced by the wine-*.sh scripts (POSIX sh): the Wine of a Windows build
# folder. Sets WINEPREFIX (a prefix inside the build folder), WINEDEBUG, and
# DRUX_WINE, the loader that runs the build's programs: the 32-bit one
# (/usr/lib/wine/wine, package wine32:i386) for an i686 build, wine64 for an
# x86-64 build. The build's toolchain file tells which.
# Usage: drux_build=BUILD_DIR; . scripts/wine-env.sh   (dash's "." takes no
# arguments, hence the variable)
export WINEPREFIX="$drux_build/wine-prefix"
export WINEDEBUG=-all
DRUX_WINE=/usr/lib/wine/wine64
if grep -q '^CMAKE_TOOLCHAIN_FILE:[A-Z]*=.*i686' "$drux_build/CMakeCache.txt" 2>/dev/null; then
    DRUX_WINE=/usr/lib/wine/wine
fi
