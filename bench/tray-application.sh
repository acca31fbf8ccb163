#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Measures the built tray application as it runs: its idle cost ten seconds after the backend is
# ready (its own memory, Private_Dirty, beside the resident memory that mostly counts shared
# libraries; threads; wakeups per second from the kernel's context-switch counters, per thread,
# the backend not counted) and its launch-to-ready time against the backend's own. Runs itself
# under xvfb-run with an XEmbed tray.
#   bench/tray-application.sh [build directory]
set -euo pipefail
build=$(cd "${1:-$(dirname "$0")/../build}" && pwd)
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build"
fi

scratch=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$scratch"' EXIT
export HOME=$scratch/home XDG_RUNTIME_DIR=$scratch/runtime
mkdir -p "$HOME/.config/Morvane/Kelvra Hub" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
echo '{"showWelcomeWindowAtStartup": false, "launchAtLoginDefaultApplied": true}' \
  > "$HOME/.config/Morvane/Kelvra Hub/settings.json"
log="$HOME/.local/state/Morvane/Kelvra Hub/kelvra-hub.log"
now() { date +%s%N; }

trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
sleep 1

# Launch to "Running on …": the log line that follows the status line's change.
start=$(now)
"$build/bundle/bin/kelvra-hub" >"$scratch/app.out" 2>&1 &
app=$!
until grep -q "\[shell\] Backend ready at" "$log" 2>/dev/null; do sleep 0.002; done
launch_ms=$(( ($(now) - start) / 1000000 ))

sleep 10
read_switches() {
  cat /proc/"$app"/task/*/status | awk '/ctxt_switches/ { sum += $2 } END { print sum }'
}
# One line per thread: name and its switches so far.
per_thread_switches() {
  for task in /proc/"$app"/task/*; do
    printf '%s %s\n' "$(cat "$task/comm")" \
      "$(awk '/ctxt_switches/ { sum += $2 } END { print sum }' "$task/status")"
  done | sort
}
rss_kb=$(awk '/VmRSS/ { print $2 }' /proc/"$app"/status)
dirty_kb=$(awk '/Private_Dirty/ { print $2 }' /proc/"$app"/smaps_rollup)
threads=$(ls /proc/"$app"/task | wc -l)
thread_names=$(cat /proc/"$app"/task/*/comm | sort | uniq -c | awk '{ printf "%s%s×%s", sep, $2, $1; sep = ", " }')
before=$(read_switches)
per_thread_switches >"$scratch/switches.before"
sleep 10
after=$(read_switches)
per_thread_switches >"$scratch/switches.after"
kill -TERM "$app"
wait "$app" || true

# The backend alone, started the way the application starts it, to its ready line.
: >"$scratch/backend.out"
start=$(now)
KELVRA_HUB_DESKTOP_HOST=127.0.0.1 KELVRA_HUB_DESKTOP_PORT=0 NODE_ENV=production \
  "$build/bundle/Helpers/node" "$build/bundle/Resources/app/server/desktop.js" \
  >"$scratch/backend.out" 2>&1 < <(sleep 60) &
backend=$!
until grep -q '"event":"ready"' "$scratch/backend.out"; do sleep 0.002; done
backend_ms=$(( ($(now) - start) / 1000000 ))
kill -TERM "$backend"

echo "idle private dirty memory: $(awk -v k="$dirty_kb" 'BEGIN { printf "%.1f", k / 1024 }') MB ($dirty_kb kB)"
echo "idle resident memory: $((rss_kb / 1024)) MB ($rss_kb kB)"
echo "idle threads: $threads ($thread_names)"
echo "idle wakeups per second: $(awk -v a="$before" -v b="$after" 'BEGIN { printf "%.1f", (b - a) / 10 }')"
# Threads that woke while idle, by name (threads that came or went in the window are left out).
paste -d' ' "$scratch/switches.before" "$scratch/switches.after" |
  awk '$1 == $3 && $4 > $2 { printf "  %s woke %d times in 10 s\n", $1, $4 - $2 }'
echo "launch to ready: $launch_ms ms; backend alone: $backend_ms ms; ratio $(awk -v a="$launch_ms" -v b="$backend_ms" 'BEGIN { printf "%.2f", a / b }')"
