#!/usr/bin/env bash
# Makes the release packages (scripts/package.sh) in a folder of its own and
# checks them as a user meets them:
# - SHA256SUMS names exactly the four packages and `sha256sum -c` passes;
# - the same sources packed again, in a copy elsewhere with other file times,
#   another umask and the clock 400 days on (faketime), give the same
#   SHA256SUMS; no file in a package holds either folder's path;
# - each archive unpacks to one folder of its own name holding corrugo.p,
#   corrugo.tcl, INSTALL.txt and LICENSE and nothing else; each DLL is of its
#   archive's width, exports and imports what the modeller expects and
#   passes the Windows tests under Wine; the Linux module corrugates an
#   example exactly as the built one does;
# - lintian finds no error in the Debian package (its other findings are
#   shown), nor any hardening tag; the Linux program, library and module
#   are bound at start with read-only relocations (BIND_NOW, GNU_RELRO) and
#   stack-protected; each DLL asks for ASLR and DEP (its DllCharacteristics);
# - apt-get installs the package with its dependencies; the installed
#   corrugo-host corrugates an example with the installed plug-in, `man
#   corrugo-host` shows its page and bash loads its completion; the package
#   is purged again and leaves none of its files behind.
# Run as root after scripts/test-windows.sh, which installs MinGW-w64 and
# Wine (./run-tests runs it so); installs what else it needs when missing. It
# refuses to run while corrugo-host is installed on the machine, which it
# would otherwise replace and remove.
#   scripts/test-packages.sh
set -euo pipefail
cd "$(dirname "$0")/.."

script_name=test-packages
. scripts/quietly.sh

fail() {
    echo "test-packages: $*" >&2
    exit 1
}

scripts/need-packages.sh lintian man-db dpkg-dev faketime binutils || exit 1
started=$(date +%s)
installed() {
    dpkg-query -W -f='${Status}' corrugo-host 2>/dev/null | grep -q "ok installed"
}

# One run at a time on a machine: the package is installed system-wide.
exec 9>/run/lock/corrugo-test-packages.lock
flock -w 900 9 || fail "another run holds /run/lock/corrugo-test-packages.lock"
if installed; then
    fail "corrugo-host is installed on this machine; this test installs and removes its own: apt-get purge corrugo-host first"
fi

work=$(mktemp -d)
readable=""
we_installed=no
cleanup() {
    if [ "$we_installed" = yes ] && installed; then
        apt-get -o DPkg::Lock::Timeout=600 purge -y -qq corrugo-host >/dev/null 2>&1 || true
    fi
    rm -rf "$work" "$readable"
}
trap cleanup EXIT

# Both runs pack the same sources, of the last commit's time.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
scripts/package.sh "$work/dist" >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
arch=$(dpkg --print-architecture)
zip64=corrugo-$version-windows-x64
zip32=corrugo-$version-windows-x86
tgz=corrugo-$version-linux-x86_64
deb=corrugo-host_${version}_$arch.deb

# The reference: the built corrugo-host with the built plug-in, on an example.
# The plug-in defines qorvel_dialog by sourcing corrugo.tcl from its folder.
wave=(--along x --sine y --cycles 5 --amplitude 0.15
      -c 'if {[info commands qorvel_dialog] eq ""} {error "corrugo.tcl was not loaded"}')
cp examples/roof.ac "$work/roof.ac"
build/corrugo-host "$work/roof.ac" --plugin build/corrugo.p "${wave[@]}" -o "$work/expected.ac"
cmp -s "$work/roof.ac" "$work/expected.ac" && fail "the reference run moved nothing"

