#!/usr/bin/env bash
# Builds and runs the C++ unit tests. With --sanitize: under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build/cpp
flags=(-DHEXALUME_BUILD_TESTS=ON -DHEXALUME_BUILD_EXTENSION=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build/cpp-sanitize
  flags=(-DHEXALUME_BUILD_TESTS=ON -DHEXALUME_BUILD_EXTENSION=OFF -DHEXALUME_SANITIZE=ON
         -DCMAKE_BUILD_TYPE=Debug)
fi
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$dir" --output-on-failure -j 2
