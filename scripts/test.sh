#!/usr/bin/env bash
# Runs everything CI runs: set-up, format check, the C++ tests, the sdist and the abi3 wheel built
# from it, pytest against that wheel installed in a fresh virtual environment (so the tests see
# exactly what users install), then scripts/sanitize.sh: the C++ tests, the pytest suite and a
# fuzz run against one ASan + UBSan build. Each configuration is built once. Exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${HEXALUME_SKIP_SETUP:-}" = 1 ] || bash scripts/setup.sh
SECONDS=0
stage() { echo "== $* (at ${SECONDS}s)"; }

stage "format check"
mapfile -t cxx_files < <(git ls-files 'src/*.cpp' 'src/*.hpp' 'tests/cpp/*.cpp' 'tests/cpp/*.hpp')
if [ ${#cxx_files[@]} -gt 0 ]; then
  clang-format --dry-run --Werror "${cxx_files[@]}"
fi

stage "C++ unit tests"
bash scripts/cpp_tests.sh

stage "sdist, and the abi3 wheel built from it"
dist=build/dist
rm -rf "$dist"
# Without --sdist or --wheel, build makes the sdist and then the wheel from the unpacked sdist,
# so the one extension build also shows that the sdist holds everything the build needs.
if ! python3 -m build --no-isolation --outdir "$dist" . >build/dist.log 2>&1; then
  cat build/dist.log >&2
  exit 1
fi
shopt -s nullglob
sdists=("$dist"/hexalume-*.tar.gz)
wheels=("$dist"/hexalume-*-cp310-abi3-*.whl)
shopt -u nullglob
if [ ${#sdists[@]} -ne 1 ] || [ ${#wheels[@]} -ne 1 ]; then
  echo "expected one sdist and one cp310-abi3 wheel in $dist, found:" >&2
  ls -l "$dist" >&2
  exit 1
fi
# The sdist must be complete: it holds every tracked file but the CI entry point.
# (The script comes on standard input, so the list of tracked files is passed as a file.)
tracked_list="$dist/tracked-files"
git ls-files -z > "$tracked_list"
python3 - "${sdists[0]}" "${wheels[0]}" "$tracked_list" <<'PY'
import sys, tarfile, zipfile

sdist, wheel, tracked_list = sys.argv[1:]
with open(tracked_list, "rb") as listing:
    names = listing.read().decode().split("\0")
tracked = {name for name in names if name and not name.startswith(".ci/")}
if not tracked:
    sys.exit("no tracked files listed")
with tarfile.open(sdist) as archive:
    packed = {name.partition("/")[2] for name in archive.getnames()}
if missing := sorted(tracked - packed):
    sys.exit(f"{sdist} lacks {', '.join(missing)}")
names = zipfile.ZipFile(wheel).namelist()
for needed in ("hexalume_cli.py", "hexalume_pytest.py", "hexalume-stubs/__init__.pyi"):
    if needed not in names:
        sys.exit(f"{wheel} lacks {needed}")
if not any(n.startswith("hexalume.") and n.endswith(".abi3.so") for n in names):
    sys.exit(f"{wheel} lacks the abi3 extension module")
print(f"built {wheel} from {sdist}")
PY

stage "fresh virtual environment with the wheel and the test dependencies"
venv=build/ci-venv
rm -rf "$venv"
python3 -m venv "$venv"
"$venv/bin/python" -m pip install -q --disable-pip-version-check "${wheels[0]}[test]"

stage "pytest against the installed package"
# Run from tests/ with no PYTHONPATH, so that `import hexalume` can only find the venv's copy;
# HEXALUME_INSTALLED makes the tests assert that it did.
set +e
(cd tests && env -u PYTHONPATH -u HEXALUME_FUZZ_EXAMPLES HEXALUME_INSTALLED=1 PYTHONMALLOC=debug \
  "../$venv/bin/python" -m pytest -q -p no:cacheprovider .)
status=$?
set -e
# 5 means no tests were collected, which is not a failure of the code.
[ $status -eq 0 ] || [ $status -eq 5 ] || exit $status

stage "ASan + UBSan: C++ tests, pytest suite and fuzz run"
bash scripts/sanitize.sh
stage "done"
