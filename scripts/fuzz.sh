#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a while, starting from the
# committed seeds in tests/fuzz/corpus. New inputs go to a scratch corpus, so
# the committed seeds stay as they are; a crash leaves its input in build-fuzz/.
#
#   scripts/fuzz.sh [seconds-per-target=20]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}

bash scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKAVLENTO_FUZZ=ON -DKAVLENTO_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_setting fuzz_history fuzz_archive \
    fuzz_pbkdf2

total=0
for target in setting history archive pbkdf2; do
    scratch=$(mktemp -d)
    (cd build-fuzz && "./tests/fuzz/fuzz_$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        "$scratch" "../tests/fuzz/corpus/$target" 2>"$scratch.log") || {
        tail -n 40 "$scratch.log"
        echo "fuzz_$target found a failure" >&2
        exit 1
    }
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$scratch.log" | grep -o '[0-9]*$')
    echo "fuzz_$target: $runs inputs in ${seconds}s, no failure"
    total=$((total + runs))
    rm -rf "$scratch" "$scratch.log"
done
echo "fuzzed $total inputs in all"
