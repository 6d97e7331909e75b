#!/usr/bin/env bash
# Runs the project under AddressSanitizer and UndefinedBehaviorSanitizer:
#   1. the C++ unit tests (scripts/cpp_tests.sh --sanitize),
#   2. the pytest suite against the sanitized extension, installed with the command-line
#      tool, the stubs and the package metadata in a throwaway virtual environment,
#   3. a differential fuzz run: the property tests with HEXALUME_FUZZ_EXAMPLES examples each
#      (default 1000; random document pairs checked against a plain model and across option sets).
# One Debug build in build/sanitize (CMake + Ninja) serves all three and is reused by later runs.
# The sanitizer runtime is preloaded into the interpreter; every sanitizer report is fatal, only
# leak detection is off (the interpreter keeps objects alive until exit by design). Arguments are
# passed to both pytest runs, e.g. `-x` or `-k pretty`. Exits non-zero on any failure or report.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build/sanitize
venv=$dir/venv
SECONDS=0
stage() { echo "== $* (at ${SECONDS}s)"; }

stage "build and C++ unit tests under ASan + UBSan"
bash scripts/cpp_tests.sh --sanitize

stage "the sanitized extension, installed in a throwaway virtual environment"
python=$(python3 -c 'import sys; print(sys.executable)')
rm -rf "$dir/stage" "$dir/wheel" "$venv"
cmake --install "$dir" --prefix "$dir/stage" >/dev/null
# A wheel of what CMake installed plus the metadata the build backend writes, so that pip makes
# the `hexalume` console script and records the version exactly as for a released wheel.
"$python" - "$dir/stage" "$dir/wheel" <<'PY'
import base64, contextlib, hashlib, io, sys, zipfile
from pathlib import Path

from scikit_build_core.build import prepare_metadata_for_build_wheel

stage, out = Path(sys.argv[1]), Path(sys.argv[2])
with contextlib.redirect_stdout(io.StringIO()):
    info = prepare_metadata_for_build_wheel(str(stage))
wheel_file = (stage / info / "WHEEL").read_text()
tag = next(line[5:] for line in wheel_file.splitlines() if line.startswith("Tag: "))
files = sorted(path for path in stage.rglob("*") if path.is_file())
record = stage / info / "RECORD"
lines = []
for path in files:
    data = path.read_bytes()
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    lines.append(f"{path.relative_to(stage).as_posix()},sha256={digest},{len(data)}")
record.write_text("\n".join([*lines, f"{info}/RECORD,,"]) + "\n")
out.mkdir()
with zipfile.ZipFile(out / f"{info.removesuffix('.dist-info')}-{tag}.whl", "w") as wheel:
    for path in [*files, record]:
        wheel.write(path, path.relative_to(stage).as_posix())
PY
# The wheel goes into the new environment while it is still empty, so that pip installs it
# whatever is installed elsewhere (the calling environment may hold a release build of hexalume).
"$python" -m venv "$venv"
"$venv/bin/python" -m pip install -q --disable-pip-version-check --no-deps --no-index \
  "$dir"/wheel/hexalume-*.whl
# Only then are the test dependencies that scripts/setup.sh installed for python3 (which may
# itself run in a virtual environment) made visible: its package folders go after the new
# environment's own, as plain path entries whose .pth files are not run, so neither a copy of
# hexalume there nor an import hook of an editable install can take the place of this build.
"$python" - "$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')" <<'PY'
import site, sys, sysconfig
from pathlib import Path

folders = sorted({sysconfig.get_path("purelib"), sysconfig.get_path("platlib")})
if site.ENABLE_USER_SITE:
    folders.append(site.getusersitepackages())
Path(sys.argv[1], "outer_environment.pth").write_text("".join(f"{folder}\n" for folder in folders))
PY
# The interpreter under test must load exactly the module built here.
# (Found, not imported: the module loads only with the sanitizer runtime preloaded.)
installed=$(env -u PYTHONPATH "$venv/bin/python" -c \
  'import importlib.util; print(importlib.util.find_spec("hexalume").origin)')
if ! cmp -s "$installed" "$dir/stage/$(basename "$installed")"; then
  echo "the sanitizer environment imports $installed, not the module built in $dir" >&2
  exit 1
fi

# The runtimes the extension was linked against, asked of the compiler that built it.
cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$dir/CMakeCache.txt")
preload=()
for runtime in libasan.so libubsan.so; do
  path=$("$cxx" -print-file-name="$runtime")
  if [ ! -e "$path" ]; then
    echo "$cxx has no $runtime" >&2
    exit 1
  fi
  preload+=("$path")
done

# sanitized_pytest FUZZ_EXAMPLES PYTEST_ARGS...: an empty FUZZ_EXAMPLES keeps the usual counts.
sanitized_pytest() {
  local fuzz=$1
  shift
  # Frames of an unoptimised ASan build are several times larger than in a release build, so
  # the deepest nesting the module accepts needs more than the usual 8 MiB of stack.
  # PYTHONMALLOC=malloc sends every object allocation through ASan's allocator. Distinct exit
  # codes keep a sanitizer stop in a subprocess apart from the command's own status 1.
  (
    ulimit -S -s 65536
    cd tests
    env -u PYTHONPATH HEXALUME_INSTALLED=1 HEXALUME_FUZZ_EXAMPLES="$fuzz" PYTHONMALLOC=malloc \
      LD_PRELOAD="${preload[*]}" \
      ASAN_OPTIONS=detect_leaks=0:halt_on_error=1:abort_on_error=0:exitcode=86 \
      UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=87 \
      "../$venv/bin/python" -m pytest -q -p no:cacheprovider "$@"
  )
}

# The property tests run once, in the fuzz run below, with more examples.
stage "pytest under ASan + UBSan"
sanitized_pytest "" "$@" --ignore=test_properties.py .

fuzz=${HEXALUME_FUZZ_EXAMPLES:-1000}
stage "differential fuzz under ASan + UBSan: the property tests, $fuzz examples each"
sanitized_pytest "$fuzz" "$@" test_properties.py
stage "sanitizer runs done"
