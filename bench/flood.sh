#!/usr/bin/env bash
# Flood: vantrel-sim --rate 0 (as fast as the pty carries) into a connected
# vVantrelBus for SECONDS.  Fails on a crash, on a longest stall of the window
# thread (its stall probe: a 10 ms timer's lateness) of STALL_MS or more, or
# when the window is not idle within DRAIN seconds after the flood ends
# (idle: under 5 % of one core, which it cannot be while items are queued,
# as each drain takes every queued item).  The sim keeps the pty open after
# sending, so the end of the flood is not also a hang-up.
#
# Usage: bench/flood.sh [--build DIR] [--seconds N] [--stall-limit MS]
#                       [--drain-limit S] [--timeout S]
# Defaults: build, 30 s, 100 ms, 10 s; TIMEOUT (8 s) bounds the other steps.
set -uo pipefail
self=$(realpath "$0") args=("$@")
cd "$(dirname "$self")/.."
build=build seconds=30 stall_limit=100 drain_limit=10 step_timeout=8
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2 ;;
    --seconds) seconds=$2 ;;
    --stall-limit) stall_limit=$2 ;;
    --drain-limit) drain_limit=$2 ;;
    --timeout) step_timeout=$2 ;;
    *) echo "usage: $0 [--build DIR] [--seconds N] [--stall-limit MS] [--drain-limit S] [--timeout S]" >&2; exit 2 ;;
  esac
  shift 2
done
. bench/window_lib.sh
wl_need_xvfb "$self" "${args[@]}"
wl_init "$build"

wl_start_sim --rate 0 --seconds "$seconds" --linger 3600 --seed 5
wl_start_window
echo "flood: ${seconds} s at --rate 0; window at ${wl_x},${wl_y}; RSS at start: $(wl_rss_kb) kB"

wl_press_connect
wl_wait_readers 1 "$step_timeout" || wl_fail "the connect started no reader"
t0=$(wl_now_ms)
ticks0=$(wl_ticks)
peak_kb=0
# The flood is over when the sim has sent for SECONDS and its file stops growing.
if [ $wl_failed = 0 ]; then
  last=-1
  while :; do
    wl_alive || { wl_fail "the window died during the flood: $(tail -n3 "$wl_tmp/win.err")"; break; }
    kb=$(wl_rss_kb); [ "$kb" -gt $peak_kb ] && peak_kb=$kb
    now=$(wl_sent)
    [ $(($(wl_now_ms) - t0)) -ge $((seconds * 1000)) ] && [ "$now" -eq "$last" ] && break
    [ $(($(wl_now_ms) - t0)) -ge $(((seconds + 60) * 1000)) ] && { wl_fail "the sim did not stop sending"; break; }
    last=$now
    sleep 0.5
  done
fi
t_end=$(wl_now_ms)
ticks_flood=$(($(wl_ticks) - ticks0))
sent=$(wl_sent)

# Drain: wait for the window to go idle.
drain_ms=
if [ $wl_failed = 0 ]; then
  deadline=$((t_end + drain_limit * 1000))
  while [ "$(wl_now_ms)" -lt $deadline ]; do
    cpu=$(wl_cpu_percent 0.5)
    wl_gt 5 "$cpu" && { drain_ms=$(($(wl_now_ms) - t_end - 500)); break; }
  done
  [ -n "$drain_ms" ] || wl_fail "the window was still busy ${drain_limit} s after the flood (queue not drained)"
  rss_after=$(wl_rss_kb)
  wl_alive || wl_fail "the window died after the flood"
fi
# Still responsive: the button disconnects, the reader ends.
if [ $wl_failed = 0 ]; then
  wl_press_connect
  wl_wait_readers 0 "$step_timeout" || wl_fail "the reader did not end after disconnect"
  wl_stop_window 10
fi
kill -TERM "$wl_sim" 2> /dev/null; wait "$wl_sim" 2> /dev/null; wl_sim=

flood_s=$(awk -v a=$t0 -v b=$t_end 'BEGIN { printf "%.1f", (b - a) / 1000 }')
echo "bytes sent: $sent in ${flood_s} s: $(awk -v b="$sent" -v s="$flood_s" 'BEGIN { printf "%.0f", b / s }') bytes/s"
echo "window processor time during the flood: $(awk -v d=$ticks_flood -v hz="$wl_hz" -v s="$flood_s" \
  'BEGIN { printf "%.2f s, %.0f %% of one core", d / hz, 100 * d / hz / s }')"
echo "RSS peak during the flood: ${peak_kb} kB; after draining: ${rss_after:-?} kB"
[ -n "$drain_ms" ] && echo "idle again $((drain_ms < 0 ? 0 : drain_ms)) ms after the flood ended (limit ${drain_limit} s)"
if [ -n "${wl_stall:-}" ]; then
  echo "window thread longest stall: ${wl_stall} ms (running: ${wl_stall_busy} ms; limit ${stall_limit} ms)"
  [ "$wl_stall" -lt "$stall_limit" ] || wl_fail "the window thread stalled for ${wl_stall} ms"
elif [ $wl_failed = 0 ]; then
  wl_fail "no stall figure from the window: $(tail -n3 "$wl_tmp/win.err")"
fi
if [ $wl_failed = 0 ]; then echo "flood: PASS"; else echo "flood: FAIL"; exit 1; fi
