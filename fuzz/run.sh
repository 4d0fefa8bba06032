#!/usr/bin/env bash
# Builds one libFuzzer target with clang (folder build-fuzz) and runs it:
#   fuzz/run.sh <name> <seconds> [extra libFuzzer flags...]
# <name> is the file name without "_fuzzer.cc". New inputs go to
# fuzz/corpus-work/<name>/ (not committed; copy the interesting ones into
# fuzz/corpus/<name>/), crashes to fuzz/corpus-work/<name>-artifacts/. The
# dictionary fuzz/<name>.dict (fuzz/json.dict for json*) and the flags in
# fuzz/<name>.options (one a line) are used when present, and so are the
# leak suppressions of fuzz/<name>.lsan.supp (a third-party library's leak,
# with the reason, never one of ours).
set -euo pipefail
cd "$(dirname "$0")/.."
name="${1:?usage: $0 <name> <seconds> [libFuzzer flags...]}"
seconds="${2:?usage: $0 <name> <seconds> [libFuzzer flags...]}"
shift 2
[ -f "fuzz/${name}_fuzzer.cc" ] || { echo "no fuzz/${name}_fuzzer.cc" >&2; exit 2; }
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DQL_BUILD_FUZZERS=ON -DQL_BUILD_TESTS=OFF \
  -DQL_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz -j"${QL_FUZZ_JOBS:-1}" --target "${name}_fuzzer"
work="fuzz/corpus-work/${name}"
mkdir -p "$work" "${work}-artifacts" "fuzz/corpus/${name}"
dict=()
[[ "$name" == json* ]] && dict=(-dict=fuzz/json.dict)
[ -f "fuzz/${name}.dict" ] && dict=(-dict="fuzz/${name}.dict")
options=()
[ -f "fuzz/${name}.options" ] && mapfile -t options < <(grep -v '^[[:space:]]*\(#\|$\)' "fuzz/${name}.options")
if [ -f "fuzz/${name}.lsan.supp" ]; then
  export LSAN_OPTIONS="suppressions=$PWD/fuzz/${name}.lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
fi
exec "build-fuzz/fuzz/${name}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="${work}-artifacts/" "${dict[@]}" "${options[@]}" "$@" "$work" "fuzz/corpus/${name}"
