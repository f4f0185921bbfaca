#!/usr/bin/env bash
# Bad input: CASES random port names, settings (INI) files, capture files and
# option values through vantrel-dump.  Every run must end within 10 s with
# exit status 0, 1 or 2 (never a signal), the status its input calls for,
# nothing on stderr for 0, and for 1 and 2 one clear message: a first line
# "vantrel-dump: <text>" without control characters.  A failing case is kept
# (command and input files) in KEEP.
#
# Usage: bench/bad_input.sh [--build DIR] [--cases N] [--seed N] [--keep DIR]
# Defaults: build, 1000, 1, a folder under /tmp.
#
# Not among the cases: capture files that never end or a FIFO without writer
# (--file reads the whole capture before framing, as cat would wait).
set -uo pipefail
self=$(realpath "$0")
cd "$(dirname "$self")/.."
build=build cases=1000 seed=1 keep=
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2 ;;
    --cases) cases=$2 ;;
    --seed) seed=$2 ;;
    --keep) keep=$2 ;;
    *) echo "usage: $0 [--build DIR] [--cases N] [--seed N] [--keep DIR]" >&2; exit 2 ;;
  esac
  shift 2
done
dump=$(realpath "$build/tools/vantrel-dump")
sim=$(realpath "$build/tools/vantrel-sim")
[ -x "$dump" ] && [ -x "$sim" ] || { echo "no $build/tools/vantrel-dump or vantrel-sim; build first" >&2; exit 1; }
keep=${keep:-$(mktemp -d /tmp/bad_input-keep.XXXXXX)}
work=$(mktemp -d)
simpid=
trap '[ -n "$simpid" ] && kill $simpid 2> /dev/null; wait 2> /dev/null; rm -rf "$work"' EXIT
cd "$work"

# A live pty for settings that name a usable port: the sim sends only while
# the dump holds it.
"$sim" --rate 2000 --link "$work/pty" > /dev/null 2> "$work/sim.err" &
simpid=$!
for _ in $(seq 100); do [ -e "$work/pty" ] && break; sleep 0.05; done
[ -e "$work/pty" ] || { echo "the sim made no pty: $(cat "$work/sim.err")" >&2; exit 1; }

# Fixed odd paths.
echo "not a tty" > plain.txt
mkdir -p adir
mkfifo afifo
ln -s /nonexistent/target dangling
ln -s loop1 loop2; ln -s loop2 loop1
long=$(printf 'x%.0s' $(seq 5000))
# A real capture to damage: a second of the live pty, raw and as a capture log.
"$dump" --settings /dev/null --port "$work/pty" --seconds 1 --raw-log good.bin \
  --capture good.vlog > /dev/null 2>&1
[ -s good.bin ] || head -c 4000 /dev/urandom > good.bin

RANDOM=$seed
rnd() { echo $((RANDOM % $1)); }
pick() { local a=("$@"); echo "${a[$((RANDOM % ${#a[@]}))]}"; }
printable() {  # random printable text (ASCII and some Czech letters), length 1..$1
  local n=$((1 + RANDOM % $1)) s= i chars='abcXYZ019 ._-/:\~!@#$%^&*()[]{}<>?=+,;"'"'"'|`čřžÚ'
  for ((i = 0; i < n; i++)); do s+=${chars:$((RANDOM % ${#chars})):1}; done
  printf '%s' "$s"
}
number() { pick 0 1 -1 7 9600 115200 4294967296 99999999999999999999 -2147483649 1.5 1e9 0x10 " 12" "12 " abc "" 3,5 +8; }

settings_file() {  # $1: file to write, random structured or raw
  local f=$1
  case $(rnd 4) in
    0) head -c $((RANDOM % 3000)) /dev/urandom > "$f" ;;
    *) {
         local i k
         for ((i = 0; i < 1 + RANDOM % 20; i++)); do
           case $(rnd 6) in
             0) echo "[$(pick Comm Central comm "" "Comm" "x y" "[Comm]")]" ;;
             1) printf '%s\r\n' "$(pick Port Baud Bits)=$(number)" ;;
             2) echo "$(printable 30)" ;;
             3) echo "Port=$(pick "$work/pty" COM0 COM1 "" /dev/null "$(printable 20)")" ;;
             *) k=$(pick Port Baud Parity Bits StopBit SoftFlow HardFlow SleepTimeout RecvTimeout WaitTimeout AppID MaxLoko)
                echo "$k$(pick = " = " "=" ==)$(number)" ;;
           esac
         done
         [ $(rnd 3) = 0 ] && printf 'Baud=%s' "$(number)"  # no final newline
       } > "$f" ;;
  esac
}

