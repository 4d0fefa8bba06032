#!/usr/bin/env bash
# Measures quorlin_gd against other thumbnailers and the JPEG decode floors,
# in one run, on the same generated photos, and writes PERFORMANCE.md from
# what it measured. Nothing in that document is typed in by hand, except
# the sections at its end whose headings say "(measured by hand)", which a
# run keeps as they are.
#
# The main comparison is warm against warm: the daemon (one client, through
# the socket, cache folder on the disk of the build folder) against anchors
# that each run as one process over all photos after an untimed warm-up
# round (bare libgd, libjpeg shrink, libvips in-process). The command-line
# programs (vipsthumbnail, convert, djpeg), one process per photo, are a
# separate table of cold figures.
#
#   sudo scripts/install-bench-deps.sh        # once: libvips, convert, djpeg
#   sudo scripts/compare_thumbnailers.sh      # default corpus, a few minutes
#   sudo scripts/compare_thumbnailers.sh --full
#
# Options:
#   --full             four photos per size and kind instead of one or two
#   --rounds R         timed repetitions of every photo (default 3)
#   --hits N           cache-hit requests per daemon mode (default 2000)
#   --build-dir DIR    build folder (default <repo>/build-bench, Release)
#   --output FILE      the report (default <repo>/PERFORMANCE.md)
#   --no-build         use the binaries already in the build folder
#   --keep-work        keep the work folder (raw results, daemon logs, outputs)
#
# The daemon takes its pid file under /var/run, so this runs as root. It
# waits (up to two minutes) while another quorlin_gd holds the pid file, and it stops
# every daemon it started (SIGTERM) before it ends. A daemon mode whose
# command-line option this build does not accept is reported as
# "not available" instead of failing the run.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$REPO/build-bench"
OUTPUT="$REPO/PERFORMANCE.md"
ROUNDS=3
HITS=2000
FULL=0
BUILD_FIRST=1
KEEP_WORK=0
COMMAND_LINE="scripts/compare_thumbnailers.sh${*:+ $*}"

usage() { sed -n '2,32p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
while [ $# -gt 0 ]; do
  case "$1" in
    --full) FULL=1 ;;
    --rounds) ROUNDS=${2:?}; shift ;;
    --hits) HITS=${2:?}; shift ;;
    --build-dir) BUILD=${2:?}; shift ;;
    --output) OUTPUT=${2:?}; shift ;;
    --no-build) BUILD_FIRST=0 ;;
    --keep-work) KEEP_WORK=1 ;;
    -h|--help) usage ;;
    *) echo "unknown option: $1" >&2; usage ;;
  esac
  shift
done
mkdir -p "$BUILD"
BUILD=$(cd "$BUILD" && pwd)  # the daemon runs in a folder of its own
case "$ROUNDS" in ''|*[!0-9]*) echo "--rounds needs a number" >&2; exit 2 ;; esac
case "$HITS" in ''|*[!0-9]*) echo "--hits needs a number" >&2; exit 2 ;; esac

if [ "$(id -u)" != 0 ]; then
  echo "run as root: the daemon writes its pid file under /var/run" >&2
  exit 2
fi
for tool in python3 cmake; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 2; }
done

PID_FILE=/var/run/quorlin_gd.pid
# Another instance (a test run, say) may hold the pid file for a while.
for _ in $(seq 60); do
  { [ -s "$PID_FILE" ] && kill -0 "$(cat "$PID_FILE")" 2>/dev/null; } || break
  echo "another quorlin_gd (pid $(cat "$PID_FILE")) is running; waiting for it to end" >&2
  sleep 2
done
if [ -s "$PID_FILE" ] && kill -0 "$(cat "$PID_FILE")" 2>/dev/null; then
  echo "another quorlin_gd (pid $(cat "$PID_FILE")) is still running; stop it first" >&2
  exit 1
fi

WORK=$(mktemp -d /tmp/ql_compare.XXXXXX)
RESULTS="$WORK/results.kv"
: >"$RESULTS"
CACHE_ROOT=""

