#!/usr/bin/env bash
# Fails when a tracked C or C++ source differs from what clang-format makes
# of it under the project's .clang-format; lists the files that differ.
#   scripts/check-format.sh        check (what scripts/test.sh runs first)
#   scripts/check-format.sh --fix  reformat those files in place
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files '*.c' '*.cc' '*.h')
if [ "${#files[@]}" -eq 0 ]; then
  echo "check-format: no tracked sources found" >&2
  exit 1
fi

if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi

if ! command -v clang-format >/dev/null; then
  echo "check-format: clang-format is not installed (scripts/install-deps.sh)" >&2
  exit 1
fi
# One run over every file; each difference is reported as
# "<file>:<line>:<column>: error: code should be clang-formatted".
if output=$(clang-format --dry-run --Werror "${files[@]}" 2>&1); then
  echo "check-format: ${#files[@]} files formatted"
  exit 0
fi
echo "check-format: these files differ from clang-format's output" \
  "(scripts/check-format.sh --fix):" >&2
printf '%s\n' "$output" | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: error: .*/  \1/p' | sort -u >&2
exit 1
