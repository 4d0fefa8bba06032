#!/usr/bin/env bash
# Builds one libFuzzer target with clang and runs it for a given time.
#   fuzz/run.sh <name> <seconds> [extra libFuzzer flags...]
# <name> is the target's file name without "_fuzzer.cc" (e.g. json_parser).
# Build folder: build-fuzz. New inputs go to fuzz/corpus-work/<name>/ (not
# committed; copy the interesting ones into fuzz/corpus/<name>/), crash
# inputs to fuzz/corpus-work/<name>-artifacts/. A dictionary
# fuzz/<name>.dict, or fuzz/json.dict for names starting with "json", is
# used when present. Flags in fuzz/<name>.options (one a line, e.g.
# -max_len=4096) come before the ones given on the command line.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 2 ]; then
  echo "usage: $0 <name> <seconds> [libFuzzer flags...]" >&2
  exit 2
fi
name="$1"
seconds="$2"
shift 2

if [ ! -f "fuzz/${name}_fuzzer.cc" ]; then
  echo "no fuzz/${name}_fuzzer.cc" >&2
  exit 2
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DQL_BUILD_FUZZERS=ON -DQL_BUILD_TESTS=OFF \
  -DQL_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz -j"${QL_FUZZ_JOBS:-1}" --target "${name}_fuzzer"

work="fuzz/corpus-work/${name}"
artifacts="fuzz/corpus-work/${name}-artifacts"
mkdir -p "$work" "$artifacts" "fuzz/corpus/${name}"

dict=()
if [ -f "fuzz/${name}.dict" ]; then
  dict=(-dict="fuzz/${name}.dict")
elif [[ "$name" == json* ]] && [ -f fuzz/json.dict ]; then
  dict=(-dict=fuzz/json.dict)
fi

options=()
if [ -f "fuzz/${name}.options" ]; then
  mapfile -t options < <(grep -v '^[[:space:]]*\(#\|$\)' "fuzz/${name}.options")
fi

exec "build-fuzz/fuzz/${name}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="${artifacts}/" "${dict[@]}" "${options[@]}" "$@" "$work" "fuzz/corpus/${name}"
