#!/usr/bin/env bash
# Measures quorlin_gd against other thumbnailers and the JPEG decode floors,
# in one run, on the same generated photos, and writes PERFORMANCE.md from
# what it measured. Nothing in that document is typed in by hand.
#
#   sudo scripts/install-bench-deps.sh        # once: vipsthumbnail, convert, djpeg
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

usage() { sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
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
case "$ROUNDS" in ''|*[!0-9]*) echo "--rounds needs a number" >&2; exit 2 ;; esac
case "$HITS" in ''|*[!0-9]*) echo "--hits needs a number" >&2; exit 2 ;; esac

if [ "$(id -u)" != 0 ]; then
  echo "run as root: the daemon writes its pid file under /var/run" >&2
  exit 2
fi
for tool in python3 cmake; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 2; }
done

SOCKET=/tmp/qlGDProcesssSocket
PID_FILE=/var/run/quorlin_gd.pid
# Another instance (a test run, say) may hold the pid file for a while.
for _ in $(seq 60); do
  [ -s "$PID_FILE" ] && kill -0 "$(cat "$PID_FILE")" 2>/dev/null || break
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
DAEMON_PID=""

stop_daemon() {
  [ -n "$DAEMON_PID" ] || return 0
  kill -TERM "$DAEMON_PID" 2>/dev/null || true
  for _ in $(seq 100); do
    kill -0 "$DAEMON_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$DAEMON_PID" 2>/dev/null && kill -KILL "$DAEMON_PID" 2>/dev/null
  wait "$DAEMON_PID" 2>/dev/null || true
  DAEMON_PID=""
}
cleanup() {
  stop_daemon
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
  targets=(quorlin_gd ql_loadgen ql_gd_pipeline ql_time_command ql_photo_corpus default_pictures)
  cmake --build "$BUILD" -j"$(nproc)" --target "${targets[@]}" >/dev/null
  # The cache-save benchmark is someone else's program: without it the run
  # goes on and says so.
  if [ -f "$REPO/bench/cache_save_benchmark.cc" ]; then
    cmake --build "$BUILD" -j"$(nproc)" --target cache_save_benchmark >/dev/null 2>&1 ||
      note "cache_save_benchmark did not build"
  fi
fi
DAEMON="$BUILD/src/main/quorlin_gd"
LOADGEN="$BUILD/tools/loadgen/ql_loadgen"
PIPELINE="$BUILD/tools/loadgen/ql_gd_pipeline"
TIMEIT="$BUILD/tools/loadgen/ql_time_command"
for binary in "$DAEMON" "$LOADGEN" "$PIPELINE" "$TIMEIT" "$BUILD/tools/photo_corpus/ql_photo_corpus"; do
  [ -x "$binary" ] || { echo "missing $binary (build it or drop --no-build)" >&2; exit 1; }
done

CORPUS="$BUILD/corpus"
corpus_args=()
if [ "$FULL" = 1 ]; then CORPUS="$BUILD/corpus-full"; corpus_args=(--full); fi
mkdir -p "$CORPUS"
note "photos in $CORPUS"
"$BUILD/tools/photo_corpus/ql_photo_corpus" --out "$CORPUS" "${corpus_args[@]}" >&2
MEASURED=()
while read -r name _ _ _ role _; do
  case "$role" in
    measured) MEASURED+=("$CORPUS/$name") ;;
    warmup) WARMUP="$CORPUS/$name" ;;
    memory) MEMORY_PHOTO="$CORPUS/$name" ;;
  esac
