#!/usr/bin/env bash
# Plants a fixed sample of small faults in src/ and platform/ (seeded, so a
# later run over the same code draws the same mutants) and counts what the
# tests catch. Each module's mutants run against that module's test binary
# plus the tests that drive the real daemon.
#   scripts/mutation_sample.sh OUT_DIR [module...]
# Needs a configured plain build in build/ and ../shared/tools/mutants.py.
# The daemon tests get a private /tmp and /run (unshare), so the run does not
# collide with a daemon or another test run on the same machine.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath "${1:?usage: $0 OUT_DIR [module...]}")
shift
mkdir -p "$out"
mutants=${QL_MUTANTS:-../shared/tools/mutants.py}
modules=("$@")
[ "${#modules[@]}" -eq 0 ] && modules=(thumbnail json log main ipc encoding)

# Runs the named test binaries in turn, in a private /tmp and /run, and
# stops at the first that fails: a killed mutant costs only the binaries up
# to the one that caught it, so list the quick ones first.
isolated() {
  local cmd="rc=0; mkdir -p /tmp/ql-mut-tmp; d=\$(mktemp -d /tmp/ql-mut-tmp/XXXXXX); chmod 1777 \$d;"
  cmd+=" unshare --mount --propagation private sh -c 'mount --bind \$0 /tmp && mount -t tmpfs none /run"
  local t
  for t in "$@"; do cmd+=" && build/tests/$t --gtest_brief=1"; done
  cmd+="' \$d || rc=1; rm -rf \$d; exit \$rc"
  echo "$cmd"
}

run() {  # module n seed files targets... -- binaries...
  local module=$1 n=$2 seed=$3 files=$4; shift 4
  local targets=() binaries=()
  while [ "$1" != -- ]; do targets+=(--target "$1"); shift; done
  shift
  binaries=("$@")
  local tests
  tests=$(isolated "${binaries[@]}")
  echo "=== $module: $n mutants, seed $seed, files $files; tests: ${binaries[*]}"
  # shellcheck disable=SC2086
  python3 "$mutants" --build build --n "$n" --seed "$seed" --files $files \
    "${targets[@]}" --tests "$tests" --timeout 300 --record "$out/$module.jsonl" \
    | tee "$out/$module.log"
}

e2e_thumb=process/thumbnail_e2e_tests
e2e_proc=process/quorlin_gd_process_tests
# The thumbnail code's decoders, colour management and the decoder helpers'
# runner are tested end to end through the helper programs as well; the
# pregeneration tool, hostile peers and special files drive it through the
# daemon too.
e2e_ext=process/extended_formats_e2e_tests
helpers=(quorlin_gd_media_decoder quorlin_gd_still_decoder quorlin_gd_document_decoder)
for m in "${modules[@]}"; do
  case "$m" in
    thumbnail) run thumbnail 50 11 'src/thumbnail/*.cc src/thumbnail/*/*.cc src/thumbnail/*/*/*.cc src/media/ql_media_decoder_*.cc' thumbnail_tests thumbnail_e2e_tests \
                 media_decoder_tests extended_formats_e2e_tests pregen_tests hostile_peer_tests \
                 quorlin_gd_process_tests quorlin_gd quorlin_gd_pregen "${helpers[@]}" -- \
                 thumbnail/thumbnail_tests media/media_decoder_tests "$e2e_thumb" "$e2e_ext" \
                 process/hostile_peer_tests process/pregen_tests "$e2e_proc" ;;
    json)      run json 22 12 'src/json/*.cc platform/libjson/*.c' json_tests thumbnail_e2e_tests quorlin_gd -- \
                 json/json_tests "$e2e_thumb" ;;
    log)       run log 16 13 'src/log/*.cc' log_tests quorlin_gd_process_tests quorlin_gd -- \
                 log/log_tests "$e2e_proc" ;;
    main)      run main 14 14 'src/main/*.cc' ql_main_tests quorlin_gd_process_tests quorlin_gd -- \
                 main/ql_main_tests "$e2e_proc" ;;
    ipc)       run ipc 14 15 'src/ipc/*.cc' ql_ipc_tests quorlin_gd_process_tests quorlin_gd -- \
                 ipc/ql_ipc_tests "$e2e_proc" ;;
    encoding)  run encoding 8 16 'src/encoding/*.cc' encoding_tests -- encoding/encoding_tests ;;
    *) echo "unknown module $m" >&2; exit 2 ;;
  esac
done
grep -h '^killed' "$out"/*.log
