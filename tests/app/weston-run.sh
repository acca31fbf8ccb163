#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command inside a headless Wayland compositor of its own, as xvfb-run does for X:
# a private XDG_RUNTIME_DIR, WAYLAND_DISPLAY set, no X display. Exits with the command's status.
set -euo pipefail
runtime=$(mktemp -d)
chmod 700 "$runtime"
weston_pid=
cleanup() {
  [ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null && wait "$weston_pid" 2>/dev/null
  rm -rf "$runtime"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$runtime
# --debug lets a test list the windows on screen: `weston-debug scene-graph`.
weston --backend=headless-backend.so --socket=wayland-test --idle-time=0 --debug \
  --log="$runtime/weston.log" >/dev/null 2>&1 &
weston_pid=$!
for _ in $(seq 100); do
  [ -S "$runtime/wayland-test" ] && break
  kill -0 "$weston_pid" 2>/dev/null || { cat "$runtime/weston.log" >&2; exit 1; }
  sleep 0.1
done
[ -S "$runtime/wayland-test" ] || { echo "weston did not start" >&2; exit 1; }
unset DISPLAY
export WAYLAND_DISPLAY=wayland-test
status=0
"$@" || status=$?
exit "$status"
