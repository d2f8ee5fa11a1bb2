#!/bin/sh
# The DLL exports every function and the data symbol of the public header by
# its plain name and nothing else, and imports only Windows' own DLLs (the
# C++ runtime, libgcc and winpthread are linked in).
# usage: check_dll.sh OBJDUMP DLL HEADER
set -eu
objdump=$1 dll=$2 header=$3
table=$("$objdump" -p "$dll")
exported=$(printf '%s\n' "$table" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    awk '/^[ \t]*\[ *[0-9]+\] / {print $NF}' | sort)
declared=$(grep '^LYFS_API' "$header" | sed -E 's/\(.*//; s/;.*//; s/.*[ *]//' | sort)
if [ "$exported" != "$declared" ]; then
    echo "exports of $dll differ from the header (< header, > DLL):"
    printf '%s\n' "$declared" > "$dll.declared"
    printf '%s\n' "$exported" | diff "$dll.declared" - || true
    exit 1
fi
imported=$(printf '%s\n' "$table" | sed -n 's/^[ \t]*DLL Name: //p')
foreign=$(printf '%s\n' "$imported" |
    grep -Eiv '^(kernel32|msvcrt|ucrtbase|ntdll|advapi32|api-ms-win-[a-z0-9-]+)\.dll$' || true)
if [ -n "$foreign" ]; then
    echo "$dll needs DLLs that are not Windows' own:"; printf '%s\n' "$foreign"; exit 1
fi
echo "$(basename "$dll"): $(printf '%s\n' "$exported" | wc -l) exports by plain name;" \
    "imports" $imported
