#!/usr/bin/env bash
# Checks that the library exports exactly the Vantrel* functions of the public
# headers, and nothing else. Reads an ELF shared object (nm) or a Windows DLL
# (objdump's export table, which must hold the names undecorated); a DLL must
# also import nothing but DLLs that Windows ships.
# Usage: check-exports.sh [LIBRARY]   (default build/default/libDruxLauncher.so)
set -euo pipefail
lib=${1:-build/default/libDruxLauncher.so}
here=$(cd "$(dirname "$0")/.." && pwd)
expected=$(grep -ho '^VANTREL_API [^(]*(' "$here"/exports/*.h | sed -E 's/.*[ *]([A-Za-z0-9_]+)\($/\1/' | sort -u)
# The DLLs a Windows installation has: the kernel, the C runtime, sockets, the
# multimedia timer, the process status functions, the IP helper (connection
# owners) and the security functions.
system_dlls='^(kernel32|msvcrt|ws2_32|winmm|psapi|iphlpapi|advapi32|user32|ntdll)\.dll$'

if [ "$(head -c 2 "$lib")" = "MZ" ]; then
    table=$(objdump -p "$lib")
    # The rows of the export name table: "[ n] Name".
    actual=$(echo "$table" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
             sed -n -E 's/^[[:space:]]*\[ *[0-9]+\] (.*)$/\1/p' | sort -u)
    imports=$(echo "$table" | sed -n -E 's/^[[:space:]]*DLL Name: (.*)$/\1/p' | tr 'A-Z' 'a-z' | sort -u)
    foreign=$(echo "$imports" | grep -Ev "$system_dlls" || true)
    if [ -n "$foreign" ]; then
        echo "imports DLLs that Windows does not ship: $(echo $foreign)"
        exit 1
    fi
    kind="PE $(objdump -f "$lib" | sed -n -E 's/.*file format (.*)$/\1/p'), imports: $(echo $imports)"
else
    actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWwDdBbRr]$/ {print $3}' | sort -u)
    kind="ELF"
fi
if [ "$expected" != "$actual" ]; then
    echo "exported symbols differ from the public headers:"
    diff <(echo "$expected") <(echo "$actual") || true
    exit 1
fi
echo "exports ok: $(echo "$actual" | wc -l) Vantrel functions, nothing else ($kind)"