# shellcheck source=SCRIPTDIR/lib/daemon.sh
. "$REPO/scripts/lib/daemon.sh"
cleanup() {
  ql_daemon_stop
  [ -z "$CACHE_ROOT" ] || rm -rf "$CACHE_ROOT"
  if [ "$KEEP_WORK" = 1 ]; then
    echo "work folder kept: $WORK" >&2
  else
    rm -rf "$WORK"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

note() { echo "== $*" >&2; }
put() { echo "$1=$2" >>"$RESULTS"; }

# --- Build and corpus --------------------------------------------------------
# The commit the binaries are built from (taken before building).
put version.commit "$(git -C "$REPO" rev-parse --short HEAD)$(git -C "$REPO" diff --quiet HEAD -- src tools || echo ' (with uncommitted changes)')"
if [ "$BUILD_FIRST" = 1 ]; then
  note "building (Release) in $BUILD"
  cmake -S "$REPO" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQL_BUILD_BENCHMARKS=ON >/dev/null
  targets=(quorlin_gd quorlin_gd_client ql_loadgen ql_gd_pipeline ql_jpeg_shrink_pipeline
    ql_time_command ql_photo_corpus default_pictures)
  cmake --build "$BUILD" -j"$(nproc)" --target "${targets[@]}" >/dev/null
  # Built only where libvips's headers are installed (install-bench-deps.sh).
  cmake --build "$BUILD" -j"$(nproc)" --target ql_vips_pipeline >/dev/null 2>&1 ||
    note "ql_vips_pipeline did not build (libvips-dev missing?)"
  # The cache-save benchmark is someone else's program: without it the run
  # goes on and says so.
  if [ -f "$REPO/bench/cache_save_benchmark.cc" ]; then
    cmake --build "$BUILD" -j"$(nproc)" --target cache_save_benchmark >/dev/null 2>&1 ||
      note "cache_save_benchmark did not build"
  fi
fi
# The socket the daemon binds, as the build names it (QL_SOCKET_PATH).
# shellcheck source=/dev/null  # written by the build
. "$BUILD/ql_protocol.env"
SOCKET=$QL_SOCKET_PATH
DAEMON="$BUILD/src/main/quorlin_gd"
LOADGEN="$BUILD/tools/loadgen/ql_loadgen"
PIPELINE="$BUILD/tools/loadgen/ql_gd_pipeline"
JPEG_PIPELINE="$BUILD/tools/loadgen/ql_jpeg_shrink_pipeline"
VIPS_PIPELINE="$BUILD/tools/loadgen/ql_vips_pipeline"
TIMEIT="$BUILD/tools/loadgen/ql_time_command"
CLIENT="$BUILD/tools/client/quorlin_gd_client"
for binary in "$DAEMON" "$LOADGEN" "$PIPELINE" "$JPEG_PIPELINE" "$TIMEIT" "$CLIENT" \
    "$BUILD/tools/photo_corpus/ql_photo_corpus"; do
  [ -x "$binary" ] || { echo "missing $binary (build it or drop --no-build)" >&2; exit 1; }
done

CORPUS="$BUILD/corpus"
corpus_args=()
if [ "$FULL" = 1 ]; then CORPUS="$BUILD/corpus-full"; corpus_args=(--full); fi
mkdir -p "$CORPUS"
note "photos in $CORPUS"
"$BUILD/tools/photo_corpus/ql_photo_corpus" --out "$CORPUS" "${corpus_args[@]}" >&2
MEASURED=()
PREVIEWS=()
while read -r name _ _ _ role _; do
  case "$role" in
    measured) MEASURED+=("$CORPUS/$name") ;;
    preview) PREVIEWS+=("$CORPUS/$name") ;;
    memory) MEMORY_PHOTO="$CORPUS/$name" ;;
  esac
done <"$CORPUS/manifest.txt"

# The daemon's cache goes on the disk of the build folder (not /tmp, which
# may be tmpfs), where a save pays for its write, fsync and rename.
CACHE_ROOT="$BUILD/bench-cache"
rm -rf "$CACHE_ROOT"
mkdir -p "$CACHE_ROOT"
put run.cache_fs "$(stat -f -c %T "$CACHE_ROOT") ($(df -P "$CACHE_ROOT" | awk 'NR == 2 {print $1}'))"

put run.load_before "$(cut -d' ' -f1-3 /proc/loadavg)"
put run.started "$(date -u '+%Y-%m-%d %H:%M:%S UTC')"
RUN_STARTED=$(date +%s)