done <"$CORPUS/manifest.txt"

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
    (cd "$dir" && exec "$DAEMON" -l 0 -o "$dir" "$@" >"$dir/stdout" 2>"$dir/stderr") &
    DAEMON_PID=$!
    up=0
    for _ in $(seq 100); do
      if ! kill -0 "$DAEMON_PID" 2>/dev/null; then break; fi
      if [ -S "$SOCKET" ] && [ "$(cat "$PID_FILE" 2>/dev/null)" = "$DAEMON_PID" ]; then
        up=1
        break
      fi
      sleep 0.05
    done
    sleep 0.2
    if [ -s "$dir/stderr" ]; then
      # A clean start prints nothing (the log goes to the file): anything on
      # standard error is the option parser refusing or ignoring an option.
      put "status.$name" "not available: $(head -n 1 "$dir/stderr" | sed 's|^[^ ]*quorlin_gd: ||' | tr -d '=')"
      stop_daemon
      return 1
    fi
    if [ "$up" = 1 ] && kill -0 "$DAEMON_PID" 2>/dev/null; then return 0; fi
    stop_daemon
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
  if ! "$LOADGEN" --format kv --label "$label" --pid "$DAEMON_PID" \
      --cache-root "$WORK/cache" "$@" >>"$RESULTS" 2>"$WORK/loadgen-$label.err"; then
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
  loadgen "$name" --clients "$clients" --warmup "$WARMUP" --miss-rounds "$ROUNDS" \
    --hits "$hits" "${request[@]}" "${MEASURED[@]}" || true
  if [ "$name" = default ]; then
    # Hits from several clients at once, and with a new connection each.
    loadgen default_hits4 --clients 4 --miss-rounds 0 --hits "$HITS" "${request[@]}" \
      "${MEASURED[@]}" || true
    loadgen default_hits_connect --new-connection --miss-rounds 0 --hits "$((HITS / 2))" \
      "${request[@]}" "${MEASURED[@]}" || true
  fi
  stop_daemon
}

run_mode default 1 "$HITS" "${THUMB[@]}" --
run_mode shrink 1 "$HITS" "${THUMB[@]}" -- --jpeg-shrink-on-load
run_mode fs_default 1 0 "${SCREEN[@]}" --
run_mode fs_fast 1 0 "${SCREEN[@]}" -- --jpeg-shrink-on-load --png-level 1 --png-filters none
run_mode jobs1 4 0 "${THUMB[@]}" --miss-copies 4 -- --jobs 1
run_mode jobs2 4 0 "${THUMB[@]}" --miss-copies 4 -- --jobs 2

# Peak memory of a fresh daemon making one thumbnail of the 20 MP photo.
for mode in default shrink; do
  options=()
  [ "$mode" = shrink ] && options=(--jpeg-shrink-on-load)
  note "peak memory, $mode"
  start_daemon "memory_$mode" "${options[@]}" || continue
  put "memory_$mode.idle_peak_rss_kb" "$(awk '/^VmHWM:/ {print $2}' "/proc/$DAEMON_PID/status")"
  loadgen "memory_$mode" --miss-rounds 1 "${THUMB[@]}" "$MEMORY_PHOTO" || true
  stop_daemon
done

# --- Anchors: the same photos through other programs --------------------------
note "bare libgd pipeline"
"$PIPELINE" --rounds "$ROUNDS" --format kv --label gd_pipeline "${THUMB[@]}" "${MEASURED[@]}" \
  >>"$RESULTS" || put status.gd_pipeline "failed"
"$PIPELINE" --rounds "$ROUNDS" --format kv --label fs_gd_pipeline --full-screen --width 1920 \
  --height 1080 "${MEASURED[@]}" >>"$RESULTS" || put status.fs_gd_pipeline "failed"

# How well this machine runs two CPU-bound processes at once right now (it
# may be shared): the yardstick for what --jobs 2 can gain.
note "machine scaling: two bare libgd runs at once against one"
"$TIMEIT" --rounds "$ROUNDS" --format kv --label scaling.one -- \
  "$PIPELINE" "${THUMB[@]}" "${MEASURED[@]}" >>"$RESULTS" || true
"$TIMEIT" --rounds "$ROUNDS" --format kv --label scaling.two -- \
  bash -c '"$0" "$@" & "$0" "$@"; wait' "$PIPELINE" "${THUMB[@]}" "${MEASURED[@]}" \
  >>"$RESULTS" || true

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

