#!/usr/bin/env bash
# Resynchronisation after noise: vantrel-sim with --noise into vantrel-dump
# live, and the same bytes framed again with --file; resync_check prints the
# share of bytes in unrecognised items and of the sim's valid messages that
# came out whole.  Noise 0.001, 0.01 and 0.15 at 115200 baud, then --rate 0
# without noise.
# Usage: bench/resync.sh [BUILD_DIR] [SECONDS] [SEED]
set -euo pipefail
build=${1:-build}
secs=${2:-20}
seed=${3:-1}
tools=$build/tools
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '[Comm]\nBaud=115200\n' > "$work/dump.ini"

run() {  # label noise sim-options...
  local label=$1 noise=$2
  shift 2
  "$tools/vantrel-sim" "$@" --noise "$noise" --seed "$seed" --seconds "$secs" \
    --save "$work/sent.bin" > "$work/sim.out" 2> "$work/sim.err" &
  local sim=$!
  for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
  "$tools/vantrel-dump" --settings "$work/dump.ini" --port "$(head -n1 "$work/sim.out")" \
    --seconds $((secs + 2)) > "$work/live.out"
  wait "$sim"
  "$tools/vantrel-dump" --settings "$work/dump.ini" --file "$work/sent.bin" > "$work/file.out"
  echo "== $label, live"
  "$build/bench/resync_check" "$seed" "$noise" "$work/sent.bin" "$work/live.out"
  echo "== $label, --file"
  "$build/bench/resync_check" "$seed" "$noise" "$work/sent.bin" "$work/file.out"
  if cmp -s "$work/live.out" "$work/file.out"; then echo "live items equal those of --file"
  else echo "live items differ from those of --file"; fi
}

for noise in 0.001 0.01 0.15; do run "noise $noise" "$noise" --baud 115200; done
run "rate 0, no noise" 0 --rate 0
