#!/usr/bin/env bash
# Reconnect: vantrel-sim on a link is killed (SIGKILL, like pulling the
# adapter; its link stays behind, dangling) and started again on the same
# link, TIMES times, first while vVantrelBus reads it (reconnecting on, the
# window's default), then while `vantrel-dump --reconnect` does.  Each time
# the reader must end by itself and the program wait with the button down
# (a "vantrel-watch" thread, no reader), use under CPU_LIMIT % of one core
# while it waits, and read again (data flows) within RETURN_LIMIT ms of the
# link's return.  At the end the program's descriptors and threads must be
# as many as after the first connect.
#
# Usage: bench/reconnect.sh [--build DIR] [--times N] [--cpu-limit PERCENT]
#          [--wait-seconds S] [--return-limit MS] [--timeout S] [--shots PREFIX]
# Defaults: build, 100, 0.5 %, 1 s of waiting measured per loss, 1000 ms,
# 8 s per step.  --shots PREFIX keeps PREFIX-waiting.png and PREFIX-back.png
# of the window after the first loss and the first return.
set -uo pipefail
self=$(realpath "$0") args=("$@")
cd "$(dirname "$self")/.."
build=build times=100 cpu_limit=0.5 wait_seconds=1 return_limit=1000 step_timeout=8 shots=
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2 ;;
    --times) times=$2 ;;
    --cpu-limit) cpu_limit=$2 ;;
    --wait-seconds) wait_seconds=$2 ;;
    --return-limit) return_limit=$2 ;;
    --timeout) step_timeout=$2 ;;
    --shots) shots=$(realpath -m "$2") ;;
    *) echo "usage: $0 [--build DIR] [--times N] [--cpu-limit PERCENT] [--wait-seconds S] [--return-limit MS] [--timeout S] [--shots PREFIX]" >&2; exit 2 ;;
  esac
  shift 2
done
. bench/window_lib.sh
wl_need_xvfb "$self" "${args[@]}"
wl_init "$build" Reconnect=1
dump_exe=$build/tools/vantrel-dump
[ -x "$dump_exe" ] || { echo "no $dump_exe; build first" >&2; exit 1; }