# --- Cache save into full folders (benchmark of its own) ---------------------
CACHE_BENCH="$BUILD/bench/cache_save_benchmark"
if [ -x "$CACHE_BENCH" ]; then
  note "cache save benchmark"
  # File-system times swing from one second to the next: five repetitions in
  # random order, medians reported.
  "$CACHE_BENCH" --benchmark_format=json --benchmark_min_time=0.5 --benchmark_repetitions=5 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
    >"$WORK/cache_save.json" 2>/dev/null || put status.cache_save "failed"
else
  put status.cache_save "not available: bench/cache_save_benchmark not built"
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
put version.vips "$(vipsthumbnail --vips-version 2>/dev/null | head -n 1 || echo 'not installed')"
put version.convert "$("$CONVERT" -version 2>/dev/null | head -n 1 || echo 'not installed')"
put version.djpeg "$(dpkg-query -W -f '${Package} ${Version}' libjpeg-turbo-progs 2>/dev/null || echo 'not installed')"
put run.command "$COMMAND_LINE"
put run.rounds "$ROUNDS"
put run.corpus "$([ "$FULL" = 1 ] && echo full || echo default)"

note "writing $OUTPUT"
python3 - "$RESULTS" "$CORPUS/manifest.txt" "$WORK/cache_save.json" >"$OUTPUT.tmp" <<'PY'
# Turns the measurements of this run (key=value lines) into PERFORMANCE.md.
import json
import sys

results_path, manifest_path, cache_save_path = sys.argv[1:4]
kv = {}
with open(results_path) as results:
    for line in results:
        key, sep, value = line.rstrip("\n").partition("=")
        if sep:
            kv[key] = value


def num(key):
    try:
        return float(kv[key])
    except (KeyError, ValueError):
        return None


photos = []
with open(manifest_path) as manifest:
    for line in manifest:
        f = line.split()
        if len(f) >= 6:
            photos.append({"name": f[0], "width": int(f[1]), "height": int(f[2]),
                           "progressive": f[3] == "1", "role": f[4], "bytes": int(f[5])})
measured = [p for p in photos if p["role"] == "measured"]
classes = []
for p in measured:
    label = "%d MP" % round(p["width"] * p["height"] / 1e6)
    p["class"] = label
    if label not in classes:
        classes.append(label)


def status(label):
    return kv.get("status." + label, "ok")


def file_value(label, name, field):
    for key in ("%s.miss.file.%s.%s" % (label, name, field), "%s.file.%s.%s" % (label, name, field)):
        if key in kv:
            return num(key)
    return None


def mean_over(label, field, files):
    values = [file_value(label, p["name"], field) for p in files]
    if not values or any(v is None for v in values):
        return None
    return sum(values) / len(values)


def per_photo(label, field):
    return mean_over(label, field, measured)


def fmt(value, digits=1):
    if value is None:
        return "n/a"
    return "{:,.{}f}".format(value, digits)


def ratio(a, b):
    if a is None or b is None or b == 0:
        return None
    return a / b


def fmt_ratio(value):
    return "n/a" if value is None else "%.2fx" % value


def unavailable(label):
    s = status(label)
    return None if s == "ok" else s


out = []
w = out.append
w("# Performance")
w("")
w("Written by `scripts/compare_thumbnailers.sh` from the measurements of one run; "
  "no figure here is typed in by hand. Rerun the script to refresh it.")
w("")
w("## Run")
w("")
w("| | |")
w("| --- | --- |")
w("| Command | `%s` |" % kv.get("run.command", "?"))
w("| Started | %s |" % kv.get("run.started", "?"))
w("| Duration | %s s |" % kv.get("run.seconds", "?"))
w("| Rounds per photo | %s (figures are medians over the rounds) |" % kv.get("run.rounds", "?"))
w("| Corpus | %s |" % kv.get("run.corpus", "?"))
w("| Commit | %s |" % kv.get("version.commit", "?"))
w("| Load average before / after | %s / %s |" % (kv.get("run.load_before", "?"),
                                                kv.get("run.load_after", "?")))
