#!/usr/bin/env bash
# Installs the Debian packages that building and testing need (skips apt when
# everything is there already): the compilers and libraries; python3, which
# runs the timeline picture and the tool tests; tshark, which runs the
# dissector's tests (without the question whether non-root users may capture:
# the tests capture as root); dpkg-dev, which computes the .deb's dependencies;
# GoogleTest's sources, which the Windows builds compile; the MinGW-w64
# compilers of the posix thread model and wine64, which runs the Windows tests;
# and, through Debian's multiarch (the i386 architecture), wine32:i386, whose
# loader /usr/lib/wine/wine runs the 32-bit Windows build's tests.
set -euo pipefail
# clang and its runtime libraries build the libFuzzer targets (fuzz preset).
packages=(cmake ninja-build g++ libgtest-dev libboost-dev pkg-config procps python3 tshark dpkg-dev clang clang-format libclang-rt-14-dev
          googletest binutils mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
          gcc-mingw-w64-i686-posix gcc-mingw-w64-x86-64-posix wine64)
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    echo "wireshark-common wireshark-common/install-setuid boolean false" | $sudo_cmd debconf-set-selections
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo_cmd dpkg --add-architecture i386
    fi
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends wine32:i386
fi

# The JavaScript client and the web UI (clients/js, apps/web-ui): Node and npm,
# and Debian's Chromium, which the web UI's browser test drives; then each
# package's npm packages as its lock file pins them (puppeteer-core only: no
# browser is downloaded). npm ci runs again only when a lock file changed.
# (By command, not by package: a Node from elsewhere, such as NodeSource's
# nodejs, brings its own npm, which Debian's npm package would conflict with.)
js_missing=()
command -v node >/dev/null 2>&1 || js_missing+=(nodejs)
command -v npm >/dev/null 2>&1 || js_missing+=(npm)
dpkg -s chromium >/dev/null 2>&1 || js_missing+=(chromium)
if [ ${#js_missing[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${js_missing[@]}"
fi
js_root=$(cd "$(dirname "$0")/.." && pwd)
for package in clients/js apps/web-ui; do
    if [ ! -f "$js_root/$package/node_modules/.package-lock.json" ] ||
       [ "$js_root/$package/package-lock.json" -nt "$js_root/$package/node_modules/.package-lock.json" ]; then
        (cd "$js_root/$package" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
    fi
done
