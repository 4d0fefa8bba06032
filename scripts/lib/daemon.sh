# shellcheck shell=bash
# Starting, waiting for and stopping quorlin_gd from the measuring scripts,
# and running a script where its fixed socket and pid file are its own.
# Sourced, not run:
#   . "$(dirname "${BASH_SOURCE[0]}")/lib/daemon.sh"

# The daemon last started by ql_daemon_start ("" once stopped).
QL_DAEMON_PID=""

# ql_daemon_start SOCKET PID_FILE COMMAND...
# Runs COMMAND (the daemon with its options; `env ...` or `ql_in_dir DIR ...`
# in front when needed) in the background, the caller's redirections applying
# to it, and waits up to 10 s until it serves: still alive, SOCKET bound and
# PID_FILE naming it. An empty SOCKET or PID_FILE is not waited for; the pid
# file matters where an earlier daemon's socket may still be lying about.
# Returns 1 if the daemon ended or did not come up in time.
ql_daemon_start() {
  local socket=$1 pid_file=$2
  shift 2
  "$@" &
  QL_DAEMON_PID=$!
  local _
  for _ in $(seq 200); do
    kill -0 "$QL_DAEMON_PID" 2>/dev/null || return 1
    if { [ -z "$socket" ] || [ -S "$socket" ]; } &&
        { [ -z "$pid_file" ] || [ "$({ tr -dc 0-9 <"$pid_file"; } 2>/dev/null)" = "$QL_DAEMON_PID" ]; }; then
      return 0
    fi
    sleep 0.05
  done
  return 1
}

# ql_in_dir DIR COMMAND...: COMMAND run from DIR (where a daemon started
# without -o would write its log).
ql_in_dir() {
  cd "$1" && shift && exec "$@"
}

# ql_daemon_stop: SIGTERM to the daemon ql_daemon_start began, SIGKILL if it
# has not ended 10 s later; reaps it. Does nothing when none runs, so an EXIT
# trap may call it.
ql_daemon_stop() {
  [ -n "$QL_DAEMON_PID" ] || return 0
  kill -TERM "$QL_DAEMON_PID" 2>/dev/null || true
  local _
  for _ in $(seq 100); do
    kill -0 "$QL_DAEMON_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$QL_DAEMON_PID" 2>/dev/null && kill -KILL "$QL_DAEMON_PID" 2>/dev/null
  wait "$QL_DAEMON_PID" 2>/dev/null || true
  QL_DAEMON_PID=""
}

# ql_private_tmp SCRIPT [PATH...] -- ARG...
# Runs SCRIPT (the caller, "$0") again with ARGs, as root, in a mount namespace
# of its own with empty tmpfs on /tmp and /run (/var/run links there): the
# daemon's fixed socket and /var/run/quorlin_gd.pid then collide with no
# other daemon on the machine, and go when the script ends. PATHs are the
# folders and files the run reads or writes from outside. When one of them
# or SCRIPT is under /tmp or /run (it would not be seen in there), or when not
# root, the script goes on where it is, with a note on standard error.
# Returns at once inside such a namespace already.
ql_private_tmp() {
  local script=$1
  [ "${QL_PRIVATE_TMP:-}" = 1 ] && return 0
  local path
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    path=$(realpath -m "$1")
    case $path/ in
      /tmp/*|/run/*|/var/run/*)
        echo "note: $1 is under /tmp or /run; running without a private /tmp and /run" >&2
        return 0 ;;
    esac
    shift
  done
  [ $# -gt 0 ] && shift
  if [ "$(id -u)" != 0 ]; then
    echo "note: not root; running without a private /tmp and /run" >&2
    return 0
  fi
  export QL_PRIVATE_TMP=1
  # shellcheck disable=SC2016  # expanded by the inner shell
  exec unshare -m --propagation private bash -c \
    'mount -t tmpfs tmpfs /tmp && mount -t tmpfs tmpfs /run && mkdir -p /run/lock && exec "$@"' \
    _ "$BASH" "$script" "$@"
}
