#!/bin/bash
# The Debian package as a user gets it: installed with dpkg (apt-get fetches
# what it depends on), a host program built against it with pkg-config and
# with find_package, run on a card image; the tool, its manual page and its
# completion where they belong; then removed, leaving nothing behind.
# Run as root, on a machine without lyfs installed.
# usage: check_deb.sh DEB WORK_DIR
set -euo pipefail
deb=$(realpath "$1") work=$2 here=$(dirname "$(realpath "$0")")
fail() { echo "check_deb.sh: $*" >&2; exit 1; }
rm -rf "$work" && mkdir -p "$work" && cd "$work"
if dpkg -s lyfs >/dev/null 2>&1; then fail "lyfs is installed already: remove it first"; fi

# What the package brings that was not there before, to be gone after.
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^$' > contents
while read -r path; do [ -e "$path" ] || [ -L "$path" ] || echo "$path"; done < contents > new
dpkg -i "$deb" || DEBIAN_FRONTEND=noninteractive apt-get -f install -y -qq
# A failed check leaves the machine as it found it.
trap 'dpkg --purge lyfs >/dev/null 2>&1 || true' EXIT
[ "$(dpkg-query -W -f '${Status}' lyfs)" = "install ok installed" ] || fail "lyfs did not install"

version=$(dpkg-deb -f "$deb" Version)
[ "$(/usr/bin/lyfs --version)" = "lyfs $version" ] || fail "lyfs --version does not say $version"
/usr/bin/lyfs mkimage card.img --size 512M --layout DATA:50:1000,EVENT:0:1000 >/dev/null
head -c 3000001 /dev/urandom > clip.bin

# Both ways a host finds the library, each run against the installed one.
cc -std=c11 -Wall -Wextra -Werror "$here/host.c" $(pkg-config --cflags --libs lyfs) -o host_pc
cmake -S "$here/find_package" -B host_cmake -G Ninja >/dev/null
cmake --build host_cmake >/dev/null
installed=$(readlink -f "$(grep '/liblyfs\.so\.0$' contents)")
for host in ./host_pc host_cmake/host; do
    loaded=$(ldd "$host" | sed -n 's/^.*liblyfs\.so\.0 => \([^ ]*\) .*$/\1/p')
    [ "$(readlink -f "$loaded")" = "$installed" ] || fail "$host loads '$loaded', not $installed"
done
./host_pc card.img clip.bin /DATA/20250614_080000_F.mp4
host_cmake/host card.img clip.bin /DATA/20250614_080100_F.mp4
/usr/bin/lyfs check card.img
/usr/bin/lyfs get card.img /DATA/20250614_080100_F.mp4 back.bin >/dev/null
cmp clip.bin back.bin

# The manual page is found and reads without a warning from groff.
man -w lyfs
warnings=$(MANWIDTH=80 man --warnings lyfs 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man lyfs: $warnings"

# lyfs ls card.img /E<TAB>, as bash would ask it; the completion lists the card.
completed=$(bash -c 'source /usr/share/bash-completion/completions/lyfs
    COMP_WORDS=(lyfs ls card.img /E) COMP_CWORD=3; _lyfs; echo "${COMPREPLY[*]}"')
[ "$completed" = /EVENT ] || fail "lyfs ls card.img /E<TAB> gave '$completed', not /EVENT"

dpkg --purge lyfs
left=$(while read -r path; do [ -e "$path" ] || [ -L "$path" ] && echo "$path"; done < new || true)
[ -z "$left" ] || fail "left behind after dpkg --purge lyfs:" $left
if man -w lyfs 2>/dev/null; then fail "man finds lyfs after the purge"; fi
echo "$(basename "$deb"): installs, builds and runs hosts, man lyfs, completes; purged clean"
