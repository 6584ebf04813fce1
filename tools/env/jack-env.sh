#!/usr/bin/env bash
# Runs a JACK server of its own for the tests and the benchmark: the dummy
# back end (no sound hardware), not real-time, under a server name that no
# other server uses, so that nothing else is disturbed. Clients reach it with
# JACK_DEFAULT_SERVER=NAME.
#
#   jack-env.sh start NAME STATEDIR          start it and wait until it answers
#   jack-env.sh stop NAME STATEDIR           stop it
#   jack-env.sh run NAME STATEDIR PROGRAM .. start it, run PROGRAM with
#                                            JACK_DEFAULT_SERVER=NAME, stop it
#                                            (also when PROGRAM fails); the
#                                            exit status is PROGRAM's
#
# KESTRANE_JACK_PERIOD sets the frames per period (see below).
#
# STATEDIR holds the server's process id and its log (jackd-NAME.pid and
# jackd-NAME.log). A server that an earlier run left behind is stopped before
# a new one starts. The server runs in a session of its own with every output
# stream closed, so that a caller that reads a test's output to its end (CTest
# does) does not wait for it.
set -euo pipefail

usage() {
  echo "usage: $0 start|stop NAME STATEDIR | $0 run NAME STATEDIR PROGRAM [ARGUMENTS...]" >&2
  exit 64
}

[ $# -ge 3 ] || usage
command=$1
name=$2
statedir=$3
shift 3
mkdir -p "$statedir"
pidfile=$statedir/jackd-$name.pid
logfile=$statedir/jackd-$name.log
# Frames per period at 48 kHz: 2048 (43 ms) unless KESTRANE_JACK_PERIOD says
# otherwise. Without real-time scheduling a client's thread on a loaded
# machine can wait tens of milliseconds for a core. By default JACK then goes
# on without the client, and the MIDI of the periods it missed is lost; in
# synchronous mode (--sync) the server waits for every client in each period
# instead, so nothing is lost, and long periods keep those waits rare. (With
# 256 frames and without --sync, messages were lost every few seconds under
# load.) A benchmark on an idle machine may take shorter periods.
period=${KESTRANE_JACK_PERIOD:-2048}

export JACK_NO_START_SERVER=1

answers() {
  JACK_DEFAULT_SERVER=$name jack_lsp </dev/null >/dev/null 2>&1 9>&-
}

# Whether the process is still there (not yet reaped) and is a jackd.
is_our_jackd() {
  local pid=$1
  [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = jackd ]
}

stop() {
  [ -f "$pidfile" ] || return 0
  local pid
  pid=$(cat "$pidfile")
  if is_our_jackd "$pid"; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
      is_our_jackd "$pid" || break
      sleep 0.1
    done
    if is_our_jackd "$pid"; then
      kill -KILL "$pid" 2>/dev/null || true
      for _ in $(seq 50); do
        is_our_jackd "$pid" || break
        sleep 0.1
      done
    fi
  fi
  rm -f "$pidfile"
}

start() {
  exec 9>"$statedir/jackd-$name.lock"
  flock 9
  stop
  if answers; then
    echo "jack-env: a JACK server named $name runs already, not started here; stop it first" >&2
    exit 1
  fi
  # A shell of its own waits for the server, so that the server is reaped at
  # once when it ends: a server that is gone but not reaped still counts as
  # running for the next server of its name. Clients that fall behind are
  # given 10 s before JACK drops them (not the 0.5 s default).
  rm -f "$pidfile"
  setsid bash -c 'jackd "$@" & echo $! >"$0"; wait' "$pidfile" \
    -n "$name" --no-realtime --sync -t 10000 -d dummy -r 48000 -p "$period" \
    </dev/null >"$logfile" 2>&1 9>&- &
  local pid=""
  for _ in $(seq 100); do
    [ -s "$pidfile" ] && break
    sleep 0.1
  done
  pid=$(cat "$pidfile" 2>/dev/null || true)
  # It answers within about a second; a loaded machine gets half a minute.
  for _ in $(seq 300); do
    if answers; then
      flock -u 9
      return 0
    fi
    if ! is_our_jackd "$pid"; then
      break
    fi
    sleep 0.1
  done
  echo "jack-env: the JACK server $name did not start; its log ($logfile):" >&2
  cat "$logfile" >&2 || true
  stop
  exit 1
}

case $command in
  start)
    start
    ;;
  stop)
    stop
    ;;
  run)
    [ $# -ge 1 ] || usage
    start
    status=0
    JACK_DEFAULT_SERVER=$name "$@" || status=$?
    stop
    exit "$status"
    ;;
  *)
    usage
    ;;
esac
