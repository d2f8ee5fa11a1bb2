#!/bin/sh
# Everything make windows runs of one Windows build under Wine: the tests
# through ctest, the card crossing with the Linux build, and lyfs.exe demo.
# usage: run_suite.sh win32|win64 WINDOWS_BUILD_DIR LINUX_LYFS JOBS
set -eu
arch=$1 build=$(realpath "$2") lyfs=$3 jobs=$4
here=$(dirname "$(realpath "$0")")
wine_run=$here/../../cmake/wine-run.sh
. "$here/wine_session.sh"

start_wine_session "$arch" "$build/wine-prefix"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
"$here/cross_check.sh" "$lyfs" "$build/bin" "$build/cross"
"$wine_run" "$build/bin/lyfs.exe" demo
