#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR, checks the tree and its desktop, AppStream, man and
# systemd files, then runs the installed program from a read-only prefix and checks where its
# settings, log and web home land.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
tmp=$(mktemp -d /tmp/sw-install-test.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  chmod -R u+w "$tmp" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
[ -n "${SW_KEEP_TMP:-}" ] && trap - EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
root=$tmp/root
DESTDIR=$root cmake --install "$build" >"$tmp/install.log" || { cat "$tmp/install.log"; fail "cmake --install"; }
p=$root$prefix
app=org.example.streamwright.Streamwright

# The tree the install rules promise.
for f in bin/streamwright bin/streamwright-client; do
  [ -x "$p/$f" ] || fail "$f is not installed as a program"
done
for f in share/streamwright/www/index.htm share/streamwright/streamwright-service.ini \
         share/applications/$app.desktop share/metainfo/$app.metainfo.xml \
         share/icons/hicolor/scalable/apps/streamwright.svg \
         share/man/man1/streamwright.1.gz share/man/man1/streamwright-client.1.gz \
         lib/systemd/system/streamwright.service lib/systemd/user/streamwright.service \
         share/doc/streamwright/LICENSE; do
  [ -s "$p/$f" ] || fail "$f missing or empty"
done
cmp -s "$p/share/doc/streamwright/LICENSE" "$(dirname "$0")/../../LICENSE" || fail "LICENSE differs"
for size in 16 22 24 32 48 64 128 256; do
  png=$p/share/icons/hicolor/${size}x${size}/apps/streamwright.png
  [ -s "$png" ] || fail "icon ${size}x${size} missing"
  # Width and height are the big-endian words at bytes 16 and 20 of a PNG.
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "icon ${size}x${size} is ${w}x${h}"
done
grep -q '^Categories=AudioVideo;Video;Network;$' "$p/share/applications/$app.desktop" || fail "desktop categories"

desktop-file-validate "$p/share/applications/$app.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$p/share/metainfo/$app.metainfo.xml" || fail "appstreamcli validate"
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$p/share/metainfo/$app.metainfo.xml" ||
  fail "metainfo names no licence"
for page in streamwright streamwright-client; do
  warnings=$(MANWIDTH=80 man --warnings -l "$p/share/man/man1/$page.1.gz" 2>&1 >"$tmp/$page.txt") ||
    fail "man -l $page"
  [ -z "$warnings" ] || fail "man $page: $warnings"
  grep -q '^NAME' "$tmp/$page.txt" && grep -q "^       $page - " "$tmp/$page.txt" || fail "man $page renders no NAME"
done
grep -q 'XDG_CONFIG_HOME' "$tmp/streamwright.txt" || fail "man streamwright says nothing of the settings folder"

unit=$p/lib/systemd/system/streamwright.service
grep -q "^ExecStart=$prefix/bin/streamwright --headless --start --ini /etc/streamwright/streamwright.ini\$" "$unit" ||
  fail "system unit's ExecStart"
for option in ProtectSystem=strict PrivateTmp=yes NoNewPrivileges=yes 'SupplementaryGroups=video audio'; do
  grep -q "^$option\$" "$unit" || fail "system unit lacks $option"
done
if command -v systemd-analyze >/dev/null; then
  # Verified with ExecStart pointing into the DESTDIR, where the program really is.
  mkdir -p "$tmp/units/system" "$tmp/units/user"
  sed "s|^ExecStart=$prefix/|ExecStart=$p/|" "$unit" >"$tmp/units/system/streamwright.service"
  sed "s|^ExecStart=$prefix/|ExecStart=$p/|" "$p/lib/systemd/user/streamwright.service" \
    >"$tmp/units/user/streamwright.service"
  systemd-analyze verify --man=no "$tmp/units/system/streamwright.service" || fail "systemd-analyze verify (system)"
  # The user manager wants a runtime folder of its own.
  mkdir -m 700 "$tmp/units/run"
  XDG_RUNTIME_DIR=$tmp/units/run systemd-analyze --user verify --man=no "$tmp/units/user/streamwright.service" \
    2>"$tmp/verify-user.log" ||
    { cat "$tmp/verify-user.log"; fail "systemd-analyze verify (user)"; }
else
  echo "systemd-analyze not available: units not verified"
fi

# Runs the program as a user for whom the prefix is read-only: root ignores permission bits, so
# as root the program runs as nobody.
as_user=()
owner=$(id -u)
if [ "$owner" -eq 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  owner=65534
fi
chmod 755 "$tmp"
chmod -R a-w "$root"
mkuserdir() { mkdir -p "$@"; chown "$owner" "$@"; chmod 700 "$@"; }

# Runs PROGRAM ARGS... headless with HOME=$home until the log names its files, then SIGTERM.
run_until_files() {
  local err=$tmp/stderr.$RANDOM
  mkuserdir "$home/run"
  env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home/run" QT_QPA_PLATFORM=offscreen \
    "${as_user[@]}" "$@" --headless 2>"$err" &
  local pid=$!
  pids+=("$pid")
  local deadline=$((SECONDS + 120))
  until grep -q 'Application  Files' "$err"; do
    kill -0 "$pid" 2>/dev/null || { cat "$err"; fail "$* ended early"; }
    [ $SECONDS -lt $deadline ] || { cat "$err"; fail "$* never named its files"; }
    sleep 0.2
  done
  kill -TERM "$pid"
  wait "$pid" || { cat "$err"; fail "$* exited with $?"; }
  cat "$err" >"$tmp/last-stderr"
  if grep -q '^streamwright: ' "$err"; then cat "$err"; fail "$* reported a problem"; fi
}

home=$tmp/home1
mkuserdir "$home"
run_until_files "$p/bin/streamwright"
[ -s "$home/.config/streamwright/streamwright.ini" ] || fail "settings not in XDG_CONFIG_HOME"
grep -q ",61,\"settings $home/.config/" "$home/.local/state/streamwright/streamwright.log" ||
  fail "log not in XDG_STATE_HOME"
cmp -s "$home/.local/share/streamwright/www/index.htm" "$p/share/streamwright/www/index.htm" ||
  fail "web home not seeded from the installed content"
[ -w "$home/.local/share/streamwright/www/index.htm" ] || [ "$owner" -ne "$(id -u)" ] ||
  fail "seeded web home is read-only"
[ "$(ls "$p/bin")" = "$(printf 'streamwright\nstreamwright-client')" ] || fail "something was written beside the program"
grep -q "settings $home/.config/streamwright/streamwright.ini, log $home/.local/state/streamwright/streamwright.log, web home $home/.local/share/streamwright/www" \
  "$tmp/last-stderr" || { cat "$tmp/last-stderr"; fail "the log does not name the files in use"; }

# --ini wins, and its log goes beside it.
home=$tmp/home2
mkuserdir "$home" "$tmp/elsewhere"
run_until_files "$p/bin/streamwright" --ini "$tmp/elsewhere/cam.ini"
[ -s "$tmp/elsewhere/cam.ini" ] && [ -s "$tmp/elsewhere/cam.log" ] || fail "--ini did not win"
[ ! -e "$home/.config/streamwright/streamwright.ini" ] || fail "--ini still wrote the XDG settings"

# A writable folder beside the executable is still used.
home=$tmp/home3
mkuserdir "$home" "$tmp/portable"
cp "$p/bin/streamwright" "$tmp/portable/"
run_until_files "$tmp/portable/streamwright"
[ -s "$tmp/portable/streamwright.ini" ] && grep -q ",61,\"settings $tmp/portable/" "$tmp/portable/streamwright.log" ||
  fail "a writable executable folder was not used"
[ ! -e "$home/.config" ] && [ ! -e "$home/.local" ] || fail "a portable run wrote into the home folder"
echo "install tree, validators and folders: ok"
