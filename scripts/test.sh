#!/usr/bin/env bash
# Sets everything up, builds and runs the tests.
#   scripts/test.sh            release build with debug info, in build/
#   scripts/test.sh --asan     AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan/
#   scripts/test.sh --tsan     ThreadSanitizer over the threaded tests, in build-tsan/
# Extra arguments after the variant go to ctest (for instance -R Voice).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

variant=default
case "${1:-}" in
  --asan|--tsan) variant=${1#--}; shift ;;
esac

args=(-G Ninja -DMONVID_BUILD_BENCH=OFF)
ctest_args=()
targets=()
case $variant in
  default) dir=build; args=(-G Ninja) ;;
  asan) dir=build-asan; args+=(-DMONVID_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug) ;;
  tsan) dir=build-tsan; args+=(-DMONVID_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo)
        ctest_args=(-L threads); targets=(--target thread_tests) ;;
esac

cmake -S "$root" -B "$root/$dir" "${args[@]}" >/dev/null
cmake --build "$root/$dir" -j"$(nproc)" "${targets[@]}"
cd "$root/$dir"
# Network and window tests start servers and X displays of their own; two at a time is
# what these machines take without starving the live streams.
ctest --output-on-failure -j2 --timeout 600 "${ctest_args[@]}" "$@"
