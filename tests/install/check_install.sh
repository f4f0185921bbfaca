#!/usr/bin/env bash
# Checks of an installed tree; see CMakeLists.txt.
#   check_install.sh tree BUILD PREFIX EXPECTED-FILE...   install and check
#   check_install.sh desktop PREFIX                       desktop-file-validate
#   check_install.sh metainfo PREFIX                      appstreamcli validate
# Exit 0 pass, 1 fail, 77 validator not installed.
set -uo pipefail

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Width and height of a PNG from its IHDR chunk, as "WxH".
png_size() {
  local w h
  w=$(od -An -tu1 -j16 -N4 "$1" | awk '{print ($1*16777216)+($2*65536)+($3*256)+$4}')
  h=$(od -An -tu1 -j20 -N4 "$1" | awk '{print ($1*16777216)+($2*65536)+($3*256)+$4}')
  echo "${w}x${h}"
}

desktop_key() { sed -n "s/^$1=//p" "$2" | head -n1; }

check_tree() {
  local build=$1 prefix=$2
  shift 2
  rm -rf "$prefix"
  local log
  if ! log=$(cmake --install "$build" --prefix "$prefix" 2>&1); then
    echo "$log" >&2
    fail "cmake --install failed"
    return
  fi

  # Exactly the expected files: nothing missing, nothing stray.
  local want have
  want=$(printf '%s\n' "$@" | sort)
  have=$(cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort)
  if [ "$want" != "$have" ]; then
    fail "installed files differ from the expected ones (< expected, > installed):"
    diff <(echo "$want") <(echo "$have") >&2
  fi

  local f
  for f in "$prefix"/bin/*; do
    [ -x "$f" ] || fail "$f is not executable"
  done

  for f in "$prefix"/share/icons/hicolor/*x*/apps/*.png; do
    [ -e "$f" ] || continue
    local dir size
    dir=$(basename "$(dirname "$(dirname "$f")")")
    [ "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$f is not a PNG"
    size=$(png_size "$f")
    [ "$size" = "$dir" ] || fail "$f is $size, its folder says $dir"
  done
  for f in "$prefix"/share/icons/hicolor/scalable/apps/*.svg; do
    [ -e "$f" ] || continue
    grep -q '<svg' "$f" || fail "$f holds no <svg> element"
  done

  # The desktop entry starts an installed program and names an installed icon.
  local desktop
  for desktop in "$prefix"/share/applications/*.desktop; do
    [ -e "$desktop" ] || continue
    local exec icon
    exec=$(desktop_key Exec "$desktop" | awk '{print $1}')
    icon=$(desktop_key Icon "$desktop")
    [ -x "$prefix/bin/$exec" ] || fail "Exec=$exec of $(basename "$desktop") is not installed"
    for f in 48x48/apps/$icon.png 128x128/apps/$icon.png scalable/apps/$icon.svg; do
      [ -f "$prefix/share/icons/hicolor/$f" ] || fail "icon $f for Icon=$icon is missing"
    done
  done
  local meta
  for meta in "$prefix"/share/metainfo/*.xml; do
    [ -e "$meta" ] || continue
    local launch bin
    launch=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$meta")
    [ -f "$prefix/share/applications/$launch" ] || fail "launchable $launch of $(basename "$meta") is not installed"
    for bin in $(sed -n 's|.*<binary>\(.*\)</binary>.*|\1|p' "$meta"); do
      [ -x "$prefix/bin/$bin" ] || fail "provided binary $bin is not installed"
    done
  done

  # Man pages: one per program, readable, named after it, without warnings.
  for f in "$prefix"/bin/*; do
    local prog page
    prog=$(basename "$f")
    page="$prefix/share/man/man1/$prog.1.gz"
    if ! gzip -t "$page" 2>/dev/null; then
      fail "man page of $prog missing or damaged"
      continue
    fi
    zcat "$page" | grep -q "^\.TH ${prog^^} 1 " || fail "$page does not title $prog"
    if command -v man >/dev/null; then
      local warn
      warn=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
      [ -z "$warn" ] || fail "man $prog warns: $warn"
    fi
  done

  # The installed programs run from the tree.
  local out
  out=$("$prefix/bin/vantrel-dump" --version 2>&1) && [[ "$out" =~ ^vantrel-dump\ [0-9] ]] ||
    fail "vantrel-dump --version: $out"
  out=$("$prefix/bin/vantrel-sim" --version 2>&1) && [[ "$out" =~ ^vantrel-sim\ [0-9] ]] ||
    fail "vantrel-sim --version: $out"
  "$prefix/bin/vantrel-dump" --help >/dev/null 2>&1 || fail "vantrel-dump --help failed"
  # vantrel-dump reads the window's settings beside it.
  printf '[Comm]\nPort=/dev/ttyInstallCheck\n' >"$prefix/bin/vVantrelBus.ini"
  out=$(HOME=/nonexistent "$prefix/bin/vantrel-dump" --show-settings 2>&1)
  rm -f "$prefix/bin/vVantrelBus.ini"
  grep -qx 'Port=/dev/ttyInstallCheck' <<<"$out" || fail "vantrel-dump did not read vVantrelBus.ini beside it: $out"
  if [ -x "$prefix/bin/vVantrelBus" ]; then
    # Also answers without any display.
    local headless=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
    out=$("${headless[@]}" "$prefix/bin/vVantrelBus" --version 2>/dev/null)
    # The About page says "verze 1.0": the program's version is a 1.0.x.
    [[ "$out" =~ ^vVantrelBus\ 1\.0\.[0-9]+$ ]] || fail "vVantrelBus --version: $out"
    out=$("${headless[@]}" "$prefix/bin/vVantrelBus" --help 2>/dev/null)
    grep -q -- '--settings' <<<"$out" || fail "vVantrelBus --help: $out"
  fi
}

mode=${1:-}
shift || true
case "$mode" in
  tree)
    check_tree "$@"
    ;;
  desktop)
    command -v desktop-file-validate >/dev/null || { echo "desktop-file-validate not installed"; exit 77; }
    for f in "$1"/share/applications/*.desktop; do
      echo "desktop-file-validate $f"
      # It exits 0 on hints too; any output counts as a finding.
      out=$(desktop-file-validate "$f" 2>&1) || fail "desktop-file-validate failed"
      [ -z "$out" ] || { echo "$out"; fail "desktop-file-validate reported findings"; }
    done
    ;;
  metainfo)
    command -v appstreamcli >/dev/null || { echo "appstreamcli not installed"; exit 77; }
    for f in "$1"/share/metainfo/*.xml; do
      echo "appstreamcli validate --no-net --strict $f"
      appstreamcli validate --no-net --strict "$f" || fail "appstreamcli validate"
    done
    # The tree as a whole: the metainfo file together with its desktop entry.
    echo "appstreamcli validate-tree --no-net --strict $1"
    appstreamcli validate-tree --no-net --strict "$1" || fail "appstreamcli validate-tree"
    ;;
  *)
    echo "usage: $0 tree BUILD PREFIX FILE... | desktop PREFIX | metainfo PREFIX" >&2
    exit 2
    ;;
esac

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "ok"
