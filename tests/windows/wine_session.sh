# shellcheck shell=sh
# Sourced by the scripts that run Windows programs under Wine:
#   start_wine_session win32|win64 PREFIX
# makes PREFIX a fresh Wine prefix of that width and starts one wineserver for
# it that lives until the script exits; "$wine_run" (cmake/wine-run.sh, which
# the script names before it sources this) then runs programs in it.
#
# Left to itself (Debian's wineserver wrapper passes -p0) the server starts
# to shut down the moment its last program ends: it takes no new program and
# exits 4 s later, whoever is still running. A program started in that moment
# is turned away (and starts over with a new server, half a minute later) or,
# once in, cut off when the server exits, its exit status lost. -p keeps one
# server up from the first program to the last, which also spares each
# program the prefix's boot.
start_wine_session() {
    export WINEARCH="$1" WINEPREFIX="$2" WINEDEBUG=-all
    rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
    wineserver -p
    trap 'wineserver -k 2>/dev/null || true; wineserver -w' EXIT
    # The prefix is filled before any test runs, never by two programs at once.
    # The system processes that this starts (services, explorer, device
    # drivers) outlive it and keep its output open, so they get a log file: a
    # pipe, such as ctest's, would never see its end. Mono and Gecko are not
    # wanted.
    WINEDLLOVERRIDES="mscoree,mshtml=" "$wine_run" wineboot --init \
        >"$WINEPREFIX.boot.log" 2>&1 </dev/null
}
