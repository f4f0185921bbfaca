# Shared by soak.sh, unplug.sh and flood.sh: runs vVantrelBus under Xvfb and
# watches it only from outside (its /proc entries, the screen, its stderr),
# pressing its buttons with xdotool as a user would.  Sourced, not run.
#
# The reader thread exists only while connected.  Qt's threads carry their
# own names (and its pooled ones come and go); the reader keeps the program's
# name, so the threads named so, less the main one, are the readers.

wl_fail() {
  echo "FAIL: $*"
  [ $wl_failed = 0 ] && wl_diagnose
  wl_failed=1
}

# At the first failure: what the window shows and what its threads do.  The
# screenshot is kept in WL_KEEP (default /tmp).
wl_diagnose() {
  [ -n "${wl_pid:-}" ] && wl_alive || return 0
  local keep=${WL_KEEP:-/tmp} shot t
  shot=$keep/$(basename "$0" .sh)-fail-$$.png
  import -window root -crop "647x340+${wl_x}+${wl_y}" "$shot" 2> /dev/null && echo "  screenshot: $shot"
  echo "  reader threads: $(wl_readers); sim sent $(wl_sent) bytes, 1 s later $(sleep 1; wl_sent)"
  for t in /proc/"$wl_pid"/task/*; do
    echo "  thread ${t##*/} $(cat "$t/comm"): state $(awk '{print $3}' "$t/stat"), waits in $(cat "$t/wchan" 2> /dev/null)," \
      "syscall $(cut -d' ' -f1 "$t/syscall" 2> /dev/null)"
  done
  if command -v gdb > /dev/null; then
    timeout 30 gdb -p "$wl_pid" -batch -ex "thread apply all bt 8" 2> /dev/null | grep -E '^(Thread|#)' | sed 's/^/  /'
  fi
}
wl_failed=0

# wl_need_xvfb SCRIPT ARGS...: re-runs the calling script inside its own Xvfb
# server, so the clicks never land on a real desktop.
wl_need_xvfb() {
  if [ -z "${WL_INSIDE_XVFB:-}" ]; then
    command -v xvfb-run > /dev/null || { echo "xvfb-run is missing (scripts/setup installs it)" >&2; exit 77; }
    command -v xdotool > /dev/null || { echo "xdotool is missing (scripts/setup installs it)" >&2; exit 77; }
    WL_INSIDE_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$@"
  fi
}

