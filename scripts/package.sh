#!/bin/sh
# Makes the release archives in dist/, building the plug-in as needed:
#   corrugo-VERSION-windows-x64.zip, corrugo-VERSION-windows-x86.zip
#   corrugo-VERSION-linux-x86_64.tar.gz
# each holding corrugo.p, corrugo.tcl and INSTALL.txt in a folder of the
# archive's name. VERSION is the project version in CMakeLists.txt.
# The cross compilers come from scripts/test-windows.sh, which also tests
# what is packaged here.
#   scripts/package.sh
set -eu
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(corrugo VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
if [ -z "$version" ]; then
    echo "package: no project(corrugo VERSION ...) line in CMakeLists.txt" >&2
    exit 1
fi

script_name=package
. scripts/quietly.sh

# build DIR [TOOLCHAIN]: configures DIR once, then brings the plug-in up to date.
build() {
    if [ ! -f "$1/CMakeCache.txt" ]; then
        if [ -n "${2:-}" ]; then
            quietly cmake -S . -B "$1" --toolchain "$2"
        else
            quietly cmake -S . -B "$1" -DCORRUGO_BUILD_SIM=OFF -DCORRUGO_BUILD_TESTS=OFF
        fi
    fi
    quietly cmake --build "$1" --target corrugo_plugin -j2
}

stage=dist/.stage
rm -rf "$stage"
mkdir -p "$stage"

# stage NAME BUILD-DIR STRIP INSTALL-TEXT ARCH: the archive's folder.
stage() {
    mkdir "$stage/$1"
    "$3" --strip-debug -o "$stage/$1/corrugo.p" "$2/corrugo.p"
    cp script/corrugo.tcl "$stage/$1/corrugo.tcl"
    sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$5/" "$4" > "$stage/$1/INSTALL.txt"
    case $1 in *windows*) sed -i "s/\$/\r/" "$stage/$1/INSTALL.txt" ;; esac
}

for target in x64:x86_64:build-win64 x86:i686:build-win32; do
    arch=${target%%:*}
    rest=${target#*:}
    triple=${rest%%:*}-w64-mingw32
    dir=${rest#*:}
    if ! command -v "$triple-strip" >/dev/null 2>&1; then
        echo "package: $triple-strip not found: run scripts/test-windows.sh first" >&2
        exit 1
    fi
    build "$dir" "cmake/mingw-w64-${rest%%:*}.cmake"
    name=corrugo-$version-windows-$arch
    stage "$name" "$dir" "$triple-strip" packaging/INSTALL-windows.txt "$arch"
    rm -f "dist/$name.zip"
    (cd "$stage" && cmake -E tar cf "../$name.zip" --format=zip "$name")
    echo "dist/$name.zip"
done

build build-linux
name=corrugo-$version-linux-x86_64
stage "$name" build-linux strip packaging/INSTALL-linux.txt x86_64
rm -f "dist/$name.tar.gz"
(cd "$stage" && cmake -E tar czf "../$name.tar.gz" "$name")
echo "dist/$name.tar.gz"

rm -rf "$stage"
