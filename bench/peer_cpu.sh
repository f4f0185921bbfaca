#!/usr/bin/env bash
# Processor time of the two monitors beside their peers, on the same bus
# traffic, in one run: the window (vVantrelBus, device grid), vantrel-dump,
# CuteCom (hex view) and `hexdump -C`, each alone on a pseudo-terminal fed by
# bench/bus_traffic.py (writes every 10 ms), at 960 and 11,520 bytes/s and on
# a silent line.  Prints % of one core per program (all threads, from
# /proc/PID/task/*/schedstat), the window's and the dump's time per thread,
# and the ratios the targets speak of: dump / hexdump, window / CuteCom.
# "unread" is the most the peer left unread in the pty during the run (about
# one 10 ms write when it keeps up).
#
# Usage: bench/peer_cpu.sh [--build DIR] [--seconds N] [--rates "960 11520 0"]
#                          [--peers "vvb vdump cutecom hexdump"] [--out DIR]
# Peer vvbtraffic: the window with its traffic view shown instead of the grid.
# Peer vvbnostore: the window with the grid, its session kept in memory only.
# vvbnoan: the window with its grid and the analyser switched off
# ([Monitor] Analyser=0); vvbstats: with "Statistika" shown.  vvb against
# vvbnoan is what the statistics and events cost.
# Rate 0 is the silent line.  Default build tree: build-rel.
#
# Needs python3, Xvfb, xdotool, hexdump (bsdextrautils) and CuteCom; CuteCom
# is for this measurement only and not installed by scripts/setup:
#   apt-get install -y cutecom xvfb xdotool bsdextrautils
set -uo pipefail
cd "$(dirname "$0")/.."
build=build-rel seconds=20 rates="960 11520 0" peers="vvb vdump cutecom hexdump"
out=$(mktemp -d /tmp/peer-cpu.XXXXXX)
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --rates) rates=$2; shift 2 ;;
    --peers) peers=$2; shift 2 ;;
    --out) out=$2; mkdir -p "$out"; shift 2 ;;
    *) sed -n 2,16p "$0"; exit 2 ;;
  esac
done
missing=""
for tool in python3 Xvfb xdotool hexdump; do command -v $tool >/dev/null || missing+=" $tool"; done
[[ " $peers " == *" cutecom "* ]] && ! command -v cutecom >/dev/null && missing+=" cutecom"
if [ -n "$missing" ]; then
  echo "peer_cpu: missing:$missing (apt-get install -y cutecom xvfb xdotool bsdextrautils)" >&2
  exit 1
fi
for exe in src/app/vVantrelBus tools/vantrel-dump; do
  [ -x "$build/$exe" ] || { echo "peer_cpu: no $build/$exe; build it first" >&2; exit 1; }
done

link=$out/bus display=:$((60 + RANDOM % 30))
started=()  # every process started here; only these are stopped
stop() { kill "$1" 2>/dev/null; for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done; kill -9 "$1" 2>/dev/null; }
cleanup() { for p in "${started[@]}"; do stop "$p"; done; }
trap cleanup EXIT
trap 'exit 130' INT TERM

Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp > "$out/xvfb.log" 2>&1 &
started+=($!)
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done
printf '[Comm]\nBaud=115200\n' > "$out/vvb.ini"
# The window with its traffic view "Provoz" shown and following (peer vvbtraffic).
printf '[Comm]\nBaud=115200\n[Monitor]\nView=traffic\n' > "$out/vvbtraffic.ini"
printf '[Comm]\nBaud=115200\n[Monitor]\nAnalyser=0\n' > "$out/vvbnoan.ini"
printf '[Comm]\nBaud=115200\n[Monitor]\nView=stats\n' > "$out/vvbstats.ini"
# Without the session on disk (peer vvbnostore), to weigh what it costs.
printf '[Comm]\nBaud=115200\n[Monitor]\nSessionStore=0\n' > "$out/vvbnostore.ini"

# ns on a processor of all threads of PID, and one line per thread.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%.0f\n", s}'; }
thread_ns() {
  for t in /proc/"$1"/task/*; do
    printf '%s:%s %s\n' "${t##*/}" "$(tr ' ' _ < "$t/comm")" "$(awk '{print $1}' "$t/schedstat")"
  done 2>/dev/null | sort
}

start_peer() {  # $1 peer; sets pid
  case $1 in
    hexdump) hexdump -C "$link" > /dev/null 2> "$out/$1-$rate.err" & pid=$! ;;
    vdump)
      "$build/tools/vantrel-dump" --settings "$out/vvb.ini" --port "$link" > /dev/null 2> "$out/$1-$rate.err" &
      pid=$! ;;
    vvb | vvbtraffic | vvbnostore | vvbnoan | vvbstats)
      # The session files go to the run's folder, not the user's cache.
      DISPLAY=$display XDG_CACHE_HOME=$out/cache "$build/src/app/vVantrelBus" --settings "$out/$1.ini" --port "$link" \
        --connect > "$out/$1-$rate.err" 2>&1 &
      pid=$! ;;
    cutecom)
      # A session of its own: this port, opened read-only, no reconnect;
      # then the hex view and "Open" are pressed as a user would.
      mkdir -p "$out/xdg/CuteCom"
      printf '%s\n' '[sessions]' '1\BaudRate=115200' '1\DataBits=8' "1\\Device=$link" \
        '1\FlowControl=0' '1\OpenMode=1' '1\Parity=0' '1\StopBits=1' '1\autoReconnect=false' \
        '1\name=bench' '1\showCtrlCharacters=false' '1\showTimestamp=false' 'size=1' \
        > "$out/xdg/CuteCom/CuteCom5.conf"
      DISPLAY=$display XDG_CONFIG_HOME=$out/xdg cutecom -s bench > "$out/$1-$rate.err" 2>&1 &
      pid=$!
      local w
      w=$(DISPLAY=$display timeout 20 xdotool search --sync --onlyvisible --name '^CuteCom' | head -1)
      [ -n "$w" ] || return 1
      DISPLAY=$display xdotool windowsize --sync "$w" 1000 880 windowfocus --sync "$w" key alt+x key alt+o
      # On a pty the modem-line calls fail and CuteCom shows an error box;
      # closing it would close the port, so it is only moved aside.
      for _ in $(seq 30); do
        local d
        d=$(DISPLAY=$display xdotool search --onlyvisible --name 'Device Error' 2>/dev/null | head -1)
        [ -n "$d" ] && { DISPLAY=$display xdotool windowmove "$d" 1010 700; break; }
        sleep 0.1
      done ;;
  esac
  started+=("$pid")
}

