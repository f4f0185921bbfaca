#!/usr/bin/env bash
# The window's processor use at 11,520 bytes/s with the device grid shown and
# with the graph "Graf" shown and following the newest data, side by side:
# each round runs the grid case and the graph case one after the other on
# the same kind of traffic, so that the machine's load hits both alike.
# Traffic: the demo's simulated central in-process (its time counted too)
# and, when built, vantrel-sim in a process of its own (the window alone).
# The graph is shown by clicking its toggle with xdotool, as a user would.
# Processor time: user + system ticks from /proc/PID/stat after a warm-up.
#
# Usage: bench/graph_cpu.sh [BUILD_DIR [SECONDS [ROUNDS]]]   (defaults: build 20 3)
# GRAPH_CPU_SHOTS=DIR keeps a screenshot of each case at the end of its
# interval, to see that the view measured was the one shown.
# Runs under its own xvfb-run, so that real painting is measured.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-20}
rounds=${3:-3}
exe=$build/src/app/vVantrelBus
sim=$build/tools/vantrel-sim
[ -x "$exe" ] || { echo "no $exe; build first (scripts/build $build)" >&2; exit 1; }
if [ -z "${GRAPH_CPU_INNER:-}" ]; then
  command -v xvfb-run > /dev/null || { echo "xvfb-run is missing (scripts/setup installs it)" >&2; exit 77; }
  command -v xdotool > /dev/null || { echo "xdotool is missing (scripts/setup installs it)" >&2; exit 77; }
  GRAPH_CPU_INNER=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

tmp=$(mktemp -d)
simpid=
cleanup() {
  [ -n "$simpid" ] && kill -TERM "$simpid" 2> /dev/null
  wait 2> /dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
hz=$(getconf CLK_TCK)
warmup=3

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# measure VIEW ARGS...: starts the window, shows VIEW (grid or graph), prints
# its processor use in percent of one core over the interval.
measure() {
  local view=$1
  shift
  "$exe" --settings "$tmp/bench.ini" "$@" > /dev/null 2> "$tmp/err" &
  local pid=$! wid
  wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name vVantrelBus | head -n1)
  [ -n "$wid" ] || { echo "the window did not appear: $(cat "$tmp/err")" >&2; exit 1; }
  if [ "$view" = graph ]; then
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    xdotool mousemove $((X + 104)) $((Y + 340)) click 1  # "Graf" in the left panel
  fi
  sleep $warmup
  local t0 t1
  t0=$(ticks $pid)
  sleep "$seconds"
  t1=$(ticks $pid)
  if [ -n "${GRAPH_CPU_SHOTS:-}" ]; then
    mkdir -p "$GRAPH_CPU_SHOTS"
    import -window root "$GRAPH_CPU_SHOTS/graph_cpu-$view-$(date +%H%M%S).png" 2> /dev/null || true
  fi
  kill -TERM $pid
  wait $pid || true
  awk -v d=$((t1 - t0)) -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.2f", 100 * d / hz / s }'
}

start_sim() {
  rm -f "$tmp/bus"
  "$sim" --rate 11520 --link "$tmp/bus" --linger 0 > /dev/null 2>&1 &
  simpid=$!
  for _ in $(seq 50); do [ -e "$tmp/bus" ] && break; sleep 0.1; done
}

stop_sim() {
  kill -TERM "$simpid" 2> /dev/null || true
  wait "$simpid" 2> /dev/null || true
  simpid=
}

report() {
  awk -v name="$1" -v g="$2" -v f="$3" 'BEGIN {
    n = split(g, a, " "); split(f, b, " ")
    for (i = 1; i <= n; i++) { sa += a[i]; sb += b[i] }
    printf "%s: grid %.2f %%, graph %.2f %% of one core (means of %d rounds); graph / grid: %.2f\n",
           name, sa / n, sb / n, n, (sa > 0 ? sb / sa : 0) }'
}

sources=demo
[ -x "$sim" ] && sources="demo sim"
for source in $sources; do
  grid="" graph=""
  for r in $(seq "$rounds"); do
    for view in grid graph; do
      if [ $source = demo ]; then
        pct=$(measure $view --demo --demo-rate 11520)
      else
        start_sim
        pct=$(measure $view --port "$tmp/bus" --connect)
        stop_sim
      fi
      echo "  $source round $r, $view shown: $pct % of one core over $seconds s"
      if [ $view = grid ]; then grid="$grid $pct"; else graph="$graph $pct"; fi
    done
  done
  report "$source at 11520 B/s" "$grid" "$graph"
done
