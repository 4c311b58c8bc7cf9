#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz/ and runs each for a
# bounded time: FUZZ_SECONDS per target (default 30).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
seconds=${FUZZ_SECONDS:-30}
dir=$root/build-fuzz
CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMONVID_BUILD_GUI=OFF -DMONVID_BUILD_TESTS=OFF -DMONVID_BUILD_BENCH=OFF \
  -DMONVID_BUILD_FUZZ=ON -DMONVID_SANITIZE=address,undefined -DMONVID_WERROR=ON >/dev/null
cmake --build "$dir" -j"$(nproc)"
fuzzers=$(find "$dir/fuzz" -type f -name 'fuzz_*' -perm -u+x | sort)
if [ -z "$fuzzers" ]; then echo "fuzz: no targets"; exit 0; fi
passed=0; failed=0
for f in $fuzzers; do
  name=$(basename "$f")
  corpus=$dir/corpus/$name; mkdir -p "$corpus"
  seeds=$root/fuzz/seeds/$name
  echo "fuzz: $name for ${seconds}s"
  if (cd "$dir" && "$f" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -print_final_stats=0 "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) >"$dir/$name.log" 2>&1); then
    passed=$((passed + 1))
  else
    failed=$((failed + 1)); echo "fuzz: $name FAILED"; tail -40 "$dir/$name.log"
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