results=$out/results.txt
: > "$results"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); ${seconds} s per case; files in $out"
for rate in $rates; do
  for peer in $peers; do
    [ "$rate" = 0 ] && [[ $peer != vvb && $peer != vdump ]] && continue
    rm -f "$out/ready" "$out/go" "$out/backlog"
    python3 bench/bus_traffic.py --link "$link" --rate "$rate" --seconds $((seconds + 5)) \
      --ready "$out/ready" --go "$out/go" --backlog "$out/backlog" \
      2> "$out/traffic-$peer-$rate.log" &
    gen=$!; started+=("$gen")
    for _ in $(seq 100); do [ -e "$out/ready" ] && break; sleep 0.05; done
    if ! start_peer "$peer"; then echo "$peer: did not start" >&2; stop "$gen"; continue; fi
    tty=$(readlink "$link")
    for _ in $(seq 200); do ls -l /proc/"$pid"/fd 2>/dev/null | grep -q " $tty\$" && break; sleep 0.05; done
    sleep 1
    touch "$out/go"
    sleep 2  # past start-up and the first repaint
    n0=$(cpu_ns "$pid"); thread_ns "$pid" > "$out/t0"; t0=$(date +%s%N)
    sleep "$seconds"
    n1=$(cpu_ns "$pid"); thread_ns "$pid" > "$out/t1"; t1=$(date +%s%N)
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "$peer at $rate B/s ended early: $(head -c 300 "$out/$peer-$rate.err")" >&2
      stop "$gen"; continue
    fi
    pct=$(awk -v d=$((n1 - n0)) -v e=$((t1 - t0)) 'BEGIN {printf "%.3f", 100 * d / e}')
    [ "$peer" = cutecom ] && DISPLAY=$display import -window root "$out/cutecom-$rate.png" 2>/dev/null
    [[ $peer == vvb* ]] && DISPLAY=$display import -window root "$out/$peer-$rate.png" 2>/dev/null
    most=$(cut -d' ' -f1 "$out/backlog" 2>/dev/null)
    printf '%s %s %s %s\n' "$rate" "$peer" "$pct" "${most:-0}" >> "$results"
    printf '%6s B/s  %-8s %7s %% of one core' "$rate" "$peer" "$pct"
    # Bytes written but not read: a peer that falls behind would look cheap.
    [ -s "$out/backlog" ] && printf '  unread: most %s, at the end %s bytes' $(cat "$out/backlog")
    if [[ $peer == vvb* || $peer == vdump ]]; then
      printf '   threads:'
      # Threads by id (the main thread's id is the process id); idle ones left out.
      join "$out/t0" "$out/t1" 2>/dev/null | awk -v e=$((t1 - t0)) -v p="$pid" \
        '{split($1, t, ":"); v = 100 * ($3 - $2) / e; if (v >= 0.005)
          printf " %s%s %.3f", (t[1] == p ? "main" : t[1]), (t[1] == p ? "" : ":" t[2]), v}'
    fi
    echo
    stop "$pid"; stop "$gen"
    wait "$pid" "$gen" 2>/dev/null
  done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
awk '{cpu[$1 " " $2] = $3; if ($4 >= 4000) behind = behind " " $2 "@" $1}
  END {
    if (behind != "")
      print "NOT KEPT UP (the pty queue was full, so less was read):" behind
    n = split("960 11520", r, " ")
    for (i = 1; i <= n; i++) {
      q = r[i]
      if ((q " hexdump") in cpu && (q " vdump") in cpu && cpu[q " hexdump"] > 0)
        printf "%6s B/s  vantrel-dump / hexdump -C = %.2f\n", q, cpu[q " vdump"] / cpu[q " hexdump"]
      if ((q " cutecom") in cpu && (q " vvb") in cpu && cpu[q " cutecom"] > 0)
        printf "%6s B/s  window / CuteCom         = %.2f\n", q, cpu[q " vvb"] / cpu[q " cutecom"]
      if ((q " cutecom") in cpu && (q " vvbtraffic") in cpu && cpu[q " cutecom"] > 0)
        printf "%6s B/s  window with Provoz / CuteCom = %.2f\n", q, cpu[q " vvbtraffic"] / cpu[q " cutecom"]
      if ((q " vvb") in cpu && (q " vvbnostore") in cpu && cpu[q " vvbnostore"] > 0)
        printf "%6s B/s  window / without the session on disk = %.2f\n", q, cpu[q " vvb"] / cpu[q " vvbnostore"]
      if ((q " vvb") in cpu && (q " vvbtraffic") in cpu && cpu[q " vvb"] > 0)
        printf "%6s B/s  window with Provoz / with the grid = %.2f\n", q, cpu[q " vvbtraffic"] / cpu[q " vvb"]
    }
    if (("0 vvb") in cpu) printf "silent      window %s %%, vantrel-dump %s %%\n", cpu["0 vvb"], cpu["0 vdump"]
  }' "$results"
