#!/bin/sh
# Fails when the shared library exports a symbol outside the public interface.
set -eu
lib="$1"
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}')
[ -n "$symbols" ] || { echo "no exported symbols in $lib"; exit 1; }
unexpected=$(printf '%s\n' "$symbols" | grep -Ev '^(CL_LyFS_|lyfs_|fptr_file_delete_cb$)|^LYFS' || true)
if [ -n "$unexpected" ]; then
    echo "unexpected exports:"; printf '%s\n' "$unexpected"; exit 1
fi
for required in CL_LyFS_Start CL_LyFS_Stop CL_LyFS_Get_Master_Device_Info CL_LyFS_Check_LyFS_partition; do
    printf '%s\n' "$symbols" | grep -qx "$required" || { echo "missing export $required"; exit 1; }
done
echo "exports ok: $(printf '%s\n' "$symbols" | wc -l) symbols"
