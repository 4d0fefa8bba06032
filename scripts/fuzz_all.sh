#!/usr/bin/env bash
# Builds and runs every fuzz target of fuzz/fuzz_targets.cmake in turn, each
# for SECONDS (600 by default) through fuzz/run.sh, one core at a time:
#   scripts/fuzz_all.sh [seconds]
# Ends non-zero when any target found something (its input is then in
# fuzz/corpus-work/<name>-artifacts/) or could not be built; a summary line
# per target (runs, new corpus units, findings) is printed at the end and
# kept in fuzz/corpus-work/summary.txt.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
mkdir -p fuzz/corpus-work
summary=fuzz/corpus-work/summary.txt
: >"$summary"
stamp=$(mktemp)
trap 'rm -f "$stamp"' EXIT
failed=0
for name in $(sed -n 's/^ql_fuzz_target(\([a-z_]*\) .*/\1/p' fuzz/fuzz_targets.cmake); do
  log="fuzz/corpus-work/${name}.log"
  before=$(find "fuzz/corpus-work/${name}" -type f 2>/dev/null | wc -l)
  fuzz/run.sh "$name" "$seconds" >"$log" 2>&1
  status=$?
  after=$(find "fuzz/corpus-work/${name}" -type f 2>/dev/null | wc -l)
  findings=$(find "fuzz/corpus-work/${name}-artifacts" -type f -newer "$stamp" 2>/dev/null | wc -l)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  line="$name: ${seconds}s, runs ${runs:-?}, new units $((after - before)), findings $findings, exit $status"
  echo "$line" | tee -a "$summary"
  if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then failed=1; fi
done
exit "$failed"
