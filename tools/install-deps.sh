#!/bin/sh
# Installs what the builds and tests need, once; does nothing when all is there.
set -eu

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# Unversioned names only, so that the next Debian release picks its own: the
# ThreadSanitizer runtime comes with g++, libFuzzer with libclang-rt-dev.
packages="cmake make g++ googletest libgtest-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 xvfb xauth"
# Fuzzing (clang's libFuzzer) and the thread-sanitizer build.
packages="$packages clang libclang-rt-dev"
# `make format`; Python reads the include lines for the layering test.
packages="$packages clang-format python3"
# `install-deps.sh bench`: also what the check's benchmark links against.
if [ "${1:-}" = bench ]; then
    packages="$packages pkg-config libbenchmark-dev libpcre2-dev"
    # Hyperscan, unless Vectorscan, its fork, is installed in its place.
    have libvectorscan-dev || packages="$packages libhyperscan-dev"
fi
# `install-deps.sh screenshots`: the Wine prefix gets Wine's own fonts, for the
# symbols on the frames' buttons (Python, already in, turns the pictures into PNG).
if [ "${1:-}" = screenshots ]; then
    packages="$packages fonts-wine"
fi
missing=""
for p in $packages; do have "$p" || missing="$missing $p"; done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing$missing; run as root or install them" >&2
    exit 1
fi
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails one index; the others still serve the install.
apt-get update -qq || echo "install-deps: some package lists could not be updated; installing from the rest" >&2
if ! apt-get install -y -qq $missing; then
    # With one architecture's update index missing, a library's 64- and 32-bit
    # halves are offered at different versions; the release's own versions agree.
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    apt-get install -y -qq -t "$codename" $missing
fi
