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
# The build folder and python/ come first on the path, ahead of any installed copy.
PYTHONPATH="$PWD/$dir:$PWD/python${PYTHONPATH:+:$PYTHONPATH}" \
  exec "$python" -m pytest -p no:cacheprovider "$@"