# --- Daemon modes ------------------------------------------------------------
# start_daemon NAME OPTION... : starts quorlin_gd in a folder of its own and
# waits until it answers. Returns 1 (with status.NAME set) when this build
# does not accept the options or the daemon does not come up.
start_daemon() {
  local name=$1
  shift
  local dir="$WORK/daemon-$name"
  mkdir -p "$dir"
  put "daemon.$name.options" "${*:-(none)}"
  local attempt up
  for attempt in $(seq 120); do
    rm -f "$dir/gd.log"
    up=0
    ql_daemon_start "$SOCKET" "$PID_FILE" \
      ql_in_dir "$dir" "$DAEMON" -l 0 -o "$dir" "$@" >"$dir/stdout" 2>"$dir/stderr" && up=1
    sleep 0.2
    if [ -s "$dir/stderr" ]; then
      # A clean start prints nothing (the log goes to the file): anything on
      # standard error is the option parser refusing or ignoring an option.
      put "status.$name" "not available: $(head -n 1 "$dir/stderr" | sed 's|^[^ ]*quorlin_gd: ||' | tr -d '=')"
      ql_daemon_stop
      return 1
    fi
    if [ "$up" = 1 ] && kill -0 "$QL_DAEMON_PID" 2>/dev/null; then return 0; fi
    ql_daemon_stop
    # Another instance (a test run on the same machine) holds the pid file:
    # wait for it to end rather than measure nothing.
    grep -q "already running" "$dir/gd.log" 2>/dev/null || break
    note "another quorlin_gd is running; waiting (attempt $attempt)"
    sleep 2
  done
  put "status.$name" "failed: the daemon did not start (see its log)"
  return 1
}

# loadgen LABEL ARG... : one load generator run against the running daemon.
loadgen() {
  local label=$1
  shift
  if ! "$LOADGEN" --format kv --label "$label" --pid "$QL_DAEMON_PID" \
      --cache-root "$CACHE_ROOT" "$@" >>"$RESULTS" 2>"$WORK/loadgen-$label.err"; then
    put "status.$label" "failed: $(tail -n 1 "$WORK/loadgen-$label.err" | tr -d '=')"
    return 1
  fi
  put "status.$label" ok
}

THUMB=(--width 160 --height 120)
SCREEN=(--full-screen --width 1920 --height 1080)

# run_mode NAME CLIENTS HITS REQUEST-ARGS... -- DAEMON-OPTIONS...
run_mode() {
  local name=$1 clients=$2 hits=$3
  shift 3
  local request=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do request+=("$1"); shift; done
  shift
  note "daemon mode $name: ${*:-(no options)}"
  start_daemon "$name" "$@" || return 0
  # Warm as the anchors are: one untimed miss round over every photo first.
  "$LOADGEN" --pid "$QL_DAEMON_PID" --cache-root "$CACHE_ROOT" --clients "$clients" \
    "${request[@]}" "${PHOTOS[@]}" >/dev/null 2>&1 || true
  loadgen "$name" --clients "$clients" --miss-rounds "$ROUNDS" \
    --hits "$hits" "${request[@]}" "${PHOTOS[@]}" || true
  if [ "$name" = default ]; then
    # Hits from several clients at once, and with a new connection each.
    loadgen default_hits4 --clients 4 --miss-rounds 0 --hits "$HITS" "${request[@]}" \
      "${MEASURED[@]}" || true
    loadgen default_hits_connect --new-connection --miss-rounds 0 --hits "$((HITS / 2))" \
      "${request[@]}" "${MEASURED[@]}" || true
  fi
  if [ "$name" = shrink_pv ] || [ "$name" = embedded ]; then
    # The thumbnails themselves, to compare the two ways of making them.
    local photo
    for photo in "${PREVIEWS[@]}"; do
      "$CLIENT" --path "$photo" "${request[@]}" --thumbnail-folder "$CACHE_ROOT/client-$name" \
        --output "$WORK/$name-$(basename "$photo" .jpg).png" >/dev/null 2>&1 || true
    done
  fi
  ql_daemon_stop
}

PHOTOS=("${MEASURED[@]}")
run_mode default 1 "$HITS" "${THUMB[@]}" --
run_mode shrink 1 "$HITS" "${THUMB[@]}" -- --jpeg-shrink-on-load
PHOTOS=("${PREVIEWS[@]}")
run_mode shrink_pv 1 0 "${THUMB[@]}" -- --jpeg-shrink-on-load
run_mode embedded 1 0 "${THUMB[@]}" -- --embedded-previews
# The same pair with the fast PNG setting: a 160x120 encode at libgd's default
# compression costs more than the decode of a preview.
FAST_PNG=(--png-level 1 --png-filters none)
run_mode shrink_pv_fast 1 0 "${THUMB[@]}" -- --jpeg-shrink-on-load "${FAST_PNG[@]}"
run_mode embedded_fast 1 0 "${THUMB[@]}" -- --embedded-previews "${FAST_PNG[@]}"
PHOTOS=("${MEASURED[@]}")
run_mode fs_default 1 0 "${SCREEN[@]}" --
run_mode fs_fast 1 0 "${SCREEN[@]}" -- --jpeg-shrink-on-load --png-level 1 --png-filters none
run_mode jobs1 4 0 "${THUMB[@]}" --miss-copies 4 -- --jobs 1
run_mode jobs2 4 0 "${THUMB[@]}" --miss-copies 4 -- --jobs 2

