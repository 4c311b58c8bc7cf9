#!/usr/bin/env bash
# Installs libzelplay (component "zelplay") from a build tree into a temporary prefix and
# builds a small C program against it twice: through pkg-config and through
# find_package(Zelplay). Both must link, run and use the voice codec. Also checks that the
# library exports only plain C names.
#   install_test.sh <build dir> <C compiler> [sanitizers]
set -euo pipefail
build=$1
cc=$2
sanitize=${3:-}
flags=""
if [ -n "$sanitize" ]; then flags="-fsanitize=$sanitize"; fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --component zelplay --prefix "$prefix" >/dev/null

lib=$(find "$prefix" -name 'libzelplay.so.*' -type f | head -1)
[ -n "$lib" ] || { echo "libzelplay.so not installed"; exit 1; }
# Only the C interface is exported: no C++ symbol, not even the standard library's templates
# and type information that its headers mark visible.
symbols=$(nm -D --defined-only "$lib" | awk '{print $3}')
leaked=$(grep -vE '^(ZelPlay_|HI_VOICE_|avi_reader_|custommp4_|EncAudioFrame$|DecAudioFrame$|_edata$|_end$|__bss_start$|_init$|_fini$)' <<<"$symbols" || true)
if [ -n "$leaked" ]; then
  echo "names exported beside the C interface:"; echo "$leaked" | c++filt | head; exit 1
fi
for sym in HI_VOICE_GetVersion HI_VOICE_EncReset HI_VOICE_DecReset HI_VOICE_EncodeFrame \
           HI_VOICE_DecodeFrame HI_VOICE_TransCodeReset HI_VOICE_TransCodeFrame \
           EncAudioFrame DecAudioFrame; do
  grep -qx "$sym" <<<"$symbols" || { echo "missing $sym"; exit 1; }
done

mkdir -p "$work/app"
cat >"$work/app/main.c" <<'C'
#include <stdio.h>
#include <string.h>
#include <zelplay.h>

int main(void) {
    char version[64];
    unsigned char state[HI_VOICE_STATE_BYTES];
    unsigned char frame[HI_VOICE_MAX_FRAME_BYTES];
    int16_t pcm[320], out[HI_VOICE_MAX_SAMPLES];
    uint16_t count = 0;
    int i;
    if (HI_VOICE_GetVersion(version) != 0 || strstr(version, "HI_VOICE_VERSION=") != version) {
        return 1;
    }
    for (i = 0; i < 320; ++i) {
        pcm[i] = (int16_t)((i % 40) * 800 - 16000);
    }
    if (HI_VOICE_EncReset(state, HI_VOICE_G711U) != HI_VOICE_OK ||
        HI_VOICE_EncodeFrame(state, pcm, frame, 320) != HI_VOICE_OK || frame[2] != 160) {
        return 2;
    }
    if (HI_VOICE_DecReset(state, HI_VOICE_G711U) != HI_VOICE_OK ||
        HI_VOICE_DecodeFrame(state, frame, out, &count) != HI_VOICE_OK || count != 320) {
        return 3;
    }
    printf("%s %d\n", version, (int)count);
    return 0;
}
C

# pkg-config
PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name zelplay.pc | head -1)")
export PKG_CONFIG_PATH
# shellcheck disable=SC2046
"$cc" $flags -std=c99 -Wall -Wextra -Werror -o "$work/app/via_pkgconfig" "$work/app/main.c" \
  $(pkg-config --cflags --libs zelplay)
LD_LIBRARY_PATH=$(dirname "$lib") "$work/app/via_pkgconfig"

# find_package
cat >"$work/app/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.16)
project(zelplay_consumer C)
find_package(Zelplay 1 REQUIRED)
add_executable(via_cmake main.c)
target_link_libraries(via_cmake PRIVATE Zelplay::zelplay)
CM
cmake -S "$work/app" -B "$work/app/build" -DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/app/build" >/dev/null
"$work/app/build/via_cmake"
echo "install test: pkg-config and find_package consumers built and ran"
