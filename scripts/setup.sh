#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the fuzzers and the demo need.
# Idempotent: only missing packages are installed; uses sudo when not run as root.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
  # media
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  # sound, pictures, widgets, X11
  libsdl2-dev libjpeg62-turbo-dev qt6-base-dev fonts-wqy-microhei
  libx11-dev libxext-dev libxv-dev libxrandr-dev libcairo2-dev libpango1.0-dev
  # translations: lupdate and lrelease and their CMake package; the .deb package
  qt6-l10n-tools qt6-tools-dev dpkg-dev
  # tests: unit test framework, X server, reference codecs
  libgtest-dev xvfb xauth x11-apps xdotool libspandsp-dev
  # live servers for the network tests
  nginx-light libnginx-mod-rtmp
  gstreamer1.0-rtsp gir1.2-gst-rtsp-server-1.0 python3-gi gstreamer1.0-tools
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav
  # peers the render benchmark measures against
  gstreamer1.0-x mpv
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
# The tests start nginx themselves, on a free port of 127.0.0.1 with a configuration of their
# own; a system service that the package may have started is the machine's business and is
# left alone.
echo "setup: done"
