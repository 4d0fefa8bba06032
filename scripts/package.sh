#!/usr/bin/env bash
# Builds the Debian package quorlin-gd in build-package/ and checks it with
# lintian. Installs what it needs first. The last line printed is the path of
# the .deb.
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
# What making and checking the package needs beyond the build.
scripts/install-deps.sh dpkg-dev fakeroot file lintian >&2

dir=build-package
# Debian's hardening flags (fortify, stack protector, relro, now, PIE).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS=$(dpkg-buildflags --get CFLAGS)
CXXFLAGS=$(dpkg-buildflags --get CXXFLAGS)
CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS" LDFLAGS
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
rm -rf "$dir"
cmake -S . -B "$dir" "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQL_BUILD_TESTS=OFF -DQL_BUILD_BENCHMARKS=OFF -DQL_BUILD_FUZZERS=OFF -DQL_BUILD_DEV_TOOLS=OFF \
  -DQL_CLIENT_DEFAULT_PICTURES_DIR=/usr/share/quorlin_gd/default_pictures >&2
cmake --build "$dir" -j"$(nproc)" >&2
(cd "$dir" && cpack -G DEB >&2)

deb=$(ls "$PWD/$dir"/quorlin-gd_*.deb)
# Errors fail the build; the warnings left are explained in README.md.
lintian --fail-on error "$deb" >&2 \
  || { echo "lintian found errors in $deb" >&2; exit 1; }
echo "$deb"
