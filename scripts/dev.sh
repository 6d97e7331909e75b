#!/usr/bin/env bash
# Builds the extension module(s) in place (CMake + Ninja in build/dev, incremental) for the
# python3 on PATH, then runs pytest against that build, with the modules of python/ beside it:
# nothing is installed. Arguments go to pytest, e.g. `bash scripts/dev.sh -x -k pretty` or
# `bash scripts/dev.sh tests/test_cli.py`; without arguments the whole suite runs.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build/dev
python=$(python3 -c 'import sys; print(sys.executable)')
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHEXALUME_BUILD_EXTENSION=ON \
  -DHEXALUME_BUILD_TESTS=OFF -DPython_EXECUTABLE="$python" >/dev/null
cmake --build "$dir" -j 2
# The package's metadata and entry points beside the build, as an installed wheel has them, so
# that pytest loads the `hexalume` plugin and importlib.metadata finds the version.
"$python" - "$dir" <<'PY'
import shutil, sys
from pathlib import Path

try:
    import tomllib
except ModuleNotFoundError:  # Python 3.10
    import tomli as tomllib

project = tomllib.loads(Path("pyproject.toml").read_text(encoding="utf-8"))["project"]
folder = Path(sys.argv[1])
for old in folder.glob("hexalume-*.dist-info"):
    shutil.rmtree(old)
info = folder / f"hexalume-{project['version']}.dist-info"
info.mkdir()
metadata = f"Metadata-Version: 2.1\nName: {project['name']}\nVersion: {project['version']}\n"
(info / "METADATA").write_text(metadata, encoding="utf-8")
groups = {"console_scripts": project.get("scripts", {}), **project.get("entry-points", {})}
(info / "entry_points.txt").write_text(
    "".join(
        f"[{group}]\n" + "".join(f"{name} = {target}\n" for name, target in entries.items())
        for group, entries in groups.items()
    ),
    encoding="utf-8",
)
PY
# The build folder and python/ come first on the path, ahead of any installed copy.
PYTHONPATH="$PWD/$dir:$PWD/python${PYTHONPATH:+:$PYTHONPATH}" \
  exec "$python" -m pytest -p no:cacheprovider "$@"
