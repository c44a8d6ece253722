#!/bin/sh
# Installs the build into a scratch prefix and checks where things land.
set -eu
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
fail() { echo "install check: $*" >&2; exit 1; }
prog="$prefix/libexec/kalvane"
[ -x "$prog/kalvane" ] || fail "no client in $prog"
[ -f "$prog/QvxHelp.html" ] || fail "no help page beside the client"
[ -L "$prefix/bin/kalvane" ] || fail "no bin/kalvane link"
[ "$(readlink -f "$prefix/bin/kalvane")" = "$(readlink -f "$prog/kalvane")" ] || fail "bin/kalvane points elsewhere"
[ -f "$prefix/share/applications/com.wexor.Kalvane.desktop" ] || fail "no desktop file"
[ -f "$prefix/share/metainfo/com.wexor.Kalvane.metainfo.xml" ] || fail "no metainfo"
[ -f "$prefix/share/icons/hicolor/scalable/apps/com.wexor.Kalvane.svg" ] || fail "no icon"
grep -q '^Icon=com.wexor.Kalvane$' "$prefix/share/applications/com.wexor.Kalvane.desktop" || fail "desktop file names another icon"
echo "install check: ok"