# Memory of a fresh daemon making one thumbnail of the 20 MP photo: its
# peak, and (default mode) what it still holds after 10 s without requests.
for mode in default shrink; do
  options=()
  [ "$mode" = shrink ] && options=(--jpeg-shrink-on-load)
  note "memory, $mode"
  start_daemon "memory_$mode" "${options[@]}" || continue
  put "memory_$mode.idle_peak_rss_kb" "$(awk '/^VmHWM:/ {print $2}' "/proc/$QL_DAEMON_PID/status")"
  put "memory_$mode.idle_rss_kb" "$(awk '/^VmRSS:/ {print $2}' "/proc/$QL_DAEMON_PID/status")"
  loadgen "memory_$mode" --miss-rounds 1 "${THUMB[@]}" "$MEMORY_PHOTO" || true
  if [ "$mode" = default ]; then
    sleep 10
    put "memory_$mode.rss_after_idle_kb" "$(awk '/^VmRSS:/ {print $2}' "/proc/$QL_DAEMON_PID/status")"
  fi
  ql_daemon_stop
done

# --- Warm anchors: one process each over all photos, warm-up round first -----
# anchor LABEL PROGRAM ARG... : one anchor run, its kv lines into the results.
anchor() {
  local label=$1 program=$2
  shift 2
  note "anchor $label"
  if [ ! -x "$program" ]; then
    put "status.$label" "not available: $(basename "$program") not built"
  elif ! "$program" --rounds "$ROUNDS" --format kv --label "$label" "$@" >>"$RESULTS" \
      2>"$WORK/anchor-$label.err"; then
    put "status.$label" "failed: $(tail -n 1 "$WORK/anchor-$label.err" | tr -d '=')"
  fi
}
FAST_PNG=(--png-level 1 --png-unfiltered)
anchor gd_pipeline "$PIPELINE" "${THUMB[@]}" "${MEASURED[@]}"
anchor jpeg_shrink "$JPEG_PIPELINE" "${THUMB[@]}" "${MEASURED[@]}"
anchor vips_pipeline "$VIPS_PIPELINE" "${THUMB[@]}" "${MEASURED[@]}"
anchor fs_gd_pipeline "$PIPELINE" "${SCREEN[@]}" "${MEASURED[@]}"
anchor fs_jpeg_shrink "$JPEG_PIPELINE" "${SCREEN[@]}" "${MEASURED[@]}"
anchor fs_vips_pipeline "$VIPS_PIPELINE" "${SCREEN[@]}" "${MEASURED[@]}"
anchor fs_vips_fast "$VIPS_PIPELINE" "${SCREEN[@]}" "${FAST_PNG[@]}" "${MEASURED[@]}"

# How well this machine runs two CPU-bound processes at once right now (it
# may be shared): the yardstick for what --jobs 2 can gain.
note "machine scaling: two bare libgd runs at once against one"
"$TIMEIT" --rounds "$ROUNDS" --format kv --label scaling.one -- \
  "$PIPELINE" "${THUMB[@]}" "${MEASURED[@]}" >>"$RESULTS" || true
# shellcheck disable=SC2016  # expanded by the inner shell
"$TIMEIT" --rounds "$ROUNDS" --format kv --label scaling.two -- \
  bash -c '"$0" "$@" & "$0" "$@"; wait' "$PIPELINE" "${THUMB[@]}" "${MEASURED[@]}" \
  >>"$RESULTS" || true

# --- Cold: the command-line programs, one process per photo ------------------
CONVERT=/usr/bin/convert  # the real ImageMagick, not a wrapper earlier in PATH
OUT="$WORK/out"
mkdir -p "$OUT"
have() { [ -x "$1" ] || command -v "$1" >/dev/null 2>&1; }
# timed LABEL PHOTO COMMAND... : one photo through one program, ROUNDS times.
timed() {
  local label=$1 photo=$2
  shift 2
  "$TIMEIT" --rounds "$ROUNDS" --format kv --label "$label.file.$(basename "$photo")" -- "$@" \
    >>"$RESULTS" || put "status.$label" "failed on $(basename "$photo")"
}
for tool in vipsthumbnail "$CONVERT" djpeg; do
  if ! have "$tool"; then put "status.$(basename "$tool")" "not installed"; fi
