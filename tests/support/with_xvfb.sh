#!/usr/bin/env bash
# Runs a command on an X server of its own, as xvfb-run does, with the display number chosen by
# the server itself (-displayfd): tests started at the same moment never meet on one display.
# (xvfb-run -a guesses a free number from the lock files, and two runs at once can take the same
# number; the second then talks to the first's server with a cookie it does not know.)
#   with_xvfb.sh [-s "server arguments"] command [arguments...]
# The command's exit status is returned; 1 when the server did not start.
set -u
server_args="-screen 0 1280x1024x24"
if [ "${1:-}" = -s ]; then
  server_args=$2
  shift 2
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/xvfb.XXXXXX") || exit 1
server=""
cleanup() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# The server reads every cookie of its authority file, whatever display the entry names; the
# clients' entry is written for the display once the server has named it.
cookie=$(mcookie)
: >"$dir/server-auth"
: >"$dir/auth"
xauth -q -f "$dir/server-auth" add :0 . "$cookie"
# The server never resets: by default it resets when its last client leaves, and closes a client
# that was still connecting at that moment, so a program started as another one ends could not
# connect. A desktop's server keeps running while its session does.
# shellcheck disable=SC2086 # the server arguments are words
Xvfb -displayfd 3 -nolisten tcp -noreset -auth "$dir/server-auth" $server_args 3>"$dir/display" 2>"$dir/server.log" &
server=$!
for _ in $(seq 200); do
  grep -q . "$dir/display" 2>/dev/null && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.05
done
number=$(head -n1 "$dir/display" 2>/dev/null)
if [ -z "$number" ]; then
  echo "with_xvfb: Xvfb did not start:" >&2
  cat "$dir/server.log" >&2
  exit 1
fi
xauth -q -f "$dir/auth" add ":$number" . "$cookie"
DISPLAY=":$number" XAUTHORITY="$dir/auth" "$@"
status=$?
# A failed command gets the server's own account beside its output: a server that ended or
# refused a client says so only there.
if [ $status -ne 0 ]; then
  kill -0 "$server" 2>/dev/null || echo "with_xvfb: the X server on :$number has ended" >&2
  if DISPLAY=":$number" XAUTHORITY="$dir/auth" xdotool getdisplaygeometry >/dev/null 2>"$dir/probe"; then
    echo "with_xvfb: a client reaches :$number now" >&2
  else
    echo "with_xvfb: a client cannot reach :$number now: $(head -c 300 "$dir/probe")" >&2
  fi
  if [ -s "$dir/server.log" ]; then
    echo "with_xvfb: the X server's log:" >&2
    cat "$dir/server.log" >&2
  fi
fi
exit $status
