#!/usr/bin/env bash
# Builds Kavlento with its tests on a fresh Debian 12 machine and runs them.
#
#   scripts/test.sh              every test (build/); CI runs this, as root
#   scripts/test.sh quick        only the tests of one tier (a CTest label, or
#                                several as 'quick|window'); see the README
#   scripts/test.sh --sanitize   every test built with AddressSanitizer and
#                                UndefinedBehaviorSanitizer (build-sanitize/)
set -euo pipefail
cd "$(dirname "$0")/.."

folder=build
# Tests are asked for explicitly: a folder configured earlier without them
# (the install commands do that) must not end in a run of no tests.
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVLENTO_TESTS=ON)
tier=()
case "${1:-}" in
--sanitize)
    folder=build-sanitize
    options+=(-DKAVLENTO_SANITIZE=ON)
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ;;
"") ;;
*) tier=(-L "^(${1})\$") ;;
esac

bash scripts/setup.sh
cmake -S . -B "$folder" "${options[@]}"
cmake --build "$folder" -j"$(nproc)"
cd "$folder"
ctest -j"$(nproc)" --output-on-failure --no-tests=error "${tier[@]}"
