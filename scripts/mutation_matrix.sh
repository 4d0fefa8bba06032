#!/usr/bin/env bash
# The whole-suite kill matrix: a seeded sample of small faults per area, each
# one run against EVERY test binary and fuzz corpus replay (not the load
# tests), recording which test cases fail. A case whose every caught fault is
# also caught by another case adds lines, not safety.
#   scripts/mutation_matrix.sh OUT_DIR [area...]   (areas: see the case below)
# Needs a configured plain build in build/ and ../shared/tools/mutants.py.
# Mutates the sources of the tree it runs in: run it in a worktree of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath "${1:?usage: $0 OUT_DIR [area...]}")
shift
mkdir -p "$out"
mutants=${QL_MUTANTS:-../shared/tools/mutants.py}
areas=("$@")
[ "${#areas[@]}" -eq 0 ] && areas=(thumbnail media tools json log main ipc base)

# Every binary in private pid, mount, /tmp and /run namespaces, so a hung
# daemon dies with the run. A parameterised case is named by its suite and
# case; a binary that fails without naming a case (a crash) is named itself.
cat > "$out/suite.sh" <<'EOF'
#!/usr/bin/env bash
d=$(mktemp -d /tmp/ql-matrix-XXXXXX); chmod 1777 "$d"
unshare --pid --fork --mount-proc --mount --propagation private bash -c '
mount --bind "$0" /tmp && mount -t tmpfs none /run || exit 3
rc=0
for t in $(find tests -name "*_tests" -type f -executable | grep -v load_tests | sort); do
  out=$(timeout -k 5 120 "$t" --gtest_brief=1 2>&1) && continue
  rc=1
  echo "$out" | sed "s#^\[  FAILED  \] [A-Za-z0-9_]*/\([A-Za-z0-9_]*\.[A-Za-z0-9_]*\)/.*#[  FAILED  ] \1#" |
    grep "^\[  FAILED  \] [A-Za-z_0-9]*\.[A-Za-z_0-9]*" | sort -u
  echo "$out" | grep -q "^\[  FAILED  \]" || echo "  0 - $(basename "$t") (Failed)"
done
for c in ../fuzz/corpus/*/; do
  n=$(basename "$c"); b=$(find tests -name "${n}_fuzz_replay" -type f | head -1)
  [ -n "$b" ] || continue
  timeout -k 5 120 "$b" "$c" >/dev/null 2>&1 || { rc=1; echo "  0 - fuzz_replay.$n (Failed)"; }
done
exit $rc' "$d"
rc=$?; rm -rf "$d"; exit $rc
EOF
chmod +x "$out/suite.sh"

run() {  # area n seed files
  echo "=== $1: $2 mutants, seed $3, files $4"
  # shellcheck disable=SC2086
  python3 "$mutants" --build build --n "$2" --seed "$3" --files $4 \
    --tests "cd build && $out/suite.sh" --timeout 400 --record "$out/$1.jsonl" | tee "$out/$1.log"
}
for a in "${areas[@]}"; do
  case "$a" in
    thumbnail) run thumbnail 40 31 'src/thumbnail/*.cc src/thumbnail/*/*.cc src/thumbnail/*/*/*.cc src/media/ql_media_decoder_*.cc' ;;
    media)     run media 10 37 'src/media/*.cc' ;;
    tools)     run tools 14 38 'tools/pregen/*.cc tools/client/*.cc' ;;
    json)      run json 12 32 'src/json/*.cc platform/libjson/*.c' ;;
    log)       run log 10 33 'src/log/*.cc' ;;
    main)      run main 10 34 'src/main/*.cc' ;;
    ipc)       run ipc 10 35 'src/ipc/*.cc' ;;
    base)      run base 8 36 'src/base/*.cc src/encoding/*.cc' ;;
    *) echo "unknown area $a" >&2; exit 2 ;;
  esac
done
grep -h '^killed' "$out"/*.log
