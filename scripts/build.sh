#!/usr/bin/env bash
# Configures and builds one flavour of the project.
#   scripts/build.sh [plain|asan|tsan] [extra cmake args...]
# Build folders: build (plain), build-asan, build-tsan.
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

cmake -S . -B "$dir" -DQL_SANITIZE="$sanitize" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
echo "$dir"
