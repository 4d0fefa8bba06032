#!/usr/bin/env bash
# Installs what is needed, checks the formatting of every tracked source,
# builds with warnings as errors, and runs every test: the plain build, then
# the same tests under ASan+UBSan and under TSan. The TSan build is made with
# clang, whose thread-safety analysis then checks the lock annotations
# (scripts/build.sh).
#   scripts/test.sh            all three flavours
#   scripts/test.sh plain      one flavour (plain, asan or tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/check-format.sh

flavours=("$@")
[ "${#flavours[@]}" -eq 0 ] && flavours=(plain asan tsan)

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp:${TSAN_OPTIONS:-}"

for flavour in "${flavours[@]}"; do
  echo "=== ${flavour} build ==="
  extra=(-DQL_WERROR=ON)
  # The benchmarks' smoke runs only need the plain build.
  [ "$flavour" != plain ] && extra+=(-DQL_BUILD_BENCHMARKS=OFF)
  dir=$(scripts/build.sh "$flavour" "${extra[@]}" | tail -n 1)
  echo "=== ${flavour} tests ==="
  (cd "$dir" && ctest --output-on-failure -j"$(nproc)" --timeout 600)
done
