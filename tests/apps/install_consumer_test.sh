#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds and runs a tiny C
# host against it twice: through find_package(DruxLauncher) and through
# pkg-config (druxlauncher.pc).
# Usage: install_consumer_test.sh <build dir> <consumer source dir> <C flags> <linker flags>
set -euo pipefail
build=$1 source=$2 cflags=$3 ldflags=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null

echo "--- find_package(DruxLauncher)"
cmake -S "$source" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_C_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
(cd "$work" && "$work/cmake-build/consumer")

echo "--- pkg-config druxlauncher"
pcdir=$(dirname "$(find "$prefix" -name druxlauncher.pc | head -n 1)")
export PKG_CONFIG_PATH=$pcdir
libdir=$(pkg-config --variable=libdir druxlauncher)
# shellcheck disable=SC2046,SC2086
cc $cflags "$source/consumer.c" $(pkg-config --cflags --libs druxlauncher) -Wl,-rpath,"$libdir" $ldflags \
   -o "$work/consumer-pc"
rm -f "$work/vantrel-consumer.log"
(cd "$work" && "$work/consumer-pc")
