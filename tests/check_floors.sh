#!/bin/sh
# Fails when a file of the library includes a folder above its own: each folder of src/ builds
# only on the folders below it, so the library reads bottom-up and a change low down never pulls
# in code from above. The order, bottom to top (the README's layout table says the same):
order="platform core layout device fat folder entry file prepare api"
set -eu
cd "$1"
find . -name '*.h' -o -name '*.cpp' | sort | xargs grep -H '^#include "' | awk -v order="$order" '
BEGIN { n = split(order, floors, " "); for (i = 1; i <= n; ++i) rank[floors[i]] = i }
{
    file = substr($0, 3, index($0, ":") - 3)
    own = substr(file, 1, index(file, "/") - 1)
    match($0, /#include "[^"]*"/)
    included = substr($0, RSTART + 10, RLENGTH - 11)
    target = substr(included, 1, index(included, "/") - 1)
    if (!(own in rank)) {
        print "src/" file ": its folder " own " is not one of the floors: " order
        bad = 1
    } else if ((target in rank) && rank[target] > rank[own]) {
        print "src/" file ": includes " included ", from a floor above " own
        bad = 1
    }
}
END { if (!bad) print "floors ok: each folder of src/ includes only its own and those below"; exit bad }'