# {====== Checksums ======
echo "test-packages: checksums"
(cd "$work/dist" && sha256sum -c --strict --quiet SHA256SUMS) || fail "sha256sum -c SHA256SUMS failed"
listed=$(sed 's/^[0-9a-f]\{64\}  //' "$work/dist/SHA256SUMS" | sort)
present=$(cd "$work/dist" && ls | grep -vx SHA256SUMS | sort)
expected=$(printf '%s\n' "$zip64.zip" "$zip32.zip" "$tgz.tar.gz" "$deb" | sort)
[ "$listed" = "$expected" ] || fail "SHA256SUMS lists:"$'\n'"$listed"$'\n'"expected:"$'\n'"$expected"
[ "$present" = "$expected" ] || fail "the packages made:"$'\n'"$present"$'\n'"expected:"$'\n'"$expected"
# }======

# {====== Reproducible ======
# The checkout's files (committed or not, but not ignored) copied to another
# folder and dated otherwise, packed there under another umask with the
# clock 400 days on, in a Linux build of its own without the tests, which
# the packages must not depend on.
echo "test-packages: packing again elsewhere"
again=$work/elsewhere/corrugo
mkdir -p "$again"
git ls-files -z --cached --others --exclude-standard |
    tar -c --null -T - --ignore-failed-read 2>/dev/null | tar -x -C "$again"
find "$again" -exec touch -h -d "2001-02-03 04:05:06" {} +
(
    cd "$again"
    umask 077
    quietly cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORRUGO_BUILD_TESTS=OFF
    faketime -f +400d scripts/package.sh "$work/dist-again" >/dev/null
) || fail "packing again in $again failed"
if ! cmp -s "$work/dist/SHA256SUMS" "$work/dist-again/SHA256SUMS"; then
    fail "packed again elsewhere, the checksums differ:"$'\n'"$(diff "$work/dist/SHA256SUMS" "$work/dist-again/SHA256SUMS")"
fi
sed 's/^/  /' "$work/dist/SHA256SUMS"
# no_paths FOLDER WHAT: no file under FOLDER names either checkout's folder.
no_paths() {
    local found
    found=$(grep -rlF -e "$PWD/" -e "$again/" "$1" || true)
    [ -z "$found" ] || fail "$2 holds the build folder's path: ${found//$1\//}"
}
# }======

# {====== The archives ======
# unpack ARCHIVE NAME: unpacks it into $work/NAME and checks its files.
unpack() {
    mkdir "$work/$2"
    (cd "$work/$2" && cmake -E tar xf "$work/dist/$1")
    local files
    files=$(cd "$work/$2" && find . -mindepth 1 | sort | tr '\n' ' ')
    [ "$files" = "./$2 ./$2/INSTALL.txt ./$2/LICENSE ./$2/corrugo.p ./$2/corrugo.tcl " ] ||
        fail "$1 holds: $files"
    local folder=$work/$2/$2
    cmp -s "$folder/corrugo.tcl" script/corrugo.tcl || fail "$1: corrugo.tcl is not script/corrugo.tcl"
    tr -d '\r' < "$folder/LICENSE" | cmp -s - LICENSE || fail "$1: LICENSE is not the project's"
    head -n 1 "$folder/INSTALL.txt" | grep -q "^Corrugo $version for " || fail "$1: INSTALL.txt names no version $version"
    no_paths "$work/$2" "$1"
}

