#!/bin/sh
# A card made and filled by one build reads back byte for byte with the other,
# and the checker finds it clean: the Windows build under Wine, then Linux.
# usage: cross_check.sh LINUX_LYFS WINDOWS_BIN_DIR WORK_DIR
set -eu
lyfs=$(realpath "$1") bin=$(realpath "$2") work=$3
wine="$(realpath "$(dirname "$0")/../../cmake/wine-run.sh")"
rm -rf "$work" && mkdir -p "$work" && cd "$work"
# An odd size, so the last cluster is partly filled.
head -c 3000001 /dev/urandom > payload.bin

# lyfs.exe, through the DLL, partitions, formats and fills a card under Wine.
"$wine" "$bin/lyfs.exe" mkimage windows.img --size 128M
"$wine" "$bin/lyfs.exe" put windows.img payload.bin /DATA/FROM_WINDOWS.BIN
# A file past 4 GiB is too large for any card: refused, never cut to its low 32 bits.
truncate -s 4294967808 large.bin
if "$wine" "$bin/lyfs.exe" put windows.img large.bin /DATA/LARGE_FILE.BIN; then exit 1; fi
"$lyfs" check windows.img
"$lyfs" get windows.img /DATA/FROM_WINDOWS.BIN from_windows.bin
cmp payload.bin from_windows.bin
# A local folder named outside ASCII, off the card and back: Wine hands the name on as typed in a
# UTF-8 locale only.
LC_ALL=C.UTF-8 "$wine" "$bin/lyfs.exe" get windows.img /DATA/FROM_WINDOWS.BIN Josée/
cmp payload.bin Josée/FROM_WINDOWS.BIN
LC_ALL=C.UTF-8 "$wine" "$bin/lyfs.exe" put windows.img Josée/FROM_WINDOWS.BIN /DATA/FROM_JOSEE.BIN
"$lyfs" get windows.img /DATA/FROM_JOSEE.BIN from_josee.bin
cmp payload.bin from_josee.bin

# The Linux tool makes and fills one; lyfs.exe reads it.
"$lyfs" mkimage linux.img --size 128M
"$lyfs" put linux.img payload.bin /DATA/FROM_LINUX.BIN
"$wine" "$bin/lyfs.exe" check linux.img
"$wine" "$bin/lyfs.exe" get linux.img /DATA/FROM_LINUX.BIN from_linux.bin
cmp payload.bin from_linux.bin
"$lyfs" check linux.img
echo "cross check: 3 passed, 0 failed"
