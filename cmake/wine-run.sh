#!/bin/sh
# Runs a Windows program under Wine in a Wine prefix of its own (WINEPREFIX,
# by default ~/.wine-lyfs), without Wine's own diagnostics.
: "${WINEPREFIX:=$HOME/.wine-lyfs}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
exec "$wine" "$@"
