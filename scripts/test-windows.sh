#!/bin/sh
# Builds corrugo.p for 64-bit and 32-bit Windows with MinGW-w64 and runs the
# Windows tests: each DLL's export and import tables, and each DLL under Wine
# in the Windows test host of its width. Installs what is missing first (as
# root, from Debian's packages; 32-bit Wine comes from the i386 architecture,
# which is added for it); quick when everything is there and built.
#
# Every tool is required but one: when the registry cannot give the 32-bit
# Wine (its i386 packages no longer match the amd64 ones installed, say), both
# DLLs are still built and their tables checked and the 64-bit one still runs
# under Wine; one line says that the 32-bit run was skipped and apt-get's
# reason, and the status stays 0.
#   scripts/test-windows.sh
set -eu
cd "$(dirname "$0")/.."

script_name=test-windows
. scripts/quietly.sh

# {====== Tools ======
missing=""
need() { # need COMMAND-OR-FILE PACKAGE
    if ! command -v "$1" >/dev/null 2>&1 && [ ! -x "$1" ]; then
        missing="$missing $2"
    fi
}
need cmake cmake
need make make
need g++ g++
need x86_64-w64-mingw32-g++-win32 g++-mingw-w64-x86-64-win32
need i686-w64-mingw32-g++-win32 g++-mingw-w64-i686-win32
if ! command -v wine64 >/dev/null 2>&1; then
    need /usr/lib/wine/wine64 wine64
fi
if [ -n "$missing" ]; then
    # shellcheck disable=SC2086
    scripts/need-packages.sh $missing || exit 1
fi
find_wine32 "test-windows: the 32-bit DLL's run under Wine"
# }======

# {====== The values the Windows tests expect ======
# They are what the Linux build computes; a change to the wave arithmetic
# must come with them regenerated.
quietly cmake -S . -B build-linux -DCORRUGO_BUILD_SIM=OFF -DCORRUGO_BUILD_TESTS=OFF
quietly cmake --build build-linux --target corrugo_windows_expected -j2
build-linux/corrugo_windows_expected > build-linux/expected_linux.inc
if ! cmp -s build-linux/expected_linux.inc wintest/expected_linux.inc; then
    echo "test-windows: wintest/expected_linux.inc no longer matches the Linux build;" >&2
    echo "  if the change is intended: cp build-linux/expected_linux.inc wintest/" >&2
    exit 1
fi
# }======

# {====== Builds and tests ======
status=0
for arch in x86_64:build-win64 i686:build-win32; do
    toolchain=cmake/mingw-w64-${arch%%:*}.cmake
    dir=${arch#*:}
    echo "test-windows: $dir"
    if [ -f "$dir/CMakeCache.txt" ]; then
        quietly cmake "$dir"
    else
        quietly cmake -S . -B "$dir" --toolchain "$toolchain"
    fi
    quietly cmake --build "$dir" -j2
    # Only the 32-bit run may be missing, and only when its Wine is.
    skip=""
    if [ "$dir" = build-win64 ] || [ -n "$wine32" ]; then
        if ! (cd "$dir" && ctest -N) | grep -q ": corrugo_wintest_full$"; then
            echo "test-windows: $dir has no test under Wine: CMake found no Wine of its width" >&2
            exit 1
        fi
    else
        skip="-E ^corrugo_wine"
    fi
    # shellcheck disable=SC2086
    (cd "$dir" && ctest --output-on-failure $skip) || status=1
done
exit $status
# }======
