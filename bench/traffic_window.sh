#!/usr/bin/env bash
# The traffic view "Provoz" in the running window with a full ring, watched
# from outside (resident memory, processor ticks, the stall probe reported on
# SIGUSR1) while xdotool works the view as a user would.
#
# Default run ("million"):
#   1. fill: vantrel-sim --rate 0 for FILL seconds into the window with the
#      traffic view shown: far more than a million items, so the ring of
#      1,000,000 is full and drops the oldest;
#   2. the sim ends (the window sees the port go), a new one at 115200 baud
#      (11,520 bytes/s) takes the same link and the window connects again;
#   3. following: the window thread's longest stall over FOLLOW seconds, its
#      processor use, resident memory;
#   4. scrolling: Page Up/Down, Home, End in the table, longest stall;
#   5. filter changes: a text typed and cleared, call bytes shown and hidden
#      again (every change rebuilds the rows from the whole ring): longest
#      stall, which is the longest change;
#   6. save all: "Uložit" > "Uložit celý záznam...", a path typed into the file
#      dialog: the stall it causes and the lines written;
#   7. the grid shown instead: processor use, for the ratio to step 3.
# With --plateau SECONDS instead: the sim at 115200 baud for that long with the
# traffic view shown and a ring of RING items (default 100000); resident
# memory every 30 s, and its growth once the ring is full (after 60 s).
#
# Usage: bench/traffic_window.sh [--build DIR] [--fill S] [--follow S]
#                                [--plateau S] [--ring N]
set -uo pipefail
self=$(realpath "$0") args=("$@")
cd "$(dirname "$self")/.."
build=build fill=15 follow=30 plateau=0 ring=
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2 ;;
    --fill) fill=$2 ;;
    --follow) follow=$2 ;;
    --plateau) plateau=$2 ;;
    --ring) ring=$2 ;;
    *) echo "usage: $0 [--build DIR] [--fill S] [--follow S] [--plateau S] [--ring N]" >&2; exit 2 ;;
  esac
  shift 2
done
. bench/window_lib.sh
wl_need_xvfb "$self" "${args[@]}"
if [ "$plateau" -gt 0 ]; then ring=${ring:-100000}; else ring=${ring:-1000000}; fi
# Without reconnecting the window stays disconnected when the filling sim ends,
# and Connect takes the next one.
WL_RING=$ring wl_init "$build" View=traffic Reconnect=0

# The probe's longest stall since the last report, as "N ms (running: M ms)".
probe() {
  local before
  before=$(grep -c 'since the last report' "$wl_tmp/win.err")
  kill -USR1 "$wl_pid"
  for _ in $(seq 50); do
    [ "$(grep -c 'since the last report' "$wl_tmp/win.err")" -gt "$before" ] && break
    sleep 0.05
  done
  grep 'since the last report' "$wl_tmp/win.err" | tail -n1 | sed 's/.*report: //'
}
key() { xdotool key --delay "${2:-60}" "$1"; }

if [ "$plateau" -gt 0 ]; then
  wl_start_sim --baud 115200 --seed 3
  wl_start_window --connect
  wl_wait_readers 1 10 || wl_fail "the window did not connect"
  echo "plateau: ${plateau} s at 115200 baud, traffic view shown, ring of $ring items"
  start=$(wl_now_ms) base=
  while [ $(($(wl_now_ms) - start)) -lt $((plateau * 1000)) ] && wl_alive; do
    sleep 30
    s=$((($(wl_now_ms) - start) / 1000)) kb=$(wl_rss_kb)
    echo "  ${s} s: RSS ${kb} kB, sim sent $(wl_sent) bytes"
    [ -z "$base" ] && [ "$s" -ge 60 ] && base=$kb
    last=$kb
  done
  echo "RSS growth after the first minute: $((last - base)) kB"
  wl_stop_window 10
  exit $wl_failed
fi

echo "fill: vantrel-sim --rate 0 for ${fill} s into the traffic view (ring of $ring items)"
wl_start_sim --rate 0 --seconds "$fill" --linger 0 --seed 5
wl_start_window --connect
wl_wait_readers 1 10 || wl_fail "the window did not connect"
# The sim ends after its time; the window loses the port and disconnects.
wl_wait_readers 0 $((fill + 60)) || wl_fail "the window did not notice the end of the sim"
echo "  sim sent $(wl_sent) bytes; RSS $(wl_rss_kb) kB"

wl_start_sim --baud 115200 --seed 6
wl_press_connect
wl_wait_readers 1 10 || wl_fail "the window did not connect again"
sleep 3
probe > /dev/null
t0=$(wl_ticks)
sleep "$follow"
t1=$(wl_ticks)
echo "following at 11,520 bytes/s for ${follow} s: longest stall $(probe)"
awk -v d=$((t1 - t0)) -v hz="$wl_hz" -v s="$follow" \
  'BEGIN { printf "  processor: %.2f %% of one core (%d ticks)\n", 100 * d / hz / s, d }'
traffic_pct=$(awk -v d=$((t1 - t0)) -v hz="$wl_hz" -v s="$follow" 'BEGIN { printf "%.3f", 100 * d / hz / s }')
echo "  RSS with the full ring: $(wl_rss_kb) kB (VmHWM $(awk '/^VmHWM:/ {print $2}' /proc/$wl_pid/status) kB)"

xdotool mousemove $((wl_x + 400)) $((wl_y + 200)) click 1  # into the table
for _ in $(seq 40); do key Page_Up 40; done
key ctrl+Home
for _ in $(seq 40); do key Page_Down 40; done
for _ in $(seq 20); do xdotool click --delay 40 4; done  # wheel up
key End
sleep 1
echo "scrolling (40 pages up, to the first row, 40 pages down, wheel, End): longest stall $(probe)"

xdotool mousemove $((wl_x + 520)) $((wl_y + 37)) click 1  # the filter field
xdotool type --delay 40 "Loko #3"
key Return
sleep 2
key ctrl+a
key BackSpace
key Return
sleep 2
xdotool mousemove $((wl_x + 155)) $((wl_y + 37)) click 1  # "Skrýt výzvy a 1F" off
sleep 3
xdotool click 1  # and on again
sleep 2
echo "filter changes (text typed and cleared, call bytes shown and hidden): longest stall $(probe)"

out=$wl_tmp/provoz-all.txt
xdotool mousemove $((wl_x + 447)) $((wl_y + 13)) click 1  # "Uložit"
sleep 0.5
key Down
key Down
key Return
sleep 2
key ctrl+a
xdotool type --delay 20 "$out"
key Return
for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
sleep 1
echo "save all rows: longest stall $(probe); $(wc -l < "$out" 2> /dev/null || echo 0) lines, $(stat -c %s "$out" 2> /dev/null || echo 0) bytes"

xdotool mousemove $((wl_x + 40)) $((wl_y + 340)) click 1  # "Provoz" up: the grid
sleep 3
t0=$(wl_ticks)
sleep "$follow"
t1=$(wl_ticks)
grid_pct=$(awk -v d=$((t1 - t0)) -v hz="$wl_hz" -v s="$follow" 'BEGIN { printf "%.3f", 100 * d / hz / s }')
echo "grid shown instead, ${follow} s: processor ${grid_pct} % of one core; traffic view / grid: $(awk -v a="$traffic_pct" -v b="$grid_pct" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')"
wl_stop_window 10
echo "whole run: longest stall ${wl_stall} ms (running ${wl_stall_busy} ms)"
exit $wl_failed
