#!/usr/bin/env bash
# Runs everything CI runs: set-up, format check, C++ tests (plain and under ASan + UBSan), the
# sdist and the abi3 wheel, then pytest against that wheel installed in a fresh virtual
# environment, so the tests see exactly what users install. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${HEXALUME_SKIP_SETUP:-}" = 1 ] || bash scripts/setup.sh

echo "== format check"
mapfile -t cxx_files < <(git ls-files 'src/*.cpp' 'src/*.hpp' 'tests/cpp/*.cpp' 'tests/cpp/*.hpp')
if [ ${#cxx_files[@]} -gt 0 ]; then
  clang-format --dry-run --Werror "${cxx_files[@]}"
fi

echo "== C++ unit tests"
bash scripts/cpp_tests.sh
echo "== C++ unit tests under ASan + UBSan"
bash scripts/cpp_tests.sh --sanitize

echo "== sdist and abi3 wheel"
dist=build/dist
rm -rf "$dist"
python3 -m build --sdist --no-isolation --outdir "$dist" . >/dev/null
python3 -m pip wheel -q --disable-pip-version-check --no-deps --no-build-isolation -w "$dist" .
shopt -s nullglob
sdists=("$dist"/hexalume-*.tar.gz)
wheels=("$dist"/hexalume-*-cp310-abi3-*.whl)
shopt -u nullglob
if [ ${#sdists[@]} -ne 1 ] || [ ${#wheels[@]} -ne 1 ]; then
  echo "expected one sdist and one cp310-abi3 wheel in $dist, found:" >&2
  ls -l "$dist" >&2
  exit 1
fi
# The sdist must be complete: a wheel built from it alone holds the same files.
python3 -m pip wheel -q --disable-pip-version-check --no-deps --no-build-isolation \
  -w "$dist/from-sdist" "${sdists[0]}"
python3 - "${wheels[0]}" "$dist"/from-sdist/*.whl <<'PY'
import sys, zipfile

wheel, from_sdist = sys.argv[1:]
names = zipfile.ZipFile(wheel).namelist()
for needed in ("hexalume_cli.py", "hexalume-stubs/__init__.pyi"):
    if needed not in names:
        sys.exit(f"{wheel} lacks {needed}")
if not any(n.startswith("hexalume.") and n.endswith(".abi3.so") for n in names):
    sys.exit(f"{wheel} lacks the abi3 extension module")
if sorted(zipfile.ZipFile(from_sdist).namelist()) != sorted(names):
    sys.exit(f"the wheel built from the sdist differs from {wheel}")
print(f"built {wheel} and its sdist")
PY

echo "== fresh virtual environment with the wheel and the test dependencies"
venv=build/ci-venv
rm -rf "$venv"
python3 -m venv "$venv"
"$venv/bin/python" -m pip install -q --disable-pip-version-check "${wheels[0]}[test]"

echo "== pytest against the installed package"
# Run from tests/ with no PYTHONPATH, so that `import hexalume` can only find the venv's copy;
# HEXALUME_INSTALLED makes the tests assert that it did.
set +e
(cd tests && env -u PYTHONPATH HEXALUME_INSTALLED=1 PYTHONMALLOC=debug \
  "../$venv/bin/python" -m pytest -q -p no:cacheprovider .)
status=$?
set -e
# 5 means no tests were collected, which is not a failure of the code.
[ $status -eq 0 ] || [ $status -eq 5 ] || exit $status