w("")
w("## Machine")
w("")
w("| | |")
w("| --- | --- |")
for key, title in (("machine.cpu", "CPU"), ("machine.cores", "Cores"),
                   ("machine.memory", "Memory"), ("machine.os", "OS"),
                   ("machine.kernel", "Kernel"), ("machine.compiler", "Compiler"),
                   ("version.libgd", "libgd"), ("version.libjpeg", "libjpeg"),
                   ("version.vips", "vipsthumbnail"), ("version.convert", "convert"),
                   ("version.djpeg", "djpeg")):
    w("| %s | %s |" % (title, kv.get(key, "?")))
w("")
w("To rerun on the same files (the photos are generated into the build folder):")
w("")
w("```")
w("sudo scripts/install-bench-deps.sh")
w("sudo %s" % kv.get("run.command", "scripts/compare_thumbnailers.sh"))
w("```")
w("")

# --- Goals -------------------------------------------------------------------
goals = []


def goal(text, measured_text, met):
    verdict = "not measured" if met is None else ("met" if met else "NOT met")
    goals.append("| %s | %s | %s |" % (text, measured_text, verdict))


d_cpu = per_photo("default", "cpu_ms")
gd_cpu = per_photo("gd_pipeline", "cpu_ms")
r = ratio(d_cpu, gd_cpu)
goal("Default mode <= 1.1x the bare libgd pipeline (CPU per photo)",
     unavailable("default") or "%s (%s ms vs %s ms)" % (fmt_ratio(r), fmt(d_cpu), fmt(gd_cpu)),
     None if r is None else r <= 1.1)

s_cpu = per_photo("shrink", "cpu_ms")
d8_cpu = per_photo("djpeg_8", "cpu_ms")
r = ratio(s_cpu, d8_cpu)
goal("Shrink-on-load <= 1.05x the djpeg -scale 1/8 floor (CPU per photo)",
     unavailable("shrink") or "%s (%s ms vs %s ms)" % (fmt_ratio(r), fmt(s_cpu), fmt(d8_cpu)),
     None if r is None else r <= 1.05)

s_ms = per_photo("shrink", "ms")
v_ms = per_photo("vips", "ms")
r = ratio(s_ms, v_ms)
goal("Shrink-on-load faster than vipsthumbnail (wall per photo)",
     unavailable("shrink") or "%s (%s ms vs %s ms)" % (fmt_ratio(r), fmt(s_ms), fmt(v_ms)),
     None if r is None else r < 1.0)

f_ms = per_photo("fs_fast", "ms")
fv_ms = per_photo("fs_vips", "ms")
r = ratio(f_ms, fv_ms)
goal("Full-screen with fast PNG faster than vipsthumbnail (wall per photo)",
     unavailable("fs_fast") or "%s (%s ms vs %s ms)" % (fmt_ratio(r), fmt(f_ms), fmt(fv_ms)),
     None if r is None else r < 1.0)

j1 = num("jobs1.miss.per_s")
j2 = num("jobs2.miss.per_s")
r = ratio(j2, j1)
scaling = ratio(2 * (num("scaling.one.ms") or 0), num("scaling.two.ms"))
goal("2 jobs >= 1.8x 1 job (misses per second, 4 clients)",
     unavailable("jobs2") or unavailable("jobs1") or
     "%s (%s/s vs %s/s; meanwhile two bare libgd processes at once gave %s the throughput "
     "of one on this machine)" % (fmt_ratio(r), fmt(j2, 2), fmt(j1, 2), fmt_ratio(scaling)),
     None if r is None else r >= 1.8)

