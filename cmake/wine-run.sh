#!/bin/sh
# Runs a Windows program under Wine, without Wine's own diagnostics. A 32-bit
# program needs Wine's 32-bit loader (Debian's wine32:i386) and a 32-bit
# prefix, so WINEARCH (win32 or win64, Wine's own name for a prefix's width)
# picks both; WINEPREFIX defaults to ~/.wine-lyfs-WINEARCH.
: "${WINEARCH:=win64}"
: "${WINEPREFIX:=$HOME/.wine-lyfs-$WINEARCH}"
export WINEARCH WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
case $WINEARCH in
win32) loader=/usr/lib/wine/wine ;;
*) loader=/usr/lib/wine/wine64 ;;
esac
# Other systems put the loaders on the PATH.
[ -x "$loader" ] || loader=$(command -v "$(basename "$loader")") || {
    echo "wine-run.sh: no Wine loader for $WINEARCH ($loader)" >&2
    exit 127
}
exec "$loader" "$@"
