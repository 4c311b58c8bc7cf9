#!/usr/bin/env bash
# Sets everything up, builds and runs the tests. Warnings are errors in these builds.
#   scripts/test.sh            Release build (what users and packagers build), with the
#                              benchmarks compiled too, in build/
#   scripts/test.sh --asan     AddressSanitizer + UndefinedBehaviorSanitizer (Debug), in build-asan/
#   scripts/test.sh --tsan     ThreadSanitizer over the threaded tests, in build-tsan/
# The sanitizer builds leave the benchmarks out: they are never run there.
# Extra arguments after the variant go to ctest (for instance -R Voice).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

variant=default
case "${1:-}" in
  --asan|--tsan) variant=${1#--}; shift ;;
esac

args=(-G Ninja -DMONVID_WERROR=ON)
ctest_args=()
targets=()
case $variant in
  default) dir=build
           args+=(-DCMAKE_BUILD_TYPE=Release -DMONVID_BUILD_BENCH=ON) ;;
  asan)    dir=build-asan
           args+=(-DCMAKE_BUILD_TYPE=Debug -DMONVID_BUILD_BENCH=OFF
                  -DMONVID_SANITIZE=address,undefined) ;;
  tsan)    dir=build-tsan
           args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DMONVID_BUILD_BENCH=OFF
                  -DMONVID_SANITIZE=thread)
           ctest_args=(-L threads); targets=(--target thread_tests) ;;
esac

cmake -S "$root" -B "$root/$dir" "${args[@]}" >/dev/null
cmake --build "$root/$dir" -j"$(nproc)" "${targets[@]}"
cd "$root/$dir"
# Network and window tests start servers and X displays of their own; two at a time is
# what these machines take without starving the live streams.
ctest --output-on-failure -j2 --timeout 600 "${ctest_args[@]}" "$@"
