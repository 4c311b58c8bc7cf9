#!/usr/bin/env bash
# Generates the media the tests play, with FFmpeg, into the folder given (default
# $MONVID_TEST_MEDIA). Nothing is checked in or downloaded. Re-running skips what exists.
set -euo pipefail
out=${1:-${MONVID_TEST_MEDIA:?folder for the test media}}
mkdir -p "$out"
cd "$out"
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
x264=(-c:v libx264 -preset veryfast -pix_fmt yuv420p -g 25 -bf 0)
make() { # make NAME command...: builds NAME through a temporary file so a cut run leaves nothing
  local name=$1; shift
  [ -s "$name" ] && return 0
  local tmp="tmp.$name"
  "$@" "$tmp"
  mv "$tmp" "$name"
}
gen_av48() { ff -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
  -t 4 "${x264[@]}" -c:a aac -ac 2 -ar 48000 -b:a 128k -f mp4 "$1"; }
gen_av8k() { ff -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=8000 \
  -t 4 "${x264[@]}" -c:a aac -ac 1 -ar 8000 -f mp4 "$1"; }
gen_tone() { # gen_tone RATE CHANNELS ENCODER FORMAT OUT: 4 s of video with a 440 Hz tone
  ff -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate="$1" \
    -t 4 "${x264[@]}" -c:a "$3" -ac "$2" -ar "$1" -b:a 128k -f "$4" "$5"; }
gen_blip() { # a second of video with 50 ms of tone at its start: less sound than the device's lead
  ff -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.05 \
    -t 1 "${x264[@]}" -c:a aac -ac 2 -ar 48000 -b:a 128k -f mp4 "$1"; }
gen_video_only() { ff -f lavfi -i testsrc2=size=352x288:rate=25 -t 4 "${x264[@]}" -f mp4 "$1"; }
gen_audio_only() { ff -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 -c:a aac -f mp4 "$1"; }
gen_two_video() { ff -f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i testsrc=size=320x200:rate=25 -t 3 \
  -map 0:v -map 1:v "${x264[@]}" -f mp4 "$1"; }
gen_width_change() {
  ff -f lavfi -i testsrc2=size=320x240:rate=25 -t 2 "${x264[@]}" -f mpegts part_a.ts
  ff -f lavfi -i testsrc2=size=480x240:rate=25 -t 2 "${x264[@]}" -f mpegts part_b.ts
  cat part_a.ts part_b.ts > "$1"; rm -f part_a.ts part_b.ts; }
gen_no_audio_decoder() {
  # A Matroska file whose audio track names a codec that FFmpeg has no decoder for.
  ff -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 \
    "${x264[@]}" -c:a pcm_s16le -f matroska "$1"
  perl -0777 -pi -e 's{A_PCM/INT/LIT}{A_ZZZ/INT/LIT}g' "$1"; }
gen_short() { ff -f lavfi -i testsrc2=size=320x240:rate=25 -t 1 "${x264[@]}" -f mp4 "$1"; }
gen_live_source() { ff -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
  -t 10 "${x264[@]}" -c:a aac -ac 2 -ar 48000 -f mp4 "$1"; }
gen_truncated() {
  ff -f lavfi -i testsrc2=size=320x240:rate=25 -t 4 "${x264[@]}" -movflags +faststart -f mp4 full.tmp
  head -c $(( $(stat -c %s full.tmp) * 6 / 10 )) full.tmp > "$1"; rm -f full.tmp; }
gen_text() { printf 'this is not a media file\n%.0s' {1..200} > "$1"; }

make av_aac48.mp4 gen_av48
make av_mono8k.mp4 gen_av8k
# Sample rates whose frames do not fill whole device buffers once converted to 48000 Hz.
make av_aac44.mp4 gen_tone 44100 2 aac mp4
make av_aac32.mp4 gen_tone 32000 2 aac mp4
make av_aac22.mp4 gen_tone 22050 2 aac mp4
make av_mp3_48.mp4 gen_tone 48000 2 libmp3lame mp4
make av_mp3_44.mp4 gen_tone 44100 2 libmp3lame mp4
make av_opus20ms.mkv gen_tone 48000 2 libopus matroska  # 20 ms frames, shorter than a buffer
make av_blip.mp4 gen_blip
make video_only.mp4 gen_video_only
make audio_only.mp4 gen_audio_only
make two_video.mp4 gen_two_video
make width_change.ts gen_width_change
make no_audio_decoder.mkv gen_no_audio_decoder
make short.mp4 gen_short
make live_source.mp4 gen_live_source
make truncated.mp4 gen_truncated
make not_media.dat gen_text
mkdir -p a_directory
echo "test media ready in $out"
