#!/bin/sh
# Makes the release packages in dist/ (or the folder given), with SHA256SUMS
# for them beside them:
#   corrugo-VERSION-windows-x64.zip, corrugo-VERSION-windows-x86.zip
#   corrugo-VERSION-linux-x86_64.tar.gz
#   corrugo-host_VERSION_ARCH.deb
# VERSION is the project version in CMakeLists.txt. The packages come from
# the builds that the tests use (build, build-win64 and build-win32, each
# configured as ./run-tests and scripts/test-windows.sh do when it is not
# yet), brought up to date and packed by cpack; cmake/packaging.cmake says
# what goes into each. Installs what it needs first (as root) when missing;
# scripts/test-packages.sh checks what it makes.
#
# The same commit gives the same bytes whatever the day, the folder (and its
# file system), the umask and the locale: the packages' times are the last
# commit's (SOURCE_DATE_EPOCH, as Debian's tools read it; set it to pack a
# tree that is not a git checkout). cmake/cpack_reproducible.cmake fixes
# times and modes before cpack packs; what cpack cannot be told is done
# after it, by normalise below.
#   scripts/package.sh [FOLDER]
set -eu
cd "$(dirname "$0")/.."
out=${1:-dist}

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    if ! SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) || [ -z "$SOURCE_DATE_EPOCH" ]; then
        echo "package: not a git checkout: set SOURCE_DATE_EPOCH to the sources' time (seconds since 1970)" >&2
        exit 1
    fi
fi
export SOURCE_DATE_EPOCH
export LC_ALL=C.UTF-8 TZ=UTC
umask 022

script_name=package
. scripts/quietly.sh

scripts/need-packages.sh cmake ninja-build g++ pkg-config tcl8.6-dev tk8.6-dev libgtest-dev \
    dpkg-dev file g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 \
    strip-nondeterminism tar gzip

mkdir -p "$out"
rm -f "$out"/corrugo-*.zip "$out"/corrugo-*.tar.gz "$out"/corrugo-host_*.deb "$out/SHA256SUMS"
work=$out/.cpack
rm -rf "$work"

# normalise PACKAGE: what cpack cannot be told. cpack packs an archive's
# files in the order the file system lists them, and counts a folder's size
# on disk into the Debian package's Installed-Size.
# - ZIP: strip-nondeterminism sorts the members and clears their times and
#   owners to SOURCE_DATE_EPOCH and root;
# - TGZ: packed again sorted by name, root's, at SOURCE_DATE_EPOCH, and
#   compressed without a name or time;
# - DEB: built again by dpkg-deb (sorted, root's, its times from
#   SOURCE_DATE_EPOCH) with Installed-Size counted as dpkg-gencontrol does:
#   each file's size in KiB rounded up, 1 for anything else.
normalise() {
    tree=$work/tree
    rm -rf "$tree"
    mkdir "$tree"
    case $1 in
    *.zip)
        quietly strip-nondeterminism --type zip --timestamp "$SOURCE_DATE_EPOCH" "$1" ;;
    *.tar.gz)
        tar -xzf "$1" -C "$tree"
        (cd "$tree" && tar -c --sort=name --format=gnu --owner=0 --group=0 --numeric-owner \
            --mode=u=rwX,go=rX --mtime="@$SOURCE_DATE_EPOCH" -- *) | gzip -9n > "$1" ;;
    *.deb)
        # dpkg-deb wants its control folder 755 whatever the umask
        (umask 022 && dpkg-deb -R "$1" "$tree/root")
        size=$(find "$tree/root" -mindepth 1 -path "$tree/root/DEBIAN" -prune -o -printf '%y %s\n' |
            awk '{ n += $1 == "f" ? int(($2 + 1023) / 1024) : 1 } END { print n }')
        sed -i "s/^Installed-Size: .*/Installed-Size: $size/" "$tree/root/DEBIAN/control"
        quietly dpkg-deb --root-owner-group -Zgzip -b "$tree/root" "$1" ;;
    esac
    rm -rf "$tree"
}

# pack DIR CONFIGURE-ARGUMENTS...: configures DIR once, brings it up to date
# and moves the packages cpack makes there into $out.
pack() {
    dir=$1
    shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        quietly cmake -S . -B "$dir" "$@"
    fi
    quietly cmake --build "$dir" -j2
    quietly cpack --config "$dir/CPackConfig.cmake" -B "$work"
    for file in "$work"/*.zip "$work"/*.tar.gz "$work"/*.deb; do
        if [ -f "$file" ]; then
            mv "$file" "$out/"
            normalise "$out/${file##*/}"
            echo "$out/${file##*/}"
        fi
    done
}

pack build-win64 --toolchain cmake/mingw-w64-x86_64.cmake
pack build-win32 --toolchain cmake/mingw-w64-i686.cmake
pack build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
rm -rf "$work"

(cd "$out" && sha256sum -- corrugo-*.zip corrugo-*.tar.gz corrugo-host_*.deb > SHA256SUMS)
echo "$out/SHA256SUMS"
