#!/usr/bin/env bash
# check_install.sh BUILD [PACKAGE.deb]
# Installs the component "vidwall" of BUILD into a temporary prefix, checks that every file a
# user needs is there, and starts the installed vidwall on a private Xvfb with an empty
# registry: it must register the installed control library itself and show its window. With
# a .deb, also checks that the package holds exactly the files the install made, under /usr.
set -euo pipefail
build=$1
deb=${2:-}
tmp=$(mktemp -d)
xvfb=""
viewer=""
cleanup() {
  [ -n "$viewer" ] && kill "$viewer" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "check_install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$tmp/prefix" --component vidwall >/dev/null
prefix=$tmp/prefix
for file in bin/vidwall bin/monvid-regsvr bin/ifvtool bin/monvid-demo \
            share/monvid/translations/vidwall_en.qm share/monvid/translations/monvid_en.qm \
            share/applications/vidwall.desktop share/icons/hicolor/scalable/apps/vidwall.svg; do
  [ -e "$prefix/$file" ] || fail "missing $file"
done
library=$(find "$prefix" -name libmonvid.so | head -n 1)
[ -n "$library" ] || fail "missing libmonvid.so"
# Read whole before grep looks: grep -q leaving early would end the writer by SIGPIPE, which
# pipefail takes for a failure.
version=$("$prefix/bin/vidwall" --version) || fail "vidwall --version failed"
grep -q '^vidwall ' <<<"$version" || fail "vidwall --version: $version"
help=$(env -u DISPLAY LANG=en_US.UTF-8 "$prefix/bin/vidwall" --help) || fail "vidwall --help failed"
grep -q -- '--fullscreen' <<<"$help" || fail "vidwall --help: no --fullscreen"
ldd "$prefix/bin/monvid-demo" | grep -q 'libmonvid.so => not found' &&
  fail "monvid-demo does not find libmonvid.so"

if [ -n "$deb" ]; then
  (cd "$prefix" && find . -type f -o -type l | sed 's|^\./|./usr/|' | sort) >"$tmp/installed"
  dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $6}' | sort >"$tmp/packaged"
  diff -u "$tmp/installed" "$tmp/packaged" || fail "the package's files differ from the install"
  depends=$(dpkg-deb --field "$deb" Depends)
  grep -q 'fonts-wqy-microhei' <<<"$depends" || fail "no CJK font dependency"
fi

# The installed program on a display of its own, as a new user: nothing registered yet.
display=:$((500 + $$ % 400))
while [ -e "/tmp/.X${display#:}-lock" ]; do display=:$((${display#:} + 1)); done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
mkdir -p "$tmp/wall"
printf '[config]\r\nwinnum=4\r\n' >"$tmp/wall/set.ini"
(cd "$tmp/wall" && DISPLAY=$display MONVID_REGISTRY=$tmp/registry.ini SDL_AUDIODRIVER=dummy \
  LANG=en_US.UTF-8 exec "$prefix/bin/vidwall" --unattended >"$tmp/vidwall.log" 2>&1) &
viewer=$!
window=""
for _ in $(seq 300); do
  window=$(DISPLAY=$display xdotool search --onlyvisible --name '^vidwall$' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  kill -0 "$viewer" 2>/dev/null || break
  sleep 0.1
done
[ -n "$window" ] || { cat "$tmp/vidwall.log" >&2; fail "the installed vidwall did not show its window"; }
grep -q "InprocServer=$(readlink -f "$library")" "$tmp/registry.ini" ||
  fail "the installed control library was not registered"
echo "check_install: installed files present, vidwall registered $library and started"
