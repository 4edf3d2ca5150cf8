#!/usr/bin/env bash
# Builds the .deb of this build with CPack, checks that it holds what the install rules install and
# declares its shared-library dependencies, installs it with dpkg into a private root and runs the
# installed program from there.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
tmp=$(mktemp -d /tmp/sw-package-test.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log"; fail "cpack"; }
deb=$(ls "$tmp"/pkg/streamwright_*.deb)
[ -f "$deb" ] || fail "no streamwright_*.deb"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = streamwright ] || fail "package name"
depends=$(field Depends)
for library in libqt6core6 libqt6gui6 libasound2 libv4l-0 libjpeg62-turbo libc6; do
  [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
# Every dependency is a package this machine has, so installing it here cannot fail for want of one.
IFS=',' read -ra entries <<<"$depends"
for entry in "${entries[@]}"; do
  ok=no
  IFS='|' read -ra alternatives <<<"$entry"
  for alternative in "${alternatives[@]}"; do
    name=$(echo "$alternative" | sed 's/(.*)//; s/ //g')
    if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed'; then ok=yes; fi
  done
  [ $ok = yes ] || fail "dependency not installable here: $entry"
done

# The same files as an install of the build.
DESTDIR=$tmp/root cmake --install "$build" >/dev/null
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
(cd "$tmp/root" && find . -type f | sed 's|^\./|/|' | sort) >"$tmp/installed"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' | sort >"$tmp/packaged"
diff "$tmp/installed" "$tmp/packaged" || fail "package contents differ from the install rules"
grep -q "^$prefix/bin/streamwright\$" "$tmp/packaged" || fail "program not under $prefix/bin"

# dpkg -i into a root of its own: the real one is not ours to change from a test.
dpkgroot=$tmp/dpkgroot
mkdir -p "$dpkgroot/var/lib/dpkg/info" "$dpkgroot/var/lib/dpkg/updates" "$dpkgroot/var/log"
touch "$dpkgroot/var/lib/dpkg/status" "$dpkgroot/var/lib/dpkg/available"
dpkg --root="$dpkgroot" --force-depends --force-script-chrootless --force-not-root --log=/dev/null \
  -i "$deb" >"$tmp/dpkg.log" 2>&1 || { cat "$tmp/dpkg.log"; fail "dpkg -i"; }
status=$(dpkg --root="$dpkgroot" -s streamwright | sed -n 's/^Status: //p')
[ "$status" = "install ok installed" ] || fail "dpkg status: $status"
[ -s "$dpkgroot/etc/streamwright/streamwright.ini" ] || fail "postinst made no service settings"
version=$("$dpkgroot$prefix/bin/streamwright" --version) || fail "installed streamwright --version"
[[ "$version" == Streamwright\ * ]] || fail "--version printed: $version"
"$dpkgroot$prefix/bin/streamwright-client" --help >/dev/null || fail "installed streamwright-client --help"
dpkg --root="$dpkgroot" --force-script-chrootless --force-not-root --log=/dev/null --purge streamwright \
  >"$tmp/dpkg.log" 2>&1 || { cat "$tmp/dpkg.log"; fail "dpkg --purge"; }
[ ! -e "$dpkgroot/etc/streamwright" ] || fail "purge left the service settings"
echo "package $(basename "$deb"): ok"