hit_p50 = num("default.hit.p50_ms")
goal("Cache hit end to end < 0.3 ms p50 (one client)",
     unavailable("default") or "%s ms" % fmt(hit_p50, 3),
     None if hit_p50 is None else hit_p50 < 0.3)
hit_rate = num("default_hits4.hit.per_s")
goal(">= 5,000 hits/s (4 clients)",
     unavailable("default_hits4") or "%s hits/s" % fmt(hit_rate, 0),
     None if hit_rate is None else hit_rate >= 5000)

peak = num("memory_shrink.miss.peak_rss_kb")
idle = num("memory_shrink.idle_peak_rss_kb")
goal("Peak memory in shrink-on-load <= 15 MB for a 20 MP photo (whole daemon, VmHWM)",
     unavailable("memory_shrink") or "%s MB (idle daemon %s MB)" % (
         fmt(peak / 1024 if peak else None), fmt(idle / 1024 if idle else None)),
     None if peak is None else peak <= 15 * 1024)

cache_rows = []
cache_ratio = None
cache_note = status("cache_save")
try:
    with open(cache_save_path) as f:
        data = json.load(f)
    by_prefix = {}
    benchmarks = data.get("benchmarks", [])
    # Medians of the repetitions when there are any, single runs otherwise.
    medians = [b for b in benchmarks if b.get("aggregate_name") == "median"]
    for b in medians or [b for b in benchmarks if b.get("run_type", "iteration") == "iteration"]:
        name = b.get("run_name", b["name"])
        unit = b.get("time_unit", "")
        cache_rows.append("| %s | %s %s | %s %s |" % (name, fmt(b.get("real_time"), 2), unit,
                                                  fmt(b.get("cpu_time"), 2), unit))
        parts = name.split("/")
        for i, part in enumerate(parts):
            if part.isdigit():
                prefix = "/".join(parts[:i])
                by_prefix.setdefault(prefix, {})[int(part)] = b.get("real_time")
                break
    def folder_ratio(prefix):
        times = by_prefix.get(prefix, {})
        if 0 in times and 100000 in times:
            return ratio(times[100000], times[0]), times
        return None, times
    cache_ratio, times = folder_ratio("BM_SaveIntoFolderOf")
    if cache_ratio is not None:
        cache_note = "%s (%s vs %s us)" % (fmt_ratio(cache_ratio), fmt(times[100000], 2),
                                           fmt(times[0], 2))
        bare_ratio, bare = folder_ratio("BM_BareFileSystemSaveIntoFolderOf")
        if bare_ratio is not None:
            cache_note += ("; the bare file-system calls of a save gave %s (%s vs %s us)"
                           % (fmt_ratio(bare_ratio), fmt(bare[100000], 2), fmt(bare[0], 2)))
except (OSError, ValueError, KeyError):
    pass
goal("Save into a 100,000-file folder <= 1.2x an empty one", cache_note,
     None if cache_ratio is None else cache_ratio <= 1.2)

w("## Goals")
w("")
w("Ratios from this run only. CPU per photo is the mean over the photos of each photo's "
  "median CPU time; wall per photo likewise with wall time.")
w("")
w("| Goal | Measured | Verdict |")
w("| --- | --- | --- |")
out.extend(goals)
w("")


# --- Per-photo tables ----------------------------------------------------------
def table(title, intro, rows, anchors):
    w("## " + title)
    w("")
    w(intro)
    w("")
    header = "| Thumbnailer | " + " | ".join("%s CPU ms" % c for c in classes) + \
        " | CPU ms per photo | wall ms per photo | " + \
        " | ".join("x %s" % name for name, _ in anchors) + " |"
    w(header)
    w("|" + " --- |" * (header.count("|") - 1))
    for label, name in rows:
        na = unavailable(label)
        cells = []
        for c in classes:
            cells.append(fmt(mean_over(label, "cpu_ms", [p for p in measured if p["class"] == c])))
        cpu = per_photo(label, "cpu_ms")
        wall = per_photo(label, "ms")
        for _, anchor in anchors:
            cells_anchor = per_photo(anchor, "cpu_ms")
            cells.append(None if cpu is None else fmt_ratio(ratio(cpu, cells_anchor)))
        if na and cpu is None:
            w("| %s | %s |" % (name, na) + " |" * (len(classes) + 1 + len(anchors)))
            continue
        w("| %s | %s | %s | %s | %s |" % (
            name, " | ".join(cells[:len(classes)]), fmt(cpu), fmt(wall),
            " | ".join(cells[len(classes):])))
    w("")


