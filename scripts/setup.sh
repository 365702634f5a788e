#!/usr/bin/env bash
# Idempotent set-up: Debian packages, the project's virtual environment on
# CPython 3.12, its build and test dependencies, and the package itself.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for pkg in tclx8.4 tcl8.6-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing Debian packages: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

PY=$(scripts/find-python312)
if [ ! -x .venv/bin/python ] || ! .venv/bin/python -c 'import sys; sys.exit(sys.version_info[:2] != (3, 12))'; then
  rm -rf .venv
  "$PY" -m venv .venv
fi
stamp=.venv/.build-deps
if [ ! -f "$stamp" ]; then
  .venv/bin/python -m pip install -q --upgrade pip
  .venv/bin/python -m pip install -q "scikit-build-core>=0.10" "nanobind>=2.0" cmake ninja "pytest>=8" "hypothesis>=6"
  touch "$stamp"
fi
# Incremental: the CMake build directory under build/ is kept between runs.
.venv/bin/python -m pip install -q --no-build-isolation --no-deps ${OSKRA_PIP_ARGS:-} .