# windows ARCHIVE-NAME OBJDUMP FORMAT BUILD WINE: a Windows archive and its
# DLL, which must pass the Windows tests of BUILD's test host under WINE
# (when WINE is not empty).
windows() {
    echo "test-packages: $1.zip"
    unpack "$1.zip" "$1"
    local folder=$work/$1/$1
    grep -qv $'\r$' "$folder/INSTALL.txt" && fail "$1.zip: INSTALL.txt has lines without CRLF"
    "$2" -f "$folder/corrugo.p" | grep -q "file format $3\$" || fail "$1.zip: corrugo.p is not $3"
    quietly cmake -D OBJDUMP="$(command -v "$2")" -D FILE="$folder/corrugo.p" \
        "-D EXPORTS=AC3DPluginInit;AC3DPluginExit;AC3DPluginAbout;AC3DPluginInfo" \
        -P cmake/check_pe_tables.cmake
    "$2" -h "$folder/corrugo.p" | grep -q debug_ && fail "$1.zip: corrugo.p is not stripped"
    # (cmake/check_pe_tables.cmake has checked them)
    echo "test-packages: $1.zip: corrugo.p" \
        "$("$2" -p "$folder/corrugo.p" | sed -n '/^DllCharacteristics/,/^[A-Z]/p' | sed '$d' | tr -s '\t\n ' ' ')"
    [ -n "$5" ] || return 0 # no Wine of this width (said when it was sought)
    cp "$4/corrugo_wintest_full.exe" "$folder/"
    env -u DISPLAY WINEPREFIX="$PWD/$4/wine-prefix" WINEDEBUG=-all "$5" "$folder/corrugo_wintest_full.exe" full \
        > "$work/wintest.txt" 2>&1 || true
    grep -q "^[0-9]* passed, 0 failed" "$work/wintest.txt" ||
        fail "$1.zip: corrugo.p fails the Windows tests: $(tail -n 5 "$work/wintest.txt")"
}
windows "$zip64" x86_64-w64-mingw32-objdump pei-x86-64 build-win64 /usr/lib/wine/wine64
# The 32-bit Wine alone may be missing, when the registry cannot give it
# (scripts/need-packages.sh says why); then its run is skipped, saying so.
find_wine32 "test-packages: $zip32.zip: the run under Wine"
windows "$zip32" i686-w64-mingw32-objdump pei-i386 build-win32 "$wine32"

echo "test-packages: $tgz.tar.gz"
unpack "$tgz.tar.gz" "$tgz"
objdump -h "$work/$tgz/$tgz/corrugo.p" | grep -q debug_ && fail "$tgz.tar.gz: corrugo.p is not stripped"
build/corrugo-host "$work/roof.ac" --plugin "$work/$tgz/$tgz/corrugo.p" "${wave[@]}" -o "$work/from-archive.ac"
cmp -s "$work/expected.ac" "$work/from-archive.ac" || fail "$tgz.tar.gz: its corrugo.p corrugates differently"
# }======

# {====== The Debian package ======
echo "test-packages: lintian $deb"
status=0
lintian --fail-on error "$work/dist/$deb" > "$work/lintian.txt" 2>&1 || status=$?
grep -v "running with root privileges" "$work/lintian.txt" || true
[ $status = 0 ] || fail "lintian found errors in $deb"
grep -q "hardening-" "$work/lintian.txt" && fail "lintian finds $deb not hardened"