table("Thumbnails 160x120 (fill the box)",
      "Daemon rows: the daemon's own CPU time per request (its threads' CPU from "
      "/proc/PID/task/*/schedstat around each request, one client, cache empty) and the "
      "client's wall time from sending the request to the whole reply. Other programs: one "
      "process per photo, CPU time from wait4 (user + system, including start-up), wall time "
      "from start to exit. The x columns divide the CPU per photo by an anchor's.",
      [("default", "quorlin_gd, default mode"),
       ("shrink", "quorlin_gd, --jpeg-shrink-on-load"),
       ("gd_pipeline", "bare libgd pipeline (in-process)"),
       ("vips", "vipsthumbnail -s 160x120 --smartcrop centre"),
       ("convert", "convert -thumbnail (no size hint)"),
       ("convert_hint", "convert -define jpeg:size=320x240 -thumbnail"),
       ("djpeg", "djpeg, full size (decode floor)"),
       ("djpeg_8", "djpeg -scale 1/8 (decode floor)")],
      [("bare libgd", "gd_pipeline"), ("djpeg 1/8", "djpeg_8"), ("vipsthumbnail", "vips")])

table("Full-screen thumbnails (longer side 1920, fit)",
      "Requests with full_screen set and a 1920x1080 box: the longer side of the photo becomes "
      "1920 pixels. vipsthumbnail gets -s 1920x1920, which gives the same size.",
      [("fs_default", "quorlin_gd, default mode"),
       ("fs_fast", "quorlin_gd, shrink-on-load + --png-level 1 --png-filters none"),
       ("fs_gd_pipeline", "bare libgd pipeline (in-process)"),
       ("fs_vips", "vipsthumbnail -s 1920x1920")],
      [("bare libgd", "fs_gd_pipeline"), ("vipsthumbnail", "fs_vips")])

# --- Per photo ----------------------------------------------------------------
per_photo_columns = [("default", "quorlin_gd"), ("shrink", "shrink-on-load"),
                     ("gd_pipeline", "bare libgd"), ("vips", "vipsthumbnail"),
                     ("convert_hint", "convert, hint"), ("djpeg", "djpeg"),
                     ("djpeg_8", "djpeg 1/8")]
w("## CPU ms per photo, 160x120")
w("")
w("Each photo's median CPU time; progressive JPEGs cost several times their baseline twins.")
w("")
w("| Photo | " + " | ".join(title for _, title in per_photo_columns) + " |")
w("| --- |" + " --- |" * len(per_photo_columns))
for p in measured:
    w("| %s | " % p["name"] + " | ".join(
        fmt(file_value(label, p["name"], "cpu_ms")) for label, _ in per_photo_columns) + " |")
w("")

# --- Photos -------------------------------------------------------------------
w("## Photos")
w("")
w("Generated by `ql_photo_corpus` (gradients, hard-edged objects, texture and grain; "
  "JPEG quality 90).")
w("")
w("| Photo | Size | Kind | Bytes | Use |")
w("| --- | --- | --- | --- | --- |")
for p in photos:
    w("| %s | %dx%d | %s | %s | %s |" % (p["name"], p["width"], p["height"],
                                        "progressive" if p["progressive"] else "baseline",
                                        "{:,}".format(p["bytes"]), p["role"]))
w("")

