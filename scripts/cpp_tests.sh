#!/usr/bin/env bash
# Builds and runs the C++ unit tests. With --sanitize: under AddressSanitizer and UBSan, in the
# build that scripts/sanitize.sh also uses for the extension (one configure, one build for both).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build/cpp
flags=(-DHEXALUME_BUILD_TESTS=ON -DHEXALUME_BUILD_EXTENSION=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build/sanitize
  flags=(-DHEXALUME_BUILD_TESTS=ON -DHEXALUME_BUILD_EXTENSION=ON -DHEXALUME_SANITIZE=ON
         -DCMAKE_BUILD_TYPE=Debug)
fi
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir" -j 2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$dir" --output-on-failure -j 2
