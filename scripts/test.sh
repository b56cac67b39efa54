#!/usr/bin/env bash
# Installs the test dependencies, builds the module and the C++ tests, and runs CTest and pytest.
# Set ABYX_SANITIZE (e.g. address,undefined) to run the C++ tests under sanitizers instead.
set -euo pipefail
cd "$(dirname "$0")/.."

need_debs=()
[ -f /usr/include/gtest/gtest.h ] || need_debs+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need_debs+=(libbenchmark-dev)
if [ ${#need_debs[@]} -gt 0 ]; then
  if command -v apt-get >/dev/null && [ "$(id -u)" = 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_debs[@]}" >/dev/null
  else
    echo "missing Debian packages: ${need_debs[*]} (install them, then rerun)" >&2
    exit 1
  fi
fi

python3 -m pip install --quiet --disable-pip-version-check pytest hypothesis "numpy>=1.21" "xarray>=2022.6" "netCDF4>=1.6" "matplotlib>=3.6" "dask[distributed]>=2022.8"
werror=${ABYX_WERROR:-ON}
jobs=$(nproc)

# C++ unit tests
build=build/dev${ABYX_SANITIZE:+-${ABYX_SANITIZE//,/-}}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DABYX_DEVELOPER=ON \
  -DABYX_PYTHON_MODULE=OFF -DABYX_WERROR="$werror" -DABYX_SANITIZE="${ABYX_SANITIZE:-}" >/dev/null
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"

if [ -n "${ABYX_SANITIZE:-}" ]; then
  exit 0
fi

# The module as users install it, then the Python tests against it
python3 -m pip install --quiet --disable-pip-version-check . \
  -Ccmake.define.ABYX_WERROR="$werror" -Cbuild-dir=build/wheel
python3 -m pytest -q tests/python