capture_file() {  # $1: file to write
  case $(rnd 3) in
    0) head -c $((RANDOM % 70000)) /dev/urandom > "$1" ;;
    1) # a real capture cut and damaged
       local size; size=$(stat -c %s good.bin)
       head -c $((RANDOM % size)) good.bin > "$1"
       [ -s "$1" ] && printf "$(printf '\\x%02x' $((RANDOM % 256)))" |
         dd of="$1" bs=1 seek=$((RANDOM % $(stat -c %s "$1"))) conv=notrunc 2> /dev/null ;;
    2) : > "$1" ;;
  esac
}

log_file() {  # $1: file to write: the capture log cut and damaged
  local size; size=$(stat -c %s good.vlog)
  head -c $((RANDOM * 4 % size)) good.vlog > "$1"
  [ -s "$1" ] && [ $(rnd 2) = 0 ] && printf "$(printf '\\x%02x' $((RANDOM % 256)))" |
    dd of="$1" bs=1 seek=$((RANDOM * 4 % $(stat -c %s "$1"))) conv=notrunc 2> /dev/null
  return 0
}

fails=0
declare -A by_rc=([0]=0 [1]=0 [2]=0)
fail_case() {  # $1 case number, $2 reason
  fails=$((fails + 1))
  local d=$keep/case-$1
  mkdir -p "$d"
  cp -a case.* "$d"/ 2> /dev/null
  printf '%q ' "${cmd[@]}" > "$d/command"
  echo "FAIL case $1: $2"
  echo "  command: $(cat "$d/command")"
  echo "  stderr: $(head -c 300 err)"
}