# --- Latency and throughput ------------------------------------------------------
w("## Misses and hits over the socket")
w("")
w("`ql_loadgen` against the running daemon. Misses: every photo once per round, each round "
  "on an empty cache folder; the jobs1 and jobs2 runs send every photo four times a round "
  "(`--miss-copies 4`, each copy into its own empty cache folder), so that four clients keep "
  "both jobs busy until the round's end instead of leaving the largest photo to decode alone. "
  "Hits: the same requests again, answered from the cache.")
w("")
w("| Run | Clients | Options | Miss /s | Miss p50 ms | Miss p99 ms | Hit /s | Hit p50 ms | "
  "Hit p99 ms | Failed |")
w("| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |")
runs = [("default", "1"), ("default_hits4", "4"), ("default_hits_connect", "1, new connection"),
        ("shrink", "1"), ("fs_default", "1"), ("fs_fast", "1"), ("jobs1", "4"), ("jobs2", "4")]
for label, clients in runs:
    daemon_label = label.split("_hits")[0]
    opts = kv.get("daemon.%s.options" % daemon_label, "")
    na = unavailable(label)
    if na and num(label + ".miss.requests") is None and num(label + ".hit.requests") is None:
        w("| %s | %s | %s | %s | | | | | | |" % (label, clients, opts, na))
        continue
    failed = sum(v for v in (num(label + ".miss.failed"), num(label + ".hit.failed")) if v)
    w("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %d |" % (
        label, clients, opts,
        fmt(num(label + ".miss.per_s"), 2), fmt(num(label + ".miss.p50_ms")),
        fmt(num(label + ".miss.p99_ms")), fmt(num(label + ".hit.per_s"), 0),
        fmt(num(label + ".hit.p50_ms"), 3), fmt(num(label + ".hit.p99_ms"), 3), failed))
w("")

w("## Peak memory, one 20 MP photo")
w("")
w("A fresh daemon per line; VmHWM from /proc/PID/status before the request and after it.")
w("")
w("| Mode | Idle daemon MB | After the photo MB |")
w("| --- | --- | --- |")
for mode in ("default", "shrink"):
    label = "memory_" + mode
    idle = num(label + ".idle_peak_rss_kb")
    peak = num(label + ".miss.peak_rss_kb")
    if unavailable(label) and peak is None:
        w("| %s | %s | |" % (mode, unavailable(label)))
    else:
        w("| %s | %s | %s |" % (mode, fmt(idle / 1024 if idle else None),
                                fmt(peak / 1024 if peak else None)))
w("")

if cache_rows:
    w("## Cache save benchmark")
    w("")
    w("`bench/cache_save_benchmark`, time per save, medians of five repetitions run in random "
      "order. BM_SaveIntoFolderOf is the daemon's save (clean-up of the outdated file through "
      "the folder index, temporary file, fsync, rename); the folder index is filled by one "
      "untimed save first, as a long-running daemon holds it. "
      "BM_BareFileSystemSaveIntoFolderOf makes only the file-system calls of a save, the floor "
      "the folder's size imposes whatever the daemon does.")
    w("")
    w("| Benchmark | Real time | CPU time |")
    w("| --- | --- | --- |")
    out.extend(sorted(cache_rows))
    w("")

problems = sorted((k[len("status."):], v) for k, v in kv.items()
                  if k.startswith("status.") and v != "ok")
if problems:
    w("## Not measured or failed")
    w("")
    for label, text in problems:
        w("- %s: %s" % (label, text))
    w("")

w("## Notes")
w("")
w("- The daemon runs with `-l 0` (errors only) and its default options unless a row names "
  "others; one daemon is started per mode and stopped with SIGTERM afterwards.")
w("- The machine may be shared; the load averages above show how busy it was.")
w("- External programs pay their process start-up on every photo; the daemon and the bare "
  "libgd pipeline do not.")
print("\n".join(out))
PY
mv "$OUTPUT.tmp" "$OUTPUT"
note "done in $(($(date +%s) - RUN_STARTED)) s"