echo "test-packages: hardening"
# hardened FILE WHAT: bound at start, relocations read-only, stack-protected.
hardened() {
    local dynamic
    dynamic=$(readelf -dW "$1")
    grep -q "(FLAGS).*BIND_NOW" <<< "$dynamic" || fail "$2 is not BIND_NOW: $(grep FLAGS <<< "$dynamic")"
    grep -q "GNU_RELRO" <<< "$(readelf -lW "$1")" || fail "$2 has no GNU_RELRO segment"
    grep -q " __stack_chk_fail@" <<< "$(readelf -W --dyn-syms "$1")" || fail "$2 is not stack-protected"
    echo "  $2: $(grep -o "(FLAGS.*" <<< "$dynamic" | tr -s ' ' | tr '\n' ' ')GNU_RELRO, __stack_chk_fail"
}
dpkg-deb -x "$work/dist/$deb" "$work/deb"
no_paths "$work/deb" "$deb"
hardened "$work/deb/usr/bin/corrugo-host" "$deb: corrugo-host"
# The program finds its private library without /proc, and nowhere else.
runpath=$(readelf -dW "$work/deb/usr/bin/corrugo-host" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
[ "$runpath" = /usr/lib/corrugo ] || fail "$deb: corrugo-host's run path is \"$runpath\", not /usr/lib/corrugo"
hardened "$work/deb/usr/lib/corrugo/libcorrugo_sim.so" "$deb: libcorrugo_sim.so"
hardened "$work/deb/usr/lib/corrugo/corrugo.p" "$deb: corrugo.p"
hardened "$work/$tgz/$tgz/corrugo.p" "$tgz.tar.gz: corrugo.p"
depends=$(dpkg-deb -f "$work/dist/$deb" Depends)
for library in libc6 libstdc++6 libtcl8.6 libtk8.6; do
    [[ ", $depends" == *", $library "* ]] || fail "$deb does not depend on $library: $depends"
done

echo "test-packages: installing $deb"
# apt-get reads a local package as the user _apt, who may not enter the
# repository's folder (a clone under /root): it gets a copy in a folder of
# its own that everyone may read.
readable=$(mktemp -d /tmp/corrugo-deb.XXXXXX)
chmod 755 "$readable"
install -m 644 "$work/dist/$deb" "$readable/$deb"
we_installed=yes
quietly env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y \
    --no-install-recommends "$readable/$deb"
installed || fail "apt-get did not install $deb"
files=$(dpkg-query -L corrugo-host)

# By its full name, and its manual page from the system's folder, in case
# `cmake --install` has put another corrugo-host under /usr/local.
host=/usr/bin/corrugo-host
[ "$($host --version | head -n 1)" = "corrugo-host $version" ] || fail "corrugo-host --version: $($host --version 2>&1)"
ldd $host | grep -q "not found" && fail "the installed corrugo-host misses a library: $(ldd $host)"
# From a folder without a plug-in, so the installed one must be found.
(cd "$work" && $host roof.ac "${wave[@]}" --report -o installed.ac) > "$work/report.txt" 2>&1 ||
    fail "the installed corrugo-host failed: $(cat "$work/report.txt")"
cmp -s "$work/expected.ac" "$work/installed.ac" || fail "the installed corrugo-host corrugates differently"
grep -qx "vertices: 369, moved: 360" "$work/report.txt" || fail "the installed corrugo-host reports: $(cat "$work/report.txt")"
# Where /proc is not mounted (here: hidden under an empty one), it still
# starts and finds its library and its plug-in.
if unshare -m true 2>/dev/null; then
    noproc=$(cd "$work" && unshare -m sh -c 'mount -t tmpfs none /proc && "$0" "$@"' \
                 $host roof.ac "${wave[@]}" --report 2>&1) ||
        fail "the installed corrugo-host without /proc: $noproc"
    grep -qx "vertices: 369, moved: 360" <<< "$noproc" || fail "without /proc: $noproc"
fi
page=$(MANPATH=/usr/share/man man -P cat corrugo-host 2>&1) || fail "man corrugo-host: $page"
grep -q "corrugo-host - run the Corrugo wave plug-in on AC3D model files" <<< "$page" || fail "man corrugo-host shows no NAME line: $page"
grep -q -- "--along" <<< "$page" || fail "man corrugo-host does not name --along"
bash -c '. /usr/share/bash-completion/completions/corrugo-host && complete -p corrugo-host' >/dev/null 2>&1 ||
    fail "bash loads no completion for corrugo-host from /usr/share/bash-completion/completions"
cmp -s /usr/share/doc/corrugo-host/copyright LICENSE || fail "/usr/share/doc/corrugo-host/copyright is not LICENSE"
[ "$(zcat /usr/share/doc/corrugo-host/changelog.gz | head -n 1)" = "corrugo-host ($version) unstable; urgency=medium" ] ||
    fail "the package's changelog does not begin with $version"

echo "test-packages: removing corrugo-host"
quietly apt-get -o DPkg::Lock::Timeout=600 purge -y corrugo-host
installed && fail "apt-get did not remove corrugo-host"
while read -r file; do
    [ "$file" = /. ] && continue
    # Folders the system shares with other packages stay.
    if [ -e "$file" ] && ! { [ -d "$file" ] && dpkg-query -S "$file" >/dev/null 2>&1; }; then
        fail "$file is left after removing corrugo-host"
    fi
done <<< "$files"
echo "test-packages: passed in $(($(date +%s) - started)) s ($deb installed, used and removed; three archives and SHA256SUMS checked, the same packed again elsewhere)"
# }======