done
for photo in "${MEASURED[@]}"; do
  base=$(basename "$photo" .jpg)
  note "anchors: $base"
  if have vipsthumbnail; then
    timed vips "$photo" vipsthumbnail "$photo" -s 160x120 --smartcrop centre -o "$OUT/v_%s.png"
    # Fit the longer side to 1920, as the daemon's full-screen mode does.
    timed fs_vips "$photo" vipsthumbnail "$photo" -s 1920x1920 -o "$OUT/fv_%s.png"
  fi
  if have "$CONVERT"; then
    timed convert "$photo" "$CONVERT" "$photo" -thumbnail '160x120^' -gravity center \
      -extent 160x120 "$OUT/c_$base.png"
    timed convert_hint "$photo" "$CONVERT" -define jpeg:size=320x240 "$photo" \
      -thumbnail '160x120^' -gravity center -extent 160x120 "$OUT/ch_$base.png"
  fi
  if have djpeg; then
    timed djpeg "$photo" djpeg -outfile /dev/null "$photo"
    timed djpeg_8 "$photo" djpeg -scale 1/8 -outfile /dev/null "$photo"
  fi
done

# --- Cache save (benchmark of its own) -----------------------------------------
CACHE_BENCH="$BUILD/bench/cache_save_benchmark"
if [ -x "$CACHE_BENCH" ]; then
  note "cache save benchmark"
  # File-system times swing from one second to the next: five repetitions in
  # random order, medians reported. Its folders go on the same disk as the
  # daemon's cache above.
  TMPDIR="$CACHE_ROOT" "$CACHE_BENCH" --benchmark_format=json --benchmark_min_time=0.5 --benchmark_repetitions=5 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    >"$WORK/cache_save.json" 2>/dev/null || put status.cache_save "failed"
else
  put status.cache_save "not available: bench/cache_save_benchmark not built"
fi

# --- Profile -----------------------------------------------------------------
# Where a miss's time goes: the daemon with the C library's own allocator
# behaviour (--memory-idle-ms 0, as before it kept its decode memory), then as
# it runs by default. Same photos, one client, scripts/profile_daemon.sh.
if command -v perf >/dev/null; then
  note "profiles"
  "$REPO/scripts/profile_daemon.sh" --build-dir "$BUILD" --top 15 -- --memory-idle-ms 0 \
    >"$WORK/profile_before.txt" 2>&1 || put status.profile "failed"
  "$REPO/scripts/profile_daemon.sh" --build-dir "$BUILD" --top 15 \
    >"$WORK/profile_after.txt" 2>&1 || put status.profile "failed"
else
  put status.profile "not available: perf is not installed (linux-perf)"
fi

put run.load_after "$(cut -d' ' -f1-3 /proc/loadavg)"
put run.seconds "$(($(date +%s) - RUN_STARTED))"

# --- Machine -----------------------------------------------------------------
put machine.cpu "$(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)"
put machine.cores "$(nproc)"
put machine.memory "$(awk '/^MemTotal:/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
put machine.kernel "$(uname -r)"
put machine.os "$(. /etc/os-release && echo "$PRETTY_NAME")"
put machine.compiler "$(c++ --version | head -n 1)"
put version.libgd "$(pkg-config --modversion gdlib 2>/dev/null || echo unknown)"
put version.libjpeg "$(dpkg-query -W -f '${Package} ${Version}' libjpeg62-turbo 2>/dev/null || echo unknown)"
put version.vips "$(pkg-config --modversion vips 2>/dev/null || echo 'not installed')"
put version.vipsthumbnail "$(vipsthumbnail --vips-version 2>/dev/null | head -n 1 || echo 'not installed')"
put version.convert "$("$CONVERT" -version 2>/dev/null | head -n 1 || echo 'not installed')"
put version.djpeg "$(dpkg-query -W -f '${Package} ${Version}' libjpeg-turbo-progs 2>/dev/null || echo 'not installed')"
put run.command "$COMMAND_LINE"
put run.rounds "$ROUNDS"
put run.corpus "$([ "$FULL" = 1 ] && echo full || echo default)"

note "writing $OUTPUT"
python3 "$REPO/scripts/bench/render_performance.py" "$RESULTS" "$CORPUS/manifest.txt" \
  "$WORK/cache_save.json" "$WORK" >"$OUTPUT.tmp"
# Sections measured by hand (their headings end in "(measured by hand)")
# are kept, from the first one to the end, so a new run does not lose them.
if [ -f "$OUTPUT" ] && grep -q '^## .*(measured by hand)$' "$OUTPUT"; then
  { echo; sed -n '/^## .*(measured by hand)$/,$p' "$OUTPUT"; } >>"$OUTPUT.tmp"
fi
mv "$OUTPUT.tmp" "$OUTPUT"
note "done in $(($(date +%s) - RUN_STARTED)) s"
