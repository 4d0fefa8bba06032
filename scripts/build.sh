#!/usr/bin/env bash
# Configures and builds one flavour of the project.
#   scripts/build.sh [plain|asan|tsan] [extra cmake args...]
# Build folders: build (plain), build-asan, build-tsan.
# plain and asan are built with the default compiler (GCC, as the package);
# tsan with clang, whose thread-safety analysis (-Wthread-safety) checks the
# lock annotations of the sources in the same build that runs the tests
# under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

flavour="${1:-plain}"
shift || true
case "$flavour" in
  plain) dir=build; sanitize="" ;;
  asan)  dir=build-asan; sanitize=address ;;
  tsan)  dir=build-tsan; sanitize=thread ;;
  *) echo "usage: $0 [plain|asan|tsan] [cmake args...]" >&2; exit 2 ;;
esac

if [ "$flavour" = tsan ]; then
  # CMake keeps the compiler a folder was first configured with: a tsan
  # folder configured with GCC is configured afresh.
  cache="$dir/CMakeCache.txt"
  if [ -f "$cache" ] && ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++' "$cache"; then
    rm -rf "$cache" "$dir/CMakeFiles"
  fi
  export CC=clang CXX=clang++
fi
cmake -S . -B "$dir" -DQL_SANITIZE="$sanitize" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
echo "$dir"
