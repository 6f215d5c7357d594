#!/bin/sh
# Checks that every C and C++ file of the tree follows .clang-format; prints
# what differs. To reformat: clang-format -i FILE...
# The files are git's when the tree is a checkout, else found on disk (build
# output and installed packages left out).
set -eu
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z '*.c' '*.cpp' '*.h'
else
    find . \( -name build -o -name node_modules -o -name '.*' ! -name . \) -prune -o \
        -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0
fi | xargs -0 clang-format --dry-run --Werror
