#!/usr/bin/env bash
# Installs the Debian packages that building and testing need (skips apt when
# everything is there already): the native tool chain, GoogleTest (its sources
# too, which the Windows builds compile), Boost's headers, and for Windows the
# MinGW-w64 compilers of the posix thread model and wine64 to run the tests.
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev googletest libboost-dev pkg-config procps binutils
          mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
          gcc-mingw-w64-i686-posix gcc-mingw-w64-x86-64-posix wine64)
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
