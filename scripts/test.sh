#!/usr/bin/env bash
# Builds Kavlento with its tests on a fresh Debian 12 machine and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
cd build
ctest -j"$(nproc)" --output-on-failure
