#!/usr/bin/env bash
# Runs everything CI runs: format check, C++ tests (plain and sanitized), install, pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${HEXALUME_SKIP_SETUP:-}" = 1 ] || bash scripts/setup.sh

echo "== format check"
clang-format --dry-run --Werror $(git ls-files 'src/*.cpp' 'src/*.hpp' 'tests/cpp/*.cpp' 'tests/cpp/*.hpp')

echo "== C++ unit tests"
bash scripts/cpp_tests.sh
echo "== C++ unit tests under ASan + UBSan"
bash scripts/cpp_tests.sh --sanitize

if [ -d src/python ] && ls src/python/*.cpp >/dev/null 2>&1; then
  echo "== install and pytest"
  python3 -m pip install -q --disable-pip-version-check --no-build-isolation .
  set +e
  (cd tests && PYTHONMALLOC=debug python3 -m pytest -q -p no:cacheprovider .)
  status=$?
  set -e
  # 5 means no tests were collected, which is not a failure of the code.
  [ $status -eq 0 ] || [ $status -eq 5 ] || exit $status
fi
