#!/usr/bin/env bash
# The window's resident memory once its session holds a day at 960 B/s: the
# window (offscreen, traffic view shown) takes its demo central as fast as it
# can until the session store reaches the size 24 hours at 960 B/s give
# (289 MB, bench/session_bench 86400 960), then prints VmRSS and VmHWM.
#   bench/session_day_rss.sh [BUILD]      (default build)
set -uo pipefail
build=$(cd "$(dirname "$0")/.." && pwd)/${1:-build}
out=$(mktemp -d /tmp/session-day.XXXXXX)
cd "$out" || exit 1
printf '[Comm]\nBaud=115200\n[Monitor]\nView=traffic\n' > t.ini
XDG_CACHE_HOME=$out/cache QT_QPA_PLATFORM=offscreen "$build/src/app/vVantrelBus" --settings t.ini --demo --demo-rate 0 > win.log 2>&1 &
pid=$!
start=$(date +%s)
while kill -0 $pid 2>/dev/null; do
  size=$(du -sb cache 2>/dev/null | cut -f1)
  now=$(date +%s)
  echo "$((now-start)) s store ${size:-0} B rss $(grep VmRSS /proc/$pid/status | awk '{print $2}') kB" >> progress.txt
  [ "${size:-0}" -ge 289000000 ] && break
  [ $((now-start)) -ge 900 ] && break
  sleep 5
done
grep -E "VmRSS|VmHWM" /proc/$pid/status
echo "after $(( $(date +%s) - start )) s: store $(du -sb cache | cut -f1) B"
kill -TERM $pid; wait $pid
rm -rf "$out/cache"