# What a process holds and has used, from outside.
fds() { ls "/proc/$1/fd" 2> /dev/null | wc -l; }
threads() { ls "/proc/$1/task" 2> /dev/null | wc -l; }
watching() { grep -qx vantrel-watch /proc/"$1"/task/*/comm 2> /dev/null; }
not_watching() { ! watching "$1"; }
no_pooled() { ! grep -qx 'Thread (pooled)' /proc/"$1"/task/*/comm 2> /dev/null; }
run_ns() { cat /proc/"$1"/task/*/schedstat 2> /dev/null | awk '{ s += $1 } END { printf "%.0f\n", s }'; }
# cpu_while PID SECONDS: processor use in % of one core over the interval
# (nanoseconds of run time, not clock ticks: 0.5 % of a second is 5 ms).
cpu_while() {
  local a b
  a=$(run_ns "$1"); sleep "$2"; b=$(run_ns "$1")
  awk -v d=$((b - a)) -v s="$2" 'BEGIN { printf "%.3f", 100 * d / (s * 1e9) }'
}
wait_until() {  # wait_until SECONDS COMMAND...: true when COMMAND succeeds in time
  local deadline=$(($(wl_now_ms) + $1 * 1000)); shift
  while [ "$(wl_now_ms)" -lt $deadline ]; do "$@" && return 0; sleep 0.02; done
  return 1
}
lines() { { wc -l < "$1"; } 2> /dev/null || echo 0; }
grew() { [ "$(lines "$1")" -gt "$2" ]; }
sim_grew() { [ "$(wl_sent)" -gt "$1" ]; }
reading_window() { [ "$(wl_readers)" -eq 1 ] && ! watching "$wl_pid"; }
waiting_window() { [ "$(wl_readers)" -eq 0 ] && watching "$wl_pid"; }
count_in() { grep -c -- "$2" "$1" 2> /dev/null; }
at_least() { [ "$(count_in "$1" "$2")" -ge "$3" ]; }

# cycle WHO PID I: one loss and return; sets open_ms (until the port is
# read again), ms (until data flows: the sim waits 200 ms for a new reader
# to settle, then sends every 50 ms) and cpu; false on a failure.
cycle() {
  local who=$1 pid=$2 i=$3 before t0
  kill -KILL "$wl_sim"; wait "$wl_sim" 2> /dev/null; wl_sim=
  if [ "$who" = window ]; then
    wait_until "$step_timeout" waiting_window || { wl_fail "window, loss $i: not waiting (readers $(wl_readers))"; return 1; }
  else
    wait_until "$step_timeout" at_least "$wl_tmp/dump.err" "port lost: " "$i" || { wl_fail "dump, loss $i: no 'port lost' line"; return 1; }
    wait_until "$step_timeout" watching "$pid" || { wl_fail "dump, loss $i: not waiting"; return 1; }
  fi
  cpu=$(cpu_while "$pid" "$wait_seconds")
  [ "$who" = window ] && [ $i = 1 ] && [ -n "$shots" ] && import -window root -crop "647x340+${wl_x}+${wl_y}" "$shots-waiting.png"
  before=$(lines "$wl_tmp/dump.out")
  wl_start_sim --baud 115200 --linger 0
  t0=$(wl_now_ms)
  if [ "$who" = window ]; then
    wait_until "$step_timeout" reading_window || { wl_fail "window, return $i: no reader"; return 1; }
  else
    wait_until "$step_timeout" not_watching "$pid" || { wl_fail "dump, return $i: still waiting"; return 1; }
  fi
  open_ms=$(($(wl_now_ms) - t0))
  if [ "$who" = window ]; then
    wait_until "$step_timeout" sim_grew 0 || { wl_fail "window, return $i: no data flows"; return 1; }
  else
    wait_until "$step_timeout" grew "$wl_tmp/dump.out" "$before" || { wl_fail "dump, return $i: no data flows"; return 1; }
  fi
  ms=$(($(wl_now_ms) - t0))
  if [ "$who" = window ] && [ $i = 1 ] && [ -n "$shots" ]; then
    sleep 1
    import -window root -crop "647x340+${wl_x}+${wl_y}" "$shots-back.png"
  fi
  return 0
}

# run WHO PID: TIMES cycles, then the figures.
run() {
  local who=$1 pid=$2 i fd0 th0 fd1 th1 worst_ms=0 sum_ms=0 worst_cpu=0.000 sum_cpu=0 done_n=0 late=0
  local worst_open=0 sum_open=0
  # Qt ends a pooled thread (and its descriptor) after 30 s idle: the counts
  # to keep are taken once the start-up's pooled ones are gone.
  wait_until 40 no_pooled "$pid" || echo "$who: a pooled Qt thread is still there after 40 s"
  fd0=$(fds "$pid") th0=$(threads "$pid")
  for i in $(seq "$times"); do
    cycle "$who" "$pid" "$i" || break
    [ $ms -gt $worst_ms ] && worst_ms=$ms
    [ $ms -gt "$return_limit" ] && late=$((late + 1))
    sum_ms=$((sum_ms + ms))
    [ $open_ms -gt $worst_open ] && worst_open=$open_ms
    sum_open=$((sum_open + open_ms))
    wl_gt "$cpu" "$worst_cpu" && worst_cpu=$cpu
    sum_cpu=$(awk -v a="$sum_cpu" -v b="$cpu" 'BEGIN { print a + b }')
    done_n=$i
  done
  fd1=$(fds "$pid") th1=$(threads "$pid")
  echo "$who: losses and returns handled: $done_n of $times"
  [ $done_n -gt 0 ] || return
  echo "$who: port open again after the link's return: mean $((sum_open / done_n)) ms, slowest $worst_open ms"
  echo "$who: data flowing after the link's return: mean $((sum_ms / done_n)) ms, slowest $worst_ms ms (limit $return_limit ms; $late over)"
  echo "$who: processor while waiting (${wait_seconds} s each): mean" \
    "$(awk -v s="$sum_cpu" -v n=$done_n 'BEGIN { printf "%.3f", s / n }') %, highest $worst_cpu % of one core (limit $cpu_limit %)"
  echo "$who: descriptors after the first connect $fd0, at the end $fd1; threads $th0, $th1"
  [ $late -eq 0 ] || wl_fail "$who: $late returns read later than $return_limit ms"
  wl_gt "$worst_cpu" "$cpu_limit" && wl_fail "$who: ${worst_cpu} % of one core while waiting"
  [ "$fd1" -eq "$fd0" ] || wl_fail "$who: descriptors $fd0 -> $fd1"
  [ "$th1" -eq "$th0" ] || wl_fail "$who: threads $th0 -> $th1"
}

# The window, without the stall probe: its 10 ms timer alone costs more
# than the limit while waiting.
wl_start_sim --baud 115200 --linger 0
WL_STALL_PROBE=0 wl_start_window
wl_press_connect
wait_until "$step_timeout" reading_window && wl_wait_sent_growth "$step_timeout" ||
  { wl_fail "the first connect reads nothing: $(tail -n3 "$wl_tmp/win.err")"; exit 1; }
rss0=$(wl_rss_kb)
run window "$wl_pid"
echo "window: RSS after the first connect $rss0 kB, at the end $(wl_rss_kb) kB"
wl_alive || wl_fail "the window died: $(tail -n3 "$wl_tmp/win.err")"
[ $wl_failed = 0 ] && wl_stop_window 10

# The headless monitor.
if [ $wl_failed = 0 ]; then
  kill -KILL "$wl_sim"; wait "$wl_sim" 2> /dev/null; wl_sim=
  wl_start_sim --baud 115200 --linger 0
  "$dump_exe" --settings "$wl_tmp/w.ini" --port "$wl_tmp/bus" --reconnect \
    > "$wl_tmp/dump.out" 2> "$wl_tmp/dump.err" &
  dump=$!
  wait_until "$step_timeout" grew "$wl_tmp/dump.out" 0 || wl_fail "vantrel-dump reads nothing: $(cat "$wl_tmp/dump.err")"
  [ $wl_failed = 0 ] && run dump "$dump"
  echo "dump: stderr lines: $(count_in "$wl_tmp/dump.err" "port lost: ") lost, $(count_in "$wl_tmp/dump.err" "port back: ") back; the first two:"
  head -n2 "$wl_tmp/dump.err" | sed 's/^/  /'
  kill -TERM "$dump"; wait "$dump"; rc=$?
  [ $rc -eq 0 ] || wl_fail "vantrel-dump exited with $rc after SIGTERM"
fi
if [ $wl_failed = 0 ]; then echo "reconnect: PASS"; else echo "reconnect: FAIL"; exit 1; fi
