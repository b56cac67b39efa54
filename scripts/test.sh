#!/usr/bin/env bash
# Builds and runs the C++ tests (CTest), then installs the module with its test dependencies into a
# virtual environment of its own (build/test-venv), runs pytest there and builds the docs.
# Set ABYX_SANITIZE (e.g. address,undefined) to run only the C++ tests, under sanitizers, and
# ABYX_CXX (e.g. clang++) to run only the C++ tests, built with that compiler.
set -euo pipefail
cd "$(dirname "$0")/.."

# GoogleTest and Google Benchmark from Debian: installed where we can (root with apt-get), else named.
need_debs=()
[ -f /usr/include/gtest/gtest.h ] || need_debs+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need_debs+=(libbenchmark-dev)
if [ ${#need_debs[@]} -gt 0 ]; then
  if command -v apt-get >/dev/null && [ "$(id -u)" = 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_debs[@]}" >/dev/null
  else
    echo "scripts/test.sh: the C++ tests need GoogleTest and Google Benchmark; missing: ${need_debs[*]}." >&2
    echo "Install them (Debian/Ubuntu: sudo apt-get install ${need_debs[*]}), then rerun." >&2
    exit 1
  fi
fi

# The virtual environment; CMake and Ninja from PyPI where the system has none.
venv=build/test-venv
[ -x "$venv/bin/pip" ] || python3 -m venv --clear "$venv"
export PATH="$PWD/$venv/bin:$PATH"
pip() { python -m pip --disable-pip-version-check --quiet "$@"; }
tools=()
for tool in cmake ninja; do command -v "$tool" >/dev/null || tools+=("$tool"); done
[ ${#tools[@]} -eq 0 ] || pip install "${tools[@]}"
werror=${ABYX_WERROR:-ON}
jobs=$(nproc)

# C++ unit tests; another compiler builds in a folder of its own (build/dev-clang for clang++)
cxx=${ABYX_CXX:-}
cxx_name=${cxx##*/}
build=build/dev${cxx:+-${cxx_name//++/}}${ABYX_SANITIZE:+-${ABYX_SANITIZE//,/-}}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DABYX_DEVELOPER=ON \
  ${cxx:+-DCMAKE_CXX_COMPILER="$cxx"} -DABYX_PYTHON_MODULE=OFF -DABYX_WERROR="$werror" \
  -DABYX_SANITIZE="${ABYX_SANITIZE:-}" >/dev/null
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"

if [ -n "${ABYX_SANITIZE:-}" ] || [ -n "$cxx" ]; then
  exit 0
fi

# The module as users install it, with the test and docs extras, then the Python tests against it
pip install ".[test,docs]" --config-settings=cmake.define.ABYX_WERROR="$werror" \
  --config-settings=build-dir=build/wheel
python -m pytest -q tests/python

# Python lint (settings in pyproject.toml): ruff over the Python, mypy over the toolkit against abyx.pyi
python -m ruff check python tests/python bench examples docs
python -m mypy

# The user guide and the API reference, every warning an error
python -m sphinx -E -W --keep-going -q -b html docs build/docs
