#!/usr/bin/env bash
# Sets everything up, builds, registers the video wall control, makes four demo clips, writes
# a "set.ini" for four windows in demo/ and starts vidwall there: press Play ("播放").
# Without a display, vidwall runs on a private Xvfb with --play, and a screenshot is left in
# demo/screenshot.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target monvid vidwall monvid-regsvr
"$root/build/tools/monvid-regsvr/monvid-regsvr" "$root/build/control/libmonvid.so"

demo=$root/demo
mkdir -p "$demo"
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
clip() { # clip NAME SOURCE [audio]
  local name=$1 source=$2
  [ -s "$demo/$name" ] && return 0
  if [ "${3:-}" = audio ]; then
    ff -f lavfi -i "$source" -f lavfi -i "sine=frequency=440:sample_rate=48000" -t 30 \
      -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 50 -c:a aac -ac 2 "$demo/tmp.mp4"
  else
    ff -f lavfi -i "$source" -t 30 -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 50 "$demo/tmp.mp4"
  fi
  mv "$demo/tmp.mp4" "$demo/$name"
}
clip street.mp4 "testsrc2=size=1280x720:rate=25" audio
clip gate.mp4 "mandelbrot=size=640x360:rate=25"
clip lobby.mp4 "life=size=640x360:rate=25:mold=10:ratio=0.4:death_color=#203040:life_color=#e0a020,scale=640:360"
clip yard.mp4 "smptehdbars=size=640x360:rate=25"
printf '[config]\r\nwinnum=4\r\nreplay=1\r\n' > "$demo/set.ini"
i=0
for name in street gate lobby yard; do
  printf 'file%d=%s\r\n' "$i" "$demo/$name.mp4" >> "$demo/set.ini"
  i=$((i + 1))
done

cd "$demo"
vidwall=$root/build/viewer/vidwall
if [ -n "${DISPLAY:-}" ]; then
  exec "$vidwall"
fi

echo "demo: no display; running vidwall on a private Xvfb"
display=:$(( 90 + RANDOM % 100 ))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
DISPLAY=$display SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} "$vidwall" --play >/dev/null 2>&1 &
viewer=$!
trap 'kill $viewer $xvfb 2>/dev/null || true' EXIT
window=""
for _ in $(seq 50); do
  window=$(DISPLAY=$display xdotool search --onlyvisible --name '^vidwall$' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "demo: vidwall did not start" >&2; exit 1; }
eval "$(DISPLAY=$display xdotool getwindowgeometry --shell "$window")"
sleep 7
DISPLAY=$display xwd -root -silent -out "$demo/screen.xwd"
ff -i "$demo/screen.xwd" -vf "crop=$WIDTH:$HEIGHT:$X:$Y" "$demo/screenshot.png"
rm -f "$demo/screen.xwd"
echo "demo: screenshot in $demo/screenshot.png"
