#!/usr/bin/env bash
# Idempotent set-up: Debian packages, a virtual environment on the given
# CPython (3.12 by default, in .venv; 3.13 in .venv-313), its build and test
# tools, and the package itself built into it.
#   scripts/setup.sh [3.12|3.13]
set -euo pipefail
cd "$(dirname "$0")/.."
ver=${1:-3.12}
case "$ver" in
  3.12) venv=.venv ;;
  3.13) venv=.venv-313 ;;
  *) echo "error: unsupported Python $ver (supported: 3.12, 3.13)" >&2; exit 2 ;;
esac

missing=()
for pkg in tclx8.4 tcl8.6-dev tcllib; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing Debian packages: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

# Both supported Pythons must be present, whichever one this run builds for.
for v in 3.12 3.13; do scripts/find-python "$v" >/dev/null; done
scripts/make-venv "$venv" "$ver"
# Incremental: the CMake build directory under build/ is kept between runs.
"$venv/bin/python" -m pip install -q --no-build-isolation --no-deps ${OSKRA_PIP_ARGS:-} .