# wl_init BUILD_DIR [KEY=VALUE...]: checks the programs, makes the work folder
# and the settings file (115200 baud, the sim's default line otherwise; the
# KEY=VALUE pairs go into its [Monitor] section).  The traffic history keeps a
# small ring (WL_RING items, default 20000): it is full within a warm-up, so
# that memory growing after it is a leak, not the history.
wl_init() {
  wl_exe=$1/src/app/vVantrelBus
  wl_sim_exe=$1/tools/vantrel-sim
  for f in "$wl_exe" "$wl_sim_exe"; do
    [ -x "$f" ] || { echo "no $f; build first" >&2; exit 1; }
  done
  wl_tmp=$(mktemp -d)
  wl_pid=
  wl_sim=
  trap wl_cleanup EXIT
  printf '[Comm]\nBaud=115200\n[Monitor]\nRingSize=%s\n' "${WL_RING:-20000}" > "$wl_tmp/w.ini"
  shift
  if [ $# -gt 0 ]; then printf '%s\n' "$@" >> "$wl_tmp/w.ini"; fi
  wl_hz=$(getconf CLK_TCK)
}

wl_cleanup() {
  [ -n "$wl_sim" ] && kill -KILL "$wl_sim" 2> /dev/null
  [ -n "$wl_pid" ] && kill -KILL "$wl_pid" 2> /dev/null
  wait 2> /dev/null
  rm -rf "$wl_tmp"
}

wl_now_ms() { date +%s%3N; }

# wl_start_sim ARGS...: a new sim on the link $wl_tmp/bus, saving what it sends
# to $wl_tmp/sent.bin; waits for the link.
wl_start_sim() {
  rm -f "$wl_tmp/bus" "$wl_tmp/sent.bin"
  "$wl_sim_exe" --link "$wl_tmp/bus" --save "$wl_tmp/sent.bin" "$@" > "$wl_tmp/sim.out" 2> "$wl_tmp/sim.err" &
  wl_sim=$!
  local i
  for i in $(seq 100); do [ -e "$wl_tmp/bus" ] && return 0; sleep 0.05; done
  echo "the sim made no link: $(cat "$wl_tmp/sim.err")" >&2
  exit 1
}

wl_sent() { stat -c %s "$wl_tmp/sent.bin" 2> /dev/null || echo 0; }

# wl_start_window ARGS...: starts the window on the link, finds it on the
# screen.  WL_STALL_PROBE=0 leaves the stall probe off.
wl_start_window() {
  # Its session on disk goes to the run's folder, not the user's cache.
  XDG_CACHE_HOME=$wl_tmp/cache VANTREL_STALL_PROBE=${WL_STALL_PROBE:-1} "$wl_exe" --settings "$wl_tmp/w.ini" --port "$wl_tmp/bus" "$@" \
    > /dev/null 2> "$wl_tmp/win.err" &
  wl_pid=$!
  wl_wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$wl_pid" --name vVantrelBus | head -n1)
  [ -n "$wl_wid" ] || { echo "the window did not appear: $(cat "$wl_tmp/win.err")" >&2; exit 1; }
  eval "$(xdotool getwindowgeometry --shell "$wl_wid")"
  wl_x=$X
  wl_y=$Y
  sleep 1
}

wl_alive() { kill -0 "$wl_pid" 2> /dev/null; }
wl_readers() { echo $(($(cat /proc/"$wl_pid"/task/*/comm 2> /dev/null | grep -cx vVantrelBus) - 1)); }
wl_rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$wl_pid/status" 2> /dev/null || echo 0; }
wl_ticks() { awk '{print $14 + $15}' "/proc/$wl_pid/stat" 2> /dev/null || echo 0; }

# Buttons of the left panel, placed as the window lays them out.
wl_click() { xdotool mousemove "$((wl_x + $1))" "$((wl_y + $2))" click 1; }
wl_press_connect() { wl_click 72 276; }
wl_press_clear_log() { wl_click 72 236; }

# wl_wait_readers N SECONDS: true when the window has N reader threads in time.
wl_wait_readers() {
  local deadline=$(($(wl_now_ms) + $2 * 1000))
  while [ "$(wl_now_ms)" -lt $deadline ]; do
    [ "$(wl_readers)" -eq "$1" ] && return 0
    wl_alive || return 1
    sleep 0.05
  done
  return 1
}

# wl_wait_sent_growth SECONDS: true when the sim sends more within the time
# (it sends only while a reader holds the pty).
wl_wait_sent_growth() {
  local before deadline
  before=$(wl_sent)
  deadline=$(($(wl_now_ms) + $1 * 1000))
  while [ "$(wl_now_ms)" -lt $deadline ]; do
    [ "$(wl_sent)" -gt "$before" ] && return 0
    sleep 0.05
  done
  return 1
}

# wl_pixel X Y: colour of a window pixel as #RRGGBB.
wl_pixel() {
  import -window root -crop "1x1+$((wl_x + $1))+$((wl_y + $2))" -depth 8 txt:- 2> /dev/null |
    awk 'NR == 2 {print $3}'
}
# The power panel's face (a corner free of text) and the left panel's face.
wl_power_colour() { wl_pixel 9 124; }
wl_panel_colour() { wl_pixel 2 256; }

# wl_cpu_percent SECONDS: the window's processor use over the interval.
wl_cpu_percent() {
  local t0 t1
  t0=$(wl_ticks)
  sleep "$1"
  t1=$(wl_ticks)
  awk -v d=$((t1 - t0)) -v hz="$wl_hz" -v s="$1" 'BEGIN { printf "%.1f", 100 * d / hz / s }'
}

# wl_stop_window SECONDS: SIGTERM as a desktop would; the window must be
# gone in time and exit 0.  Sets wl_stall (longest stall, ms) from its probe.
wl_stop_window() {
  kill -TERM "$wl_pid"
  local i rc
  for i in $(seq $(($1 * 20))); do wl_alive || break; sleep 0.05; done
  if wl_alive; then
    wl_fail "the window did not end within $1 s of SIGTERM (hang)"
    kill -KILL "$wl_pid"
  fi
  wait "$wl_pid"
  rc=$?
  [ $rc -eq 0 ] || wl_fail "the window exited with status $rc: $(tail -n3 "$wl_tmp/win.err")"
  wl_pid=
  wl_stall=$(sed -n 's/.*longest stall: \([0-9]*\) ms (longest time running between two ticks: \([0-9]*\) ms).*/\1/p' "$wl_tmp/win.err")
  wl_stall_busy=$(sed -n 's/.*longest stall: \([0-9]*\) ms (longest time running between two ticks: \([0-9]*\) ms).*/\2/p' "$wl_tmp/win.err")
}

# Greater-than on decimals.
wl_gt() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }
