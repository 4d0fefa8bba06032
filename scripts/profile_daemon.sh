#!/usr/bin/env bash
# Profiles the running daemon while one client asks it for uncached
# thumbnails, and prints the top entries of the profile (self time, by
# symbol). What a request costs besides the decoder's own work shows here.
#
#   sudo scripts/profile_daemon.sh [--build-dir DIR] [--rounds R] [--top N]
#                                  [--size WxH | --full-screen] [--role ROLE]
#                                  [--keep FILE] [-- DAEMON-OPTION...]
# --role picks the corpus photos (measured, the default, or preview: those
# carrying an EXIF preview); --keep FILE keeps perf.data for perf report -i.
#
# Needs perf (Debian linux-perf), a built daemon, ql_loadgen and
# ql_photo_corpus in the build folder (default <repo>/build-bench), and
# root: the daemon takes its pid file under /var/run.
set -euo pipefail

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$REPO/build-bench"
ROUNDS=5
TOP=25
KEEP=""
ROLE=measured
REQUEST=(--width 160 --height 120)
COMMAND_LINE="scripts/profile_daemon.sh${*:+ $*}"
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) BUILD=${2:?}; shift ;;
    --rounds) ROUNDS=${2:?}; shift ;;
    --top) TOP=${2:?}; shift ;;
    --keep) KEEP=${2:?}; shift ;;
    --role) ROLE=${2:?}; shift ;;
    --size) REQUEST=(--width "${2%x*}" --height "${2#*x}"); shift ;;
    --full-screen) REQUEST=(--full-screen --width 1920 --height 1080) ;;
    --) shift; break ;;
    *) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
  esac
  shift
done
command -v perf >/dev/null || { echo "perf is missing (apt-get install linux-perf)" >&2; exit 2; }

WORK=$(mktemp -d "$BUILD/profile.XXXXXX")
# shellcheck source=SCRIPTDIR/lib/daemon.sh
. "$REPO/scripts/lib/daemon.sh"
finish() {
  ql_daemon_stop
  if [ -n "$KEEP" ] && [ -f "$WORK/perf.data" ]; then cp "$WORK/perf.data" "$KEEP"; fi
  rm -rf "$WORK"
}
trap finish EXIT

# The socket the daemon binds, as the build names it (QL_SOCKET_PATH).
# shellcheck source=/dev/null  # written by the build
. "$BUILD/ql_protocol.env"
CORPUS="$BUILD/corpus"
mkdir -p "$CORPUS"
"$BUILD/tools/photo_corpus/ql_photo_corpus" --out "$CORPUS" >/dev/null
PHOTOS=()
while read -r name _ _ _ role _; do
  [ "$role" = "$ROLE" ] && PHOTOS+=("$CORPUS/$name")
done <"$CORPUS/manifest.txt"

# Serving once its pid file names it too: the socket of a daemon that ran
# before (compare_thumbnailers.sh runs this twice) stays behind after it ends.
PID_FILE=/var/run/quorlin_gd.pid
previous=""
for option in "$@"; do
  case $previous in --pid-file) PID_FILE=$option ;; esac
  case $option in --pid-file=*) PID_FILE=${option#--pid-file=} ;; esac
  previous=$option
done
case $PID_FILE in /*) ;; *) PID_FILE=$WORK/$PID_FILE ;; esac  # the daemon runs in $WORK
ql_daemon_start "$QL_SOCKET_PATH" "$PID_FILE" \
  ql_in_dir "$WORK" "$BUILD/src/main/quorlin_gd" -l 0 -o "$WORK" "$@" || true
DAEMON_PID=$QL_DAEMON_PID
# One untimed round first, so the profile shows steady state, not start-up.
"$BUILD/tools/loadgen/ql_loadgen" --cache-root "$WORK/cache" "${REQUEST[@]}" "${PHOTOS[@]}" >/dev/null
perf record -q -F 999 -o "$WORK/perf.data" -p "$DAEMON_PID" -- \
  "$BUILD/tools/loadgen/ql_loadgen" --cache-root "$WORK/cache" --miss-rounds "$ROUNDS" \
  "${REQUEST[@]}" "${PHOTOS[@]}" >/dev/null 2>&1
echo "# $COMMAND_LINE"
echo "# perf record -F 999 -p <daemon> while ql_loadgen --miss-rounds $ROUNDS ${REQUEST[*]}" \
  "over $(basename -a "${PHOTOS[@]}" | tr '\n' ' ')"
echo "# daemon options: ${*:-(none)}"
# Libraries without symbols (libjpeg, zlib) scatter over many addresses:
# the share of each library first, then the symbols.
echo "## by library"
perf report -i "$WORK/perf.data" --no-children -g none --percent-limit 1 --sort dso --stdio 2>/dev/null |
  grep -E '^ +[0-9]'
echo "## by symbol"
perf report -i "$WORK/perf.data" --no-children -g none --percent-limit 0.5 --sort dso,symbol --stdio 2>/dev/null |
  grep -E '^ +[0-9]' | sed 's/ *- *- *$//' | head -n "$TOP"
