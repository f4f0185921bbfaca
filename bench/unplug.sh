#!/usr/bin/env bash
# Unplug: vantrel-sim is killed (SIGKILL, like pulling the adapter) while
# vVantrelBus reads it, TIMES times, with reconnecting switched off.  Each
# time the window must end its reader by itself, show "odpojeno" (the power
# panel back to the panel's face colour), stay under CPU_LIMIT % of one core
# afterwards (no polling of a dead port), and the next press of "Připojit" on
# a new sim must read again.  (reconnect.sh covers reconnecting.)
#
# Usage: bench/unplug.sh [--build DIR] [--times N] [--cpu-limit PERCENT]
#                        [--cpu-seconds S] [--timeout S] [--screenshot PNG]
# Defaults: build, 100, 5 %, 1 s; TIMEOUT (8 s) bounds each step.
set -uo pipefail
self=$(realpath "$0") args=("$@")
cd "$(dirname "$self")/.."
build=build times=100 cpu_limit=5 cpu_seconds=1 step_timeout=8 shot=
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2 ;;
    --times) times=$2 ;;
    --cpu-limit) cpu_limit=$2 ;;
    --cpu-seconds) cpu_seconds=$2 ;;
    --timeout) step_timeout=$2 ;;
    --screenshot) shot=$(realpath -m "$2") ;;
    *) echo "usage: $0 [--build DIR] [--times N] [--cpu-limit PERCENT] [--cpu-seconds S] [--timeout S] [--screenshot PNG]" >&2; exit 2 ;;
  esac
  shift 2
done
. bench/window_lib.sh
wl_need_xvfb "$self" "${args[@]}"
wl_init "$build" Reconnect=0

wl_start_sim --baud 115200 --linger 0
wl_start_window
face=$(wl_panel_colour)
echo "unplug: ${times} times; window at ${wl_x},${wl_y}; panel face $face"

done_n=0 worst_end_ms=0 worst_cpu=0 cpu_sum=0 rss_first=
for i in $(seq "$times"); do
  [ $i -gt 1 ] && wl_start_sim --baud 115200 --linger 0
  wl_press_connect
  wl_wait_readers 1 "$step_timeout" || {
    wl_alive || { wl_fail "the window died: $(tail -n3 "$wl_tmp/win.err")"; break; }
    wl_fail "connect $i started no reader"; break; }
  wl_wait_sent_growth "$step_timeout" || { wl_fail "connect $i read nothing"; break; }
  # The central's power message colours the panel: the window has decoded
  # traffic, and the disconnected face below is then a change it made.
  powered=
  for _ in $(seq $((step_timeout * 10))); do
    [ "$(wl_power_colour)" != "$face" ] && { powered=1; break; }
    sleep 0.1
  done
  [ -n "$powered" ] || { wl_fail "connect $i: no power state shown"; break; }

  kill -KILL "$wl_sim"; wait "$wl_sim" 2> /dev/null; wl_sim=
  t0=$(wl_now_ms)
  wl_wait_readers 0 "$step_timeout" || {
    wl_alive || { wl_fail "the window died after unplug $i: $(tail -n3 "$wl_tmp/win.err")"; break; }
    wl_fail "unplug $i: the reader did not end within ${step_timeout} s"; break; }
  ms=$(($(wl_now_ms) - t0)); [ $ms -gt $worst_end_ms ] && worst_end_ms=$ms
  # The end notice reaches the window after the reader is gone; give it a moment.
  shown=
  for _ in $(seq 20); do
    [ "$(wl_power_colour)" = "$face" ] && { shown=1; break; }
    sleep 0.1
  done
  [ -n "$shown" ] || { wl_fail "unplug $i: the power panel does not show the disconnected state ($(wl_power_colour))"; break; }
  cpu=$(wl_cpu_percent "$cpu_seconds")
  wl_gt "$cpu" "$worst_cpu" && worst_cpu=$cpu
  cpu_sum=$(awk -v a="$cpu_sum" -v b="$cpu" 'BEGIN { print a + b }')
  wl_gt "$cpu" "$cpu_limit" && { wl_fail "unplug $i: ${cpu} % of one core after the port vanished"; break; }
  [ -z "$rss_first" ] && rss_first=$(wl_rss_kb)
  done_n=$i
done

# The window after the last unplug, for a look at what it reports.
[ -n "$shot" ] && import -window root -crop "647x340+${wl_x}+${wl_y}" "$shot"
rss_last=$(wl_rss_kb)
wl_alive || wl_fail "the window died: $(tail -n3 "$wl_tmp/win.err")"
[ $wl_failed = 0 ] && wl_stop_window 10
echo "unplugs handled: $done_n of $times"
echo "slowest reader end after the kill: ${worst_end_ms} ms"
[ $done_n -gt 0 ] && echo "CPU after unplug (${cpu_seconds} s each): highest ${worst_cpu} %," \
  "mean $(awk -v s="$cpu_sum" -v n=$done_n 'BEGIN { printf "%.2f", s / n }') % of one core (limit ${cpu_limit} %)"
echo "RSS after the first unplug: ${rss_first:-?} kB, after the last: ${rss_last} kB"
[ -n "${wl_stall:-}" ] && echo "window thread longest stall: ${wl_stall} ms (running: ${wl_stall_busy} ms)"
if [ $wl_failed = 0 ]; then echo "unplug: PASS"; else echo "unplug: FAIL"; exit 1; fi
