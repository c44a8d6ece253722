#!/usr/bin/env bash
# Builds the two Debian packages (scripts/package.sh), holds them to
# lintian (any error fails), checks that each holds exactly its files,
# installs them on this machine, checks that the installed client starts
# and finds its alarm program and help page and that the server runs, then
# purges them and checks that no file was left behind. Needs root or sudo.
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
fail() { echo "package check: $*" >&2; exit 1; }
version="$(sed -n 's/^project(Kalvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"

mapfile -t debs < <(scripts/package.sh | grep '\.deb$')
client_deb="" server_deb=""
for d in "${debs[@]}"; do
  case "$(basename "$d")" in
    kalvane_*) client_deb="$d" ;;
    kalvane-server_*) server_deb="$d" ;;
  esac
done
[ -n "$client_deb" ] && [ -n "$server_deb" ] || fail "expected two packages, got: ${debs[*]}"

scratch="$(mktemp -d)"
installed=0
purge() {
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kalvane kalvane-server >/dev/null
}
cleanup() {
  if [ "$installed" = 1 ]; then purge || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# Each package holds its own files and nothing else (no test, benchmark,
# library or header).
contents() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print $6}' | LC_ALL=C sort; }
cat > "$scratch/client.want" <<'LIST'
./usr/bin/kalvane
./usr/libexec/kalvane/QvxAlarm.exe
./usr/libexec/kalvane/QvxHelp.html
./usr/libexec/kalvane/kalvane
./usr/share/applications/com.wexor.Kalvane.desktop
./usr/share/doc/kalvane/changelog.gz
./usr/share/doc/kalvane/copyright
./usr/share/icons/hicolor/scalable/apps/com.wexor.Kalvane.svg
./usr/share/man/man1/kalvane.1.gz
./usr/share/metainfo/com.wexor.Kalvane.metainfo.xml
LIST
cat > "$scratch/server.want" <<'LIST'
./usr/bin/kalvane-server
./usr/lib/systemd/system/kalvane-server.service
./usr/lib/sysusers.d/kalvane-server.conf
./usr/share/doc/kalvane-server/changelog.gz
./usr/share/doc/kalvane-server/copyright
./usr/share/man/man1/kalvane-server.1.gz
LIST
contents "$client_deb" | diff -u "$scratch/client.want" - || fail "kalvane holds other files"
contents "$server_deb" | diff -u "$scratch/server.want" - || fail "kalvane-server holds other files"

# Run-time needs besides the linked libraries, and the libraries themselves.
client_depends="$(dpkg-deb -f "$client_deb" Depends)"
for p in fonts-noto-cjk xdg-utils qt6-translations-l10n libqt6widgets6 libsqlite3-0; do
  grep -qw -- "$p" <<< "$client_depends" || fail "kalvane does not depend on $p: $client_depends"
done
server_depends="$(dpkg-deb -f "$server_deb" Depends)"
for p in libsqlite3-0 libsodium23 libpq5; do
  grep -qw -- "$p" <<< "$server_depends" || fail "kalvane-server does not depend on $p: $server_depends"
done
[ "$(dpkg-deb -f "$client_deb" Version)" = "$version" ] || fail "kalvane is not version $version"

# Warnings are shown but pass; an error fails.
lintian --fail-on error --tag-display-limit 0 "$client_deb" "$server_deb" || fail "lintian found errors"

# What the file system holds where packages put files, leaving out the
# package manager's own records.
snapshot() {
  $SUDO find /usr /etc /lib/systemd /var/lib -xdev \
    \( -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/lib/systemd/deb-systemd-helper-enabled \) -prune \
    -o -print 2>/dev/null | sort
}
if dpkg-query -W -f='${Status}' kalvane kalvane-server 2>/dev/null | grep -q "ok installed"; then
  fail "kalvane or kalvane-server is already installed here; purge it first"
fi
snapshot > "$scratch/before"

installed=1
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  "$client_deb" "$server_deb" >/dev/null

# The client, started through its link in /usr/bin, finds its folder,
# alarm program and help page; nothing it links is missing.
prog=/usr/libexec/kalvane
[ "$(readlink -f /usr/bin/kalvane)" = "$prog/kalvane" ] || fail "/usr/bin/kalvane points elsewhere"
for b in "$prog/kalvane" "$prog/QvxAlarm.exe" /usr/bin/kalvane-server; do
  if ldd "$b" | grep -q 'not found'; then ldd "$b" >&2; fail "$b misses a library"; fi
done
sh tests/app/startup_report_check.sh /usr/bin/kalvane "$prog" "$version"
/usr/bin/kalvane-server --help > "$scratch/help" || fail "kalvane-server --help failed"
grep -q serve "$scratch/help" || fail "kalvane-server --help lists no serve command"
grep -qx 'ExecStart=/usr/bin/kalvane-server serve' /usr/lib/systemd/system/kalvane-server.service \
  || fail "the unit starts another program"
if command -v systemd-sysusers >/dev/null 2>&1; then
  getent passwd kalvane-server >/dev/null || fail "no kalvane-server user after installing"
fi
echo "package check: installed packages work"

purge
installed=0
snapshot > "$scratch/after"
# A path that is new after the purge and belongs to no package (another
# package may have come in meanwhile) was left behind by ours.
left=()
while IFS= read -r path; do
  dpkg-query -S "$path" >/dev/null 2>&1 || left+=("$path")
done < <(comm -13 "$scratch/before" "$scratch/after")
if [ ${#left[@]} -gt 0 ]; then
  printf '  %s\n' "${left[@]}" >&2
  fail "files left behind after the purge"
fi
echo "package check: ok ($(basename "$client_deb"), $(basename "$server_deb"))"
