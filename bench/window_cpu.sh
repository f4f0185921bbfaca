#!/usr/bin/env bash
# Processor time of the vVantrelBus window over a measuring interval, and the
# window thread's longest stall, in three situations:
#   silent   connected to a pseudo-terminal that sends nothing
#   960      demo traffic at 960 bytes/s
#   11520    demo traffic at 11520 bytes/s
# The demo runs the simulated central inside the program, so its time is
# counted too; when vantrel-sim is built, the two rates are measured again
# with the central in that separate process: the window's own cost.
# Against vantrel-sim the same traffic is also read by `cat PORT > /dev/null`
# (port in raw mode, as the window sets it), the least any reader can spend,
# and the window's processor time is given as a multiple of cat's.
# Each situation runs twice: once for processor time (user + system ticks from
# /proc/PID/stat, after a warm-up), once with the stall probe (a 10 ms timer
# whose lateness is reported at exit), so the probe does not inflate the time.
#
# Usage: bench/window_cpu.sh [BUILD_DIR [SECONDS]]      (defaults: build 20)
# Runs under xvfb-run when there is no display, so real painting is measured.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-20}
exe=$build/src/app/vVantrelBus
[ -x "$exe" ] || { echo "no $exe; build first (scripts/build $build)" >&2; exit 1; }

if [ -z "${DISPLAY:-}" ] && [ -z "${WINDOW_CPU_INNER:-}" ]; then
  if command -v xvfb-run >/dev/null; then
    WINDOW_CPU_INNER=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
  fi
  export QT_QPA_PLATFORM=offscreen
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
hz=$(getconf CLK_TCK)
warmup=3  # the stall probe starts after 2 s

# A pseudo-terminal that stays silent: the master is held open by python.
silent_pty() {
  python3 -c '
import os, pty, sys, time
m, s = pty.openpty()
print(os.ttyname(s), flush=True)
os.close(s)
time.sleep(3600)' > "$tmp/pty" &
  echo $! > "$tmp/pty.pid"
  for _ in $(seq 50); do [ -s "$tmp/pty" ] && break; sleep 0.1; done
  cat "$tmp/pty"
}

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# run_case NAME PROBE ARGS...: starts the program, prints processor % or stall.
run_case() {
  local probe=$1; shift
  VANTREL_STALL_PROBE=$probe "$exe" --settings "$tmp/bench.ini" "$@" 2> "$tmp/err" > /dev/null &
  local pid=$!
  sleep $warmup
  local t0 t1
  t0=$(ticks $pid)
  sleep "$seconds"
  t1=$(ticks $pid)
  kill -TERM $pid
  wait $pid || true
  if [ "$probe" = 1 ]; then
    grep -o 'longest stall: .*' "$tmp/err" || { echo "no stall figure"; cat "$tmp/err" >&2; }
  else
    awk -v d=$((t1 - t0)) -v hz="$hz" -v s="$seconds" \
      'BEGIN { printf "%.2f%% of one core (%d ticks of 1/%d s in %d s)\n", 100 * d / hz / s, d, hz, s }'
  fi
}

port=$(silent_pty)
echo "silent pty ($port), ${seconds} s:"
echo "  cpu:   $(run_case 0 --port "$port" --connect)"
echo "  stall: $(run_case 1 --port "$port" --connect)"
kill "$(cat "$tmp/pty.pid")" 2>/dev/null || true

for rate in 960 11520; do
  echo "demo at $rate bytes/s (simulator in-process), ${seconds} s:"
  echo "  cpu:   $(run_case 0 --demo --demo-rate $rate)"
  echo "  stall: $(run_case 1 --demo --demo-rate $rate)"
done

# cat's processor time in ms over the interval; a single thread, so its
# scheduler statistics (ns on a processor) give finer grain than ticks.
run_cat() {
  stty -F "$1" raw -echo
  cat "$1" > /dev/null &
  local pid=$!
  sleep $warmup
  local n0 n1
  n0=$(awk '{print $1}' "/proc/$pid/schedstat")
  sleep "$seconds"
  n1=$(awk '{print $1}' "/proc/$pid/schedstat")
  kill -TERM $pid
  wait $pid 2>/dev/null || true
  awk -v d=$((n1 - n0)) -v s="$seconds" 'BEGIN { printf "%.3f %.1f\n", 100 * d / 1e9 / s, d / 1e6 }'
}

sim=$build/tools/vantrel-sim
if [ -x "$sim" ]; then
  for rate in 960 11520; do
    echo "vantrel-sim at $rate bytes/s (window alone), ${seconds} s:"
    for probe in 0 1 cat; do
      "$sim" --rate $rate --link "$tmp/bus" --linger 0 > /dev/null 2>&1 &
      simpid=$!
      for _ in $(seq 50); do [ -e "$tmp/bus" ] && break; sleep 0.1; done
      if [ $probe = 0 ]; then
        cpu=$(run_case 0 --port "$tmp/bus" --connect)
        echo "  cpu:   $cpu"
      elif [ $probe = 1 ]; then
        echo "  stall: $(run_case 1 --port "$tmp/bus" --connect)"
      else
        read -r catpct catms < <(run_cat "$tmp/bus")
        echo "  cat PORT > /dev/null: ${catpct}% of one core (${catms} ms in ${seconds} s)"
        awk -v w="${cpu%%%*}" -v c="$catpct" \
          'BEGIN { if (c > 0) printf "  window / cat: %.0f x\n", w / c; else print "  window / cat: cat used no measurable time" }'
      fi
      kill -TERM $simpid 2>/dev/null || true
      wait $simpid 2>/dev/null || true
    done
  done
fi
