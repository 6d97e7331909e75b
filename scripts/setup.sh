#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian machine. Idempotent.
set -euo pipefail
cd "$(dirname "$0")/.."

need_apt=()
[ -f /usr/include/gtest/gtest.h ] || need_apt+=(libgtest-dev)
command -v clang-format >/dev/null || need_apt+=(clang-format)
command -v g++ >/dev/null || need_apt+=(g++)
# Not required: builds use it when present (see CMakeLists.txt).
command -v ccache >/dev/null || need_apt+=(ccache)
# Debian's own python3 leaves venv support to a separate package.
python3 -c 'import ensurepip, venv' 2>/dev/null || need_apt+=(python3-venv)
if [ ${#need_apt[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_apt[@]}" >/dev/null
fi
python3 -m pip install -q --disable-pip-version-check -r requirements-dev.txt