start=$(date +%s%3N)
for ((i = 1; i <= cases; i++)); do
  rm -f case.*
  kind=$(rnd 10)
  expect= show=
  cmd=("$dump")
  case $kind in
    0|1) # random port name
       name=$(printable 60)
       cmd+=(--settings /dev/null --port "$name" --seconds 0.2); expect=1 ;;
    2) # odd existing or impossible ports
       name=$(pick /dev/null "$work/plain.txt" "$work/adir" "$work/afifo" "$work/dangling" "$work/loop1" \
                   "$long" /dev/tty /dev/full /nonexistent/ttyUSB0 "COM$(number)" "com$(rnd 300)" "/dev/ttyS$(number)")
       cmd+=(--settings /dev/null --port "$name" --seconds 0.2); expect=1
       case $name in COM*|com*|/dev/ttyS*) expect=01 ;; esac ;;
    3|4) # random settings shown
       settings_file case.ini
       cmd+=(--settings case.ini --show-settings); expect=0 show=1 ;;
    5) # random settings on the live pty (line values from the file)
       settings_file case.ini
       cmd+=(--settings case.ini --port "$work/pty" --seconds 0.2); expect=01 ;;
    6) # random capture files
       capture_file case.bin
       cmd+=(--settings /dev/null --file case.bin)
       [ $(rnd 4) = 0 ] && cmd+=(--count $((1 + RANDOM % 50)))
       expect=0 ;;
    7) # capture logs cut and damaged: malformed lines (or a damaged first
       # line naming another version) give 1
       log_file case.vlog
       cmd+=(--settings /dev/null --file case.vlog)
       [ $(rnd 2) = 0 ] && cmd+=(--time "$(pick a d z)")
       [ $(rnd 4) = 0 ] && cmd+=(--count $((1 + RANDOM % 50)))
       expect=012 ;;
    8) # unreadable settings or capture, unwritable raw log
       case $(rnd 4) in
         0) cmd+=(--settings "$(pick "$work/adir" /nonexistent/x.ini "$work/dangling")" --show-settings) ;;
         1) cmd+=(--settings /dev/null --file "$(pick "$work/adir" /nonexistent/c.bin "$work/loop1" "$long")") ;;
         2) capture_file case.bin; [ -s case.bin ] || printf 'A' > case.bin  # bytes to write
            cmd+=(--settings /dev/null --file case.bin --raw-log "$(pick "$work/adir" /nonexistent/raw.bin /dev/full)") ;;
         3) cmd+=(--settings /dev/null --port "$work/pty" --seconds 0.2 --raw-log "$(pick "$work/adir" /nonexistent/raw.bin)") ;;
       esac
       expect=1 ;;
    9) # bad option values
       cmd+=(--settings /dev/null)
       case $(rnd 9) in
         0) cmd+=(--port "") ;;
         1) cmd+=(--count "$(pick 0 -1 abc 1.5 "" 99999999999999999999999)") ;;
         2) cmd+=(--seconds "$(pick 0 -3 nan inf 1e400 x "")") ;;
         3) cmd+=(--time "$(pick q "" A zz 1)") ;;
         4) cmd+=(--file x.bin --port "$work/pty") ;;
         5) cmd+=(--file x.bin --capture y.vlog) ;;
         6) cmd+=(--file x.bin --seconds 1) ;;
         7) cmd+=("--$(printable 10)") ;;
         8) cmd+=(--show-settings "$(printable 10)") ;;
       esac
       expect=2 ;;
  esac
  timeout -k 2 10 "${cmd[@]}" > out 2> err < /dev/null
  rc=$?
  if [ $rc = 124 ]; then fail_case $i "no end within 10 s (hang)"; continue; fi
  if [ $rc -ge 128 ]; then fail_case $i "killed by signal $((rc - 128))"; continue; fi
  case $rc in 0|1|2) by_rc[$rc]=$((by_rc[$rc] + 1)) ;; *) fail_case $i "exit status $rc"; continue ;; esac
  [[ $expect == *$rc* ]] || { fail_case $i "exit status $rc, expected one of $expect"; continue; }
  if [ $rc = 0 ]; then
    [ -s err ] && { fail_case $i "success with a message on stderr"; continue; }
    if [ -n "$show" ]; then
      keys=$(cut -d= -f1 out | tr '\n' ' ')
      [ "$keys" = "Port Baud Parity Bits StopBit SoftFlow HardFlow SleepTimeout RecvTimeout WaitTimeout AppID MaxLoko " ] ||
        { fail_case $i "--show-settings printed keys: $keys"; continue; }
    fi
  else
    first=$(head -n1 err)
    [[ $first =~ ^vantrel-dump:\ .{3,} ]] || { fail_case $i "no clear first line on stderr"; continue; }
    tr -d '\n\t' < err | LC_ALL=C grep -q '[[:cntrl:]]' && { fail_case $i "control characters in the message"; continue; }
  fi
done
ms=$(($(date +%s%3N) - start))

echo "bad input: $cases cases (seed $seed) in $((ms / 1000)).$((ms % 1000 / 100)) s:" \
  "exit 0: ${by_rc[0]}, exit 1: ${by_rc[1]}, exit 2: ${by_rc[2]}; failures: $fails"
if [ $fails = 0 ]; then echo "bad input: PASS"; rmdir "$keep" 2> /dev/null; else echo "failing cases kept in $keep"; echo "bad input: FAIL"; exit 1; fi
