#!/usr/bin/env bash
# Installs the module with its test dependencies into a virtual environment of its own (build/test-venv),
# building the C++ tests beside it in the build folder `pip install .` uses (build/<wheel tag>: what an
# earlier install compiled is not compiled again), runs CTest there, pytest, the linters and builds the docs.
# Set ABYX_WERROR=ON to make compiler warnings errors (CI does; the module then compiles with -Werror, which
# `pip install .` leaves out, so the first such run rebuilds it). Set ABYX_SANITIZE (e.g. address,undefined)
# to run only the C++ tests, under sanitizers, and ABYX_CXX (e.g. clang++) to run only the C++ tests, built
# with that compiler, each in a developer build folder of its own (build/dev-...).
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
werror=${ABYX_WERROR:-OFF}
jobs=$(nproc)
cxx=${ABYX_CXX:-}

if [ -n "${ABYX_SANITIZE:-}" ] || [ -n "$cxx" ]; then
  # C++ tests only, in a developer build of their own (build/dev-clang for clang++, build/dev-address-undefined)
  cxx_name=${cxx##*/}
  build=build/dev${cxx:+-${cxx_name//++/}}${ABYX_SANITIZE:+-${ABYX_SANITIZE//,/-}}
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DABYX_DEVELOPER=ON \
    ${cxx:+-DCMAKE_CXX_COMPILER="$cxx"} -DABYX_PYTHON_MODULE=OFF -DABYX_WERROR="$werror" \
    -DABYX_SANITIZE="${ABYX_SANITIZE:-}" >/dev/null
  cmake --build "$build" -j "$jobs"
  ctest --test-dir "$build" --output-on-failure -j "$jobs"
  exit 0
fi

# The module as users install it (Release, build/<wheel tag>), with the C++ tests, benchmarks and fuzz replay
# built in the same folder, and the test and docs extras; then the C++ tests there.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$jobs}
# the AVX2 flavour too, so that the tests run it and compare it with the baseline module
pip install ".[test,docs]" --config-settings=cmake.define.ABYX_DEVELOPER=ON \
  --config-settings=cmake.define.ABYX_WERROR="$werror" --config-settings=cmake.define.ABYX_SIMD_FLAVOURS=ON
build=build/$(python -c 'import sys, sysconfig; v = "cp%d%d" % sys.version_info[:2]
print(f"{v}-{v}{sys.abiflags}-" + sysconfig.get_platform().replace("-", "_").replace(".", "_"))')
[ -f "$build/CTestTestfile.cmake" ] || { echo "scripts/test.sh: no C++ tests in $build (the install's build folder)" >&2; exit 1; }
ctest --test-dir "$build" --output-on-failure -j "$jobs"
python -m pytest -q tests/python

# Python lint (settings in pyproject.toml): ruff over the Python, mypy over the toolkit against abyx.pyi
python -m ruff check python tests/python bench examples docs
python -m mypy

# The user guide and the API reference, every warning an error
python -m sphinx -E -W --keep-going -q -b html docs build/docs
