#!/usr/bin/env bash
# Runs a command inside an X display of its own: a virtual one (Xvfb), stopped when it ends.
#
#   bash scripts/with-xvfb.sh COMMAND [ARGS...]      its exit status is the command's
#
# Xvfb picks a free display number itself (-displayfd), so that any number of these, and other
# people's xvfb-run, start at the same time without taking each other's display (xvfb-run -a
# looks for a free number, then starts the server on it: two starting together take the same).
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: with-xvfb.sh COMMAND [ARGS...]" >&2
  exit 2
fi
number="$(mktemp)"
xvfb=""
stop() {
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
  fi
  rm -f "$number"
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
# The server writes the number of the display it took, once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 600); do
  if [ -s "$number" ] || ! kill -0 "$xvfb" 2>/dev/null; then break; fi
  sleep 0.05
done
if ! [[ "$(cat "$number")" =~ ^[0-9]+$ ]]; then
  echo "with-xvfb.sh: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$(cat "$number")"
status=0
"$@" || status=$?
exit "$status"
