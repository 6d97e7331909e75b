#!/usr/bin/env bash
# Runs everything CI runs: set-up, format and lint checks (clang-format, ruff), the C++ tests, the
# sdist and the abi3 wheel (repaired into a manylinux wheel by auditwheel), pytest against that
# wheel installed in fresh virtual environments (so the tests see exactly what users install): the
# whole suite on python3, and all but the property tests on the oldest supported CPython (3.10)
# and the newest one pyenv holds; then scripts/sanitize.sh: the C++ tests, the pytest suite and a
# fuzz run against one ASan + UBSan build. Each configuration is built once. Exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${HEXALUME_SKIP_SETUP:-}" = 1 ] || bash scripts/setup.sh
SECONDS=0
stage() { echo "== $* (at ${SECONDS}s)"; }

stage "format and lint check: clang-format, ruff format, ruff check"
mapfile -t cxx_files < <(git ls-files 'src/*.cpp' 'src/*.hpp' 'tests/cpp/*.cpp' 'tests/cpp/*.hpp')
if [ ${#cxx_files[@]} -gt 0 ]; then
  clang-format --dry-run --Werror "${cxx_files[@]}"
fi
python3 -m ruff format --check .
python3 -m ruff check .

stage "test/code ratio (non-blank lines of tests/ against src/, python/, stubs/)"
python3 scripts/test_ratio.py

stage "C++ unit tests"
bash scripts/cpp_tests.sh

stage "sdist and abi3 wheel, tagged manylinux"
dist=build/dist
rm -rf "$dist"
# The wheel is built from the checkout in build/<wheel tag>, where `pip install .` built it
# before: pip's isolated environment makes the build backend clear CMake's cache, but with ccache
# nothing is compiled twice. The sdist check below shows that the sdist holds every tracked file,
# so a build from it has everything this one had.
for kind in sdist wheel; do
  if ! python3 -m build --no-isolation "--$kind" --outdir "$dist/$kind" . >build/dist.log 2>&1; then
    cat build/dist.log >&2
    exit 1
  fi
done
shopt -s nullglob
sdists=("$dist"/sdist/hexalume-*.tar.gz)
built=("$dist"/wheel/hexalume-*-cp310-abi3-linux_x86_64.whl)
shopt -u nullglob
if [ ${#sdists[@]} -ne 1 ] || [ ${#built[@]} -ne 1 ]; then
  echo "expected one sdist and one cp310-abi3 wheel in $dist, found:" >&2
  ls -lR "$dist" >&2
  exit 1
fi
# The C++ runtime is linked in, so the repaired wheel carries no copied libraries and installs on
# any glibc Linux of the manylinux policy auditwheel finds for it.
python3 -m auditwheel repair --wheel-dir "$dist" "${built[0]}" >build/auditwheel.log 2>&1 || {
  cat build/auditwheel.log >&2
  exit 1
}
shopt -s nullglob
wheels=("$dist"/hexalume-*-cp310-abi3-*manylinux*_x86_64.whl)
shopt -u nullglob
if [ ${#wheels[@]} -ne 1 ]; then
  echo "auditwheel made no single manylinux wheel in $dist:" >&2
  cat build/auditwheel.log >&2
  exit 1
fi
python3 -m auditwheel show "${wheels[0]}"
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
for needed in ("hexalume_cli.py", "hexalume_pytest.py", "hexalume-stubs/__init__.pyi",
               "hexalume_patch.py", "hexalume_patch-stubs/__init__.pyi"):
    if needed not in names:
        sys.exit(f"{wheel} lacks {needed}")
for module in ("hexalume.", "_hexalume_patch."):
    if not any(n.startswith(module) and n.endswith(".abi3.so") for n in names):
        sys.exit(f"{wheel} lacks the abi3 extension module {module}abi3.so")
if grafted := [n for n in names if ".libs/" in n]:
    sys.exit(f"{wheel} carries copied libraries: {', '.join(grafted)}")
print(f"built {wheel}, and {sdist}")
PY

# venv_with_wheel DIR PYTHON: a fresh virtual environment with the wheel and the test dependencies.
venv_with_wheel() {
  rm -rf "$1"
  "$2" -m venv "$1"
  "$1/bin/python" -m pip install -q --disable-pip-version-check "${wheels[0]}[test]"
}

# installed_pytest VENV PYTEST_ARGS...: the suite against the package installed in VENV. Run from
# tests/ with no PYTHONPATH, so that `import hexalume` can only find the venv's copy;
# HEXALUME_INSTALLED makes the tests assert that it did.
installed_pytest() {
  local venv=$1 status
  shift
  set +e
  (cd tests && env -u PYTHONPATH -u HEXALUME_FUZZ_EXAMPLES HEXALUME_INSTALLED=1 PYTHONMALLOC=debug \
    "../$venv/bin/python" -m pytest -q -p no:cacheprovider "$@")
  status=$?
  set -e
  # 5 means no tests were collected, which is not a failure of the code.
  [ $status -eq 0 ] || [ $status -eq 5 ] || exit $status
}

# pyenv_python MINOR: the newest CPython 3.MINOR.x that pyenv holds.
pyenv_root=${PYENV_ROOT:-$HOME/.pyenv}
pyenv_python() {
  local found
  found=$(compgen -G "$pyenv_root/versions/3.$1.*/bin/python3.$1" | sort -V | tail -n 1 || true)
  if [ -z "$found" ] || ! "$found" -c "import platform, sys
assert platform.python_implementation() == 'CPython' and sys.version_info[:2] == (3, $1)"; then
    echo "no CPython 3.$1 under $pyenv_root/versions (install one: pyenv install 3.$1)" >&2
    return 1
  fi
  echo "$found"
}
# The oldest CPython the wheel supports, and the newest the machine has (3.13 or later).
oldest=$(pyenv_python 10)
newest_minor=$({ compgen -G "$pyenv_root/versions/3.*" || true; } |
  sed -n 's|.*/3\.\([0-9]*\)\.[0-9]*$|\1|p' | sort -n | tail -n 1)
if [ -z "$newest_minor" ] || [ "$newest_minor" -lt 13 ]; then
  echo "no CPython 3.13 or later under $pyenv_root/versions (install one: pyenv install 3.13)" >&2
  exit 1
fi
newest=$(pyenv_python "$newest_minor")

# Three suites against the one wheel, each in a fresh virtual environment: the whole suite on
# python3, and all but the property tests (they run in full here and in the sanitizer stage's
# fuzz run) on the oldest and the newest CPython. Each is one process, so they run side by side
# on the machine's cores, each writing to its own log, shown when all have ended.
stage "the wheel in three fresh virtual environments with the test dependencies, and pytest"
jobs=()
for role in main oldest newest; do
  python=python3
  args=(.)
  if [ $role != main ]; then
    python=${!role}
    args=(--ignore=test_properties.py .)
  fi
  version=$("$python" -c 'import platform; print(platform.python_version())')
  venv=build/ci-venv-$role
  (
    venv_with_wheel "$venv" "$python"
    installed_pytest "$venv" "${args[@]}"
  ) >"$venv.log" 2>&1 &
  jobs+=("$!:$venv:CPython $version, pytest ${args[*]}")
done
failed=()
for job in "${jobs[@]}"; do
  IFS=: read -r pid venv title <<<"$job"
  status=0
  wait "$pid" || status=$?
  echo "-- $title (exit status $status)"
  cat "$venv.log"
  [ $status -eq 0 ] || failed+=("$title")
done
if [ ${#failed[@]} -gt 0 ]; then
  printf 'failed: %s\n' "${failed[@]}" >&2
  exit 1
fi

stage "ASan + UBSan: C++ tests, pytest suite and fuzz run"
bash scripts/sanitize.sh
stage "done"
