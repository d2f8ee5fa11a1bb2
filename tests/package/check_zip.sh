#!/bin/sh
# A Windows zip as a host's developer gets it: unpacked into an empty folder,
# exactly the files it should hold; a host program built against its header
# and MinGW import library runs under Wine of the zip's width with the zip's
# DLL beside it, writing a card the Linux build reads back; lyfs.lib, for
# MSVC, is an import library of lyfs.dll with every CL_LyFS_* export.
# usage: check_zip.sh ZIP win32|win64 LINUX_LYFS WORK_DIR
set -eu
zip=$(realpath "$1") arch=$2 lyfs=$(realpath "$3") work=$4
here=$(dirname "$(realpath "$0")")
wine_run=$here/../../cmake/wine-run.sh
. "$here/../windows/wine_session.sh"
fail() { echo "check_zip.sh: $(basename "$zip"): $*" >&2; exit 1; }
case $arch in
win32) triple=i686-w64-mingw32 ;;
win64) triple=x86_64-w64-mingw32 ;;
*) fail "width $arch is neither win32 nor win64" ;;
esac

rm -rf "$work" && mkdir -p "$work/unpacked" && work=$(realpath "$work")
(cd "$work/unpacked" && cmake -E tar xf "$zip")
top="$work/unpacked/$(basename "$zip" .zip)"
(cd "$top" && find . -type f | sort) > "$work/files"
printf '%s\n' ./README.txt ./bin/lyfs.dll ./bin/lyfs.exe ./include/lyfs/lyfs.h \
    ./lib/liblyfs.dll.a ./lib/lyfs.def ./lib/lyfs.lib | diff - "$work/files" ||
    fail "holds other files than it should (< expected, > found)"

# Built into the zip's bin folder, so that the DLL beside the host is the zip's own.
"$triple-gcc" -std=c11 -Wall -Wextra -Werror "$here/host.c" -I"$top/include" -L"$top/lib" \
    -llyfs -o "$top/bin/host.exe"
"$triple-objdump" -p "$top/bin/host.exe" | grep -q 'DLL Name: lyfs.dll' ||
    fail "the host does not import lyfs.dll"
cd "$work"
"$lyfs" mkimage card.img --size 512M --layout DATA:50:1000,EVENT:0:1000 >/dev/null
head -c 3000001 /dev/urandom > clip.bin
start_wine_session "$arch" "$work/wine-prefix"
"$wine_run" "$top/bin/host.exe" card.img clip.bin /DATA/20250614_080000_F.mp4
"$wine_run" "$top/bin/lyfs.exe" ls card.img /DATA
"$lyfs" check card.img
"$lyfs" get card.img /DATA/20250614_080000_F.mp4 back.bin >/dev/null
cmp clip.bin back.bin

# lyfs.lib: every CL_LyFS_* function of the header has an import thunk (named
# with MSVC's __cdecl underscore on i686), and the library names lyfs.dll.
prefix=__imp_
[ "$arch" = win32 ] && prefix=__imp__
"$triple-nm" "$top/lib/lyfs.lib" | sed -n "s/^.* I $prefix\(CL_LyFS_[A-Za-z0-9_]*\)$/\1/p" |
    sort -u > imported
grep '^LYFS_API' "$top/include/lyfs/lyfs.h" | sed -E 's/\(.*//; s/.*[ *]//' |
    grep '^CL_LyFS_' | sort > declared
diff declared imported || fail "lyfs.lib lacks exports of the header (<) or has others (>)"
"$triple-objdump" -s -j '.idata$7' "$top/lib/lyfs.lib" | grep -q 'lyfs\.dll' ||
    fail "lyfs.lib does not name lyfs.dll"
echo "$(basename "$zip"): host built and run under Wine ($arch) with the zip's DLL;" \
    "lyfs.lib imports $(wc -l < imported) CL_LyFS_* functions from lyfs.dll"
