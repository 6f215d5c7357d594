#!/bin/sh
# Checks that every C and C++ file in the repository follows .clang-format;
# prints what differs. To reformat: clang-format -i FILE...
set -eu
cd "$(dirname "$0")/.."
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
