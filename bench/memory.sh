#!/usr/bin/env bash
# Peak memory per input megabyte: vantrel-dump --file, vantrel-sim --replay
# and the window's "Otevřít záznam" (--open) on captures of SECONDS of
# traffic at 11,520 bytes/s, as a log, a raw capture and gzip-compressed.
# Each figure is the maximum resident set of /usr/bin/time -v.
#
# Usage: bench/memory.sh [--build DIR] [--seconds N]     (defaults: build, 600)
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$self")/.."
build=build seconds=600
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2 ;;
    --seconds) seconds=$2 ;;
    *) echo "usage: $0 [--build DIR] [--seconds N]" >&2; exit 2 ;;
  esac
  shift 2
done
dump=$(realpath "$build/tools/vantrel-dump")
sim=$(realpath "$build/tools/vantrel-sim")
window=$(realpath "$build/src/app/vVantrelBus")
make=$(realpath "$build/bench/make_capture")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$make" cap.vlog "$seconds" > /dev/null
: > empty.ini
# The raw capture: the log's bytes alone.
"$dump" --settings empty.ini --file cap.vlog --raw-log cap.bin > /dev/null
gzip -1 -k cap.vlog
gzip -1 -k cap.bin
printf '%-36s %10s %10s %8s\n' "program and input" "input MB" "peak MB" "MB/MB"

peak() {  # the max resident set in kB of the command's time -v report
  grep 'Maximum resident' "$1" | awk '{print $NF}'
}
report() {  # name, input file, time report
  local mb kb
  mb=$(awk -v b="$(stat -c %s "$2")" 'BEGIN{printf "%.1f", b/1e6}')
  kb=$(peak "$3")
  awk -v n="$1" -v mb="$mb" -v kb="$kb" 'BEGIN{printf "%-36s %10s %10.1f %8.2f\n", n, mb, kb/1024, kb/1024/mb}'
}

for f in cap.vlog cap.vlog.gz cap.bin cap.bin.gz; do
  /usr/bin/time -v -o t.dump "$dump" --settings empty.ini --file "$f" > /dev/null 2>&1 || true
  report "vantrel-dump --file $f" "$f" t.dump
done

for f in cap.vlog cap.bin cap.bin.gz; do
  rm -f sim.path
  /usr/bin/time -v -o t.sim "$sim" --replay "$f" --rate 0 --linger 0 > sim.path 2> /dev/null &
  timepid=$!
  while [ ! -s sim.path ]; do sleep 0.05; done
  # A raw capture plays at the rate, a log with its own timing: 5 s of either.
  timeout 5 cat "$(head -1 sim.path)" > /dev/null 2>&1 || true
  for pid in $(ps -o pid= --ppid $timepid); do kill -INT "$pid"; done
  wait $timepid || true
  report "vantrel-sim --replay $f" "$f" t.sim
done

for f in cap.vlog cap.vlog.gz cap.bin.gz; do
  # Open, give it the time to read, then end it as a user would.
  QT_QPA_PLATFORM=offscreen /usr/bin/time -v -o t.win \
    timeout -s TERM "${WINDOW_SECONDS:-30}" "$window" --settings "$work/w.ini" --open "$f" \
    > /dev/null 2>&1 || true
  report "vVantrelBus --open $f" "$f" t.win
done
