#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses the installation as a user would:
# the program started from elsewhere finds its own data, the desktop entry, map type,
# icons and manual page are in place and valid, and a copy of the installed example map
# runs one headless cycle. The service unit runs the installed program and systemd accepts
# it. Moved to another prefix, the installation still finds its data.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/tarnmap-install-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "install test: $*" >&2
  failures=$((failures + 1))
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.txt" ||
  { cat "$work/install.txt" >&2; echo "install test: cmake --install failed" >&2; exit 1; }

# Every file a desktop installation needs.
expected=(
  bin/tarnmap
  share/tarnmap/sounds/up.wav share/tarnmap/sounds/down1.wav
  share/tarnmap/sounds/down2.wav share/tarnmap/sounds/down3.wav
  share/tarnmap/help/index.html share/tarnmap/help/main-window.html
  share/tarnmap/help/options.html share/tarnmap/help/host-information.html
  share/tarnmap/help/edit-mode.html share/tarnmap/help/tools.html
  share/tarnmap/examples/office.db share/tarnmap/examples/office.INI
  share/applications/tarnmap.desktop share/mime/packages/tarnmap.xml
  share/icons/hicolor/scalable/apps/tarnmap.svg share/man/man1/tarnmap.1
  lib/systemd/system/tarnmap-headless@.service
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/tarnmap.png")
done
for file in "${expected[@]}"; do
  [ -s "$prefix/$file" ] || fail "$file is not installed"
done

# Each icon is a PNG of the size of its directory (width and height from the IHDR chunk).
for size in 16 22 24 32 48 64 128 256; do
  icon=$prefix/share/icons/hicolor/${size}x${size}/apps/tarnmap.png
  [ -f "$icon" ] || continue
  read -r width height < <(od -An -tu1 -j16 -N8 "$icon" |
    awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
  [ "$width x $height" = "$size x $size" ] || fail "the ${size}x${size} icon is $width x $height"
done

# Started from / (no build tree or sources in sight), it tells where its data is: the
# installed share/tarnmap.
check_help() {
  local root=$1
  local output
  output=$(cd / && "$root/bin/tarnmap" --help) || { fail "$root/bin/tarnmap --help failed"; return; }
  grep -q -- "--headless \[--cycles N\]" <<<"$output" || fail "--help shows no usage"
  local data
  data=$(cd "$root/share/tarnmap" && pwd -P)
  grep -qxF "Sounds and help pages: $data" <<<"$output" ||
    fail "the program in $root does not use $data: $(tail -n 1 <<<"$output")"
}
check_help "$prefix"

# The desktop entry and the map type.
desktop=$prefix/share/applications/tarnmap.desktop
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate refuses tarnmap.desktop"
else
  echo "install test: desktop-file-validate not installed, the desktop entry is not validated"
fi
grep -qx "Exec=tarnmap %f" "$desktop" || fail "the desktop entry does not open a map file"
grep -qx "MimeType=application/x-tarnmap-map;" "$desktop" || fail "the desktop entry has no map type"
if command -v update-mime-database >/dev/null; then
  update-mime-database "$prefix/share/mime" 2>"$work/mime.txt" ||
    fail "update-mime-database refuses tarnmap.xml: $(cat "$work/mime.txt")"
  grep -qa "application/x-tarnmap-map" "$prefix/share/mime/magic" ||
    fail "the map type has no magic"
fi

# The manual page formats without a warning.
if command -v groff >/dev/null; then
  warnings=$(groff -man -Tutf8 -ww -z "$prefix/share/man/man1/tarnmap.1" 2>&1)
  [ -z "$warnings" ] || fail "groff warns about tarnmap.1: $warnings"
fi

# The service unit starts this installation's program; systemd has nothing to say about it
# (a setting it ignores is only a warning) with its manual page looked up in the prefix,
# and rates its exposure "OK" or better (below 4.0).
unit=$prefix/lib/systemd/system/tarnmap-headless@.service
if command -v systemd-analyze >/dev/null; then
  MANPATH=$prefix/share/man systemd-analyze verify "$unit" >"$work/verify.txt" 2>&1 &&
    [ ! -s "$work/verify.txt" ] ||
    fail "systemd-analyze verify finds fault with the service unit: $(cat "$work/verify.txt")"
  systemd-analyze security --offline=true --threshold=39 "$unit" >"$work/security.txt" 2>&1 ||
    fail "the service unit is too exposed: $(tail -n 1 "$work/security.txt")"
  echo "install test: service unit $(tail -n 1 "$work/security.txt" | sed 's/^→ //')"
else
  echo "install test: systemd-analyze not installed, the service unit is not verified"
fi

# A copy of the installed example runs one headless cycle as the unit runs it, in the
# directories it makes (0755 unless it says): nothing to say about them; the log beside it.
unit_value() { sed -n "s/^$1=//p" "$unit" | tail -n 1; }
as_unit() { sed "s|%\([SCt]\)|$work/\1|g; s|%[iI]|office.db|g" <<<"$1"; }
for kind in State:%S Cache:%C Runtime:%t; do
  mode=$(unit_value "${kind%:*}DirectoryMode")
  install -d -m "${mode:-0755}" "$(as_unit "${kind#*:}/$(unit_value "${kind%:*}Directory")")"
done
maps=$(as_unit "$(unit_value WorkingDirectory)")
cp "$prefix"/share/tarnmap/examples/office.* "$maps/"
read -ra command <<<"$(as_unit "$(unit_value ExecStart)")"
[ "${command[0]}" = "$prefix/bin/tarnmap" ] || fail "the service unit starts ${command[0]}"
read -ra environment <<<"$(as_unit "$(unit_value Environment)")"
out=$(cd "$maps" && env -i PATH="$PATH" HOME=/ "${environment[@]}" timeout 120 "${command[@]}" \
  --cycles 1 2>"$work/err.txt") || fail "the headless cycle failed: $(cat "$work/err.txt")"
! grep -F "$work/" "$work/err.txt" || fail "the program finds fault with the unit's directories"
grep -Eq "^[0-9/]{8} [0-9:]{8} cycle 1: 8 checked, [0-9]+ answering" <<<"$out" ||
  fail "no cycle line: $out"
grep -qF "open of database $maps/office.db" "$maps/office.LOG" 2>/dev/null ||
  fail "the map's log was not written beside the map"

# The installation moved elsewhere as a whole still finds its data.
mv "$prefix" "$work/moved"
check_help "$work/moved"

[ "$failures" -eq 0 ] && echo "install test: the installation is complete"
exit $((failures != 0))
