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
#   scripts/package.sh [FOLDER]
set -eu
cd "$(dirname "$0")/.."
out=${1:-dist}

script_name=package
. scripts/quietly.sh

scripts/need-packages.sh cmake ninja-build g++ pkg-config tcl8.6-dev tk8.6-dev libgtest-dev \
    help2man dpkg-dev file g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32

mkdir -p "$out"
rm -f "$out"/corrugo-*.zip "$out"/corrugo-*.tar.gz "$out"/corrugo-host_*.deb "$out/SHA256SUMS"
work=$out/.cpack
rm -rf "$work"

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
