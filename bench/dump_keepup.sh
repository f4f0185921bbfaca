#!/usr/bin/env bash
# Keep-up measurement: vantrel-sim at 115200 baud into a pty, vantrel-dump
# reading it for a minute under /usr/bin/time -v.  Passes when the dump's raw
# log equals the bytes the sim sent; prints the dump's CPU time.
# Usage: bench/dump_keepup.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
build=${1:-build}
secs=${2:-60}
tools=$build/tools
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '[Comm]\nBaud=115200\n' > "$work/dump.ini"

"$tools/vantrel-sim" --baud 115200 --seed 1 --seconds "$secs" --linger 5 --save "$work/sent.bin" \
  > "$work/sim.out" 2> "$work/sim.err" &
sim=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
pty=$(head -n1 "$work/sim.out")
echo "sim on $pty"

# The dump runs 2 s longer than the sim sends, so it takes the last bytes.
/usr/bin/time -v "$tools/vantrel-dump" --settings "$work/dump.ini" --port "$pty" \
  --seconds $((secs + 2)) --raw-log "$work/raw.bin" > "$work/dump.out" 2> "$work/time.txt"
wait "$sim"
cat "$work/sim.err"
grep -E 'User time|System time|Percent of CPU|Maximum resident|Elapsed' "$work/time.txt"
echo "items printed: $(wc -l < "$work/dump.out")"
echo "bytes sent: $(stat -c %s "$work/sent.bin"), bytes in raw log: $(stat -c %s "$work/raw.bin")"
"$tools/vantrel-dump" --settings "$work/dump.ini" --file "$work/sent.bin" > "$work/file.out"
if cmp -s "$work/dump.out" "$work/file.out"; then
  echo "items printed live equal those of --file on the bytes sent"
else
  echo "items printed live differ from those of --file (reads split an item)"
fi
if cmp -s "$work/sent.bin" "$work/raw.bin"; then
  echo "raw log equals the bytes sent: nothing lost"
else
  echo "raw log DIFFERS from the bytes sent"; exit 1
fi
