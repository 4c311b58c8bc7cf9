#!/usr/bin/env bash
# Sets everything up, builds, makes demo clips and plays them on the video wall.
# On a desktop the window opens and plays until closed. Without a display the demo runs on
# a private Xvfb for a few seconds and leaves a screenshot in demo/screenshot.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target monvid-demo

demo=$root/demo
mkdir -p "$demo"
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
if [ ! -s "$demo/street.mp4" ]; then
  ff -f lavfi -i "testsrc2=size=1280x720:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=48000" \
    -t 30 -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 50 -c:a aac -ac 2 "$demo/tmp.mp4"
  mv "$demo/tmp.mp4" "$demo/street.mp4"
fi
if [ ! -s "$demo/gate.mp4" ]; then
  ff -f lavfi -i "mandelbrot=size=640x360:rate=25" -t 30 -c:v libx264 -preset veryfast \
    -pix_fmt yuv420p -g 50 "$demo/tmp.mp4"
  mv "$demo/tmp.mp4" "$demo/gate.mp4"
fi

demo_bin=$root/build/tools/monvid-demo/monvid-demo
if [ -n "${DISPLAY:-}" ]; then
  exec "$demo_bin" "$demo/street.mp4" "$demo/gate.mp4"
fi

echo "demo: no display; playing on a private Xvfb for 8 seconds"
display=:$(( 90 + RANDOM % 100 ))
Xvfb "$display" -screen 0 1600x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} "$demo_bin" --quit-after 8 \
  --screenshot "$demo/screenshot.png" "$demo/street.mp4" "$demo/gate.mp4"
echo "demo: screenshot in $demo/screenshot.png"
