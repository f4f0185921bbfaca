#!/usr/bin/env bash
# Soak: vVantrelBus on vantrel-sim --baud 115200 --noise 0.001, connected and
# disconnected by its button every PERIOD seconds for SECONDS.  Fails on a
# crash, a hang (a press not taking effect, no exit on SIGTERM), a connect that
# does not read, a reader that does not end, or resident memory growing by
# LIMIT_MB or more after WARMUP seconds.  The log is cleared after every
# disconnect, so its own lines do not count as growth.
#
# Usage: bench/soak.sh [--build DIR] [--seconds N] [--period S] [--warmup S]
#                      [--rss-limit-mb M] [--timeout S]
# Defaults: build, 600 s, 2 s, 60 s, 5 MB; TIMEOUT (8 s) bounds each step.
set -uo pipefail
self=$(realpath "$0") args=("$@")
cd "$(dirname "$self")/.."
build=build seconds=600 period=2 warmup=60 limit_mb=5 step_timeout=8
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2 ;;
    --seconds) seconds=$2 ;;
    --period) period=$2 ;;
    --warmup) warmup=$2 ;;
    --rss-limit-mb) limit_mb=$2 ;;
    --timeout) step_timeout=$2 ;;
    *) echo "usage: $0 [--build DIR] [--seconds N] [--period S] [--warmup S] [--rss-limit-mb M] [--timeout S]" >&2; exit 2 ;;
  esac
  shift 2
done
. bench/window_lib.sh
wl_need_xvfb "$self" "${args[@]}"
wl_init "$build"

wl_start_sim --baud 115200 --noise 0.001 --seed 9
wl_start_window
echo "soak: ${seconds} s, connect/disconnect every ${period} s, sim at 115200 baud with noise 0.001"
echo "window at ${wl_x},${wl_y}; RSS at start: $(wl_rss_kb) kB"

start=$(wl_now_ms)
end=$((start + seconds * 1000))
connects=0 baseline_kb= max_kb=0 last_kb=0 worst_connect_ms=0 worst_end_ms=0
while [ "$(wl_now_ms)" -lt $end ] && [ $wl_failed = 0 ]; do
  t0=$(wl_now_ms)
  wl_press_connect
  if ! wl_wait_readers 1 "$step_timeout"; then
    wl_alive || { wl_fail "the window died: $(tail -n3 "$wl_tmp/win.err")"; break; }
    wl_fail "connect $((connects + 1)) started no reader within ${step_timeout} s"; break
  fi
  wl_wait_sent_growth "$step_timeout" || { wl_fail "connect $((connects + 1)) read nothing within ${step_timeout} s"; break; }
  ms=$(($(wl_now_ms) - t0)); [ $ms -gt $worst_connect_ms ] && worst_connect_ms=$ms
  connects=$((connects + 1))
  sleep "$(awk -v t=$((t0 + period * 1000 - $(wl_now_ms))) 'BEGIN { print (t > 0 ? t / 1000 : 0) }')"

  t1=$(wl_now_ms)
  wl_press_connect
  wl_wait_readers 0 "$step_timeout" || { wl_fail "disconnect $connects: the reader did not end within ${step_timeout} s"; break; }
  ms=$(($(wl_now_ms) - t1)); [ $ms -gt $worst_end_ms ] && worst_end_ms=$ms
  wl_press_clear_log
  sleep 0.2
  kb=$(wl_rss_kb)
  last_kb=$kb
  if [ $((t1 - start)) -ge $((warmup * 1000)) ]; then
    [ -z "$baseline_kb" ] && baseline_kb=$kb
    [ "$kb" -gt $max_kb ] && max_kb=$kb
  fi
  sleep "$(awk -v t=$((t1 + period * 1000 - $(wl_now_ms))) 'BEGIN { print (t > 0 ? t / 1000 : 0) }')"
done

wl_alive || wl_fail "the window died: $(tail -n3 "$wl_tmp/win.err")"
[ $wl_failed = 0 ] && wl_stop_window 10
kill -TERM "$wl_sim" 2> /dev/null; wait "$wl_sim" 2> /dev/null; wl_sim=

echo "connects that read: $connects; bytes sent by the sim (only while connected): $(wl_sent)"
echo "slowest connect until data flowed: ${worst_connect_ms} ms; slowest reader end after disconnect: ${worst_end_ms} ms"
[ -n "${wl_stall:-}" ] && echo "window thread longest stall: ${wl_stall} ms (running: ${wl_stall_busy} ms)"
if [ -n "$baseline_kb" ]; then
  growth=$((last_kb - baseline_kb))
  echo "RSS after ${warmup} s: ${baseline_kb} kB; at the end: ${last_kb} kB; highest: ${max_kb} kB;" \
    "growth: ${growth} kB (limit $((limit_mb * 1024)) kB)"
  [ $growth -lt $((limit_mb * 1024)) ] || wl_fail "resident memory grew by ${growth} kB after the first ${warmup} s"
else
  [ $wl_failed = 0 ] && wl_fail "the run ended before the warm-up (${warmup} s); no growth measured"
fi
if [ $wl_failed = 0 ]; then echo "soak: PASS"; else echo "soak: FAIL"; exit 1; fi
