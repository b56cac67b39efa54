#!/usr/bin/env bash
# Line coverage of the C++ core (gcovr) and of the toolkit (coverage.py): the C++ figure once for
# CTest alone and once for CTest and pytest together. Needs the test dependencies of test.sh and
# gcovr and coverage (pip install gcovr coverage).
# The test that fails interpreter allocations one by one is left out: it covers no toolkit line, takes
# long under the tracer, and older versions of it crashed there.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/coverage
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DABYX_DEVELOPER=ON -DABYX_PYTHON_MODULE=ON \
  -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic -O1" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
  -DCMAKE_SHARED_LINKER_FLAGS=--coverage -DCMAKE_MODULE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" -j "$(nproc)" >/dev/null
echo "C++ line coverage of src/, CTest alone:"
python3 -m gcovr --gcov-ignore-parse-errors=negative_hits.warn_once_per_file -r . --filter 'src/' --exclude 'src/python_bindings/' "$build" --txt-summary 2>/dev/null | grep -E '^lines'
PYTHONPATH="$build:python" python3 -m coverage run --source=python/abyx_tools -m pytest -q -p no:cacheprovider -k "not allocation_failures" tests/python >/dev/null
echo "C++ line coverage of src/, CTest and pytest:"
python3 -m gcovr --gcov-ignore-parse-errors=negative_hits.warn_once_per_file -r . --filter 'src/' "$build" --txt-summary 2>/dev/null | grep -E '^lines'
echo "Python line coverage of python/abyx_tools, pytest:"
python3 -m coverage report | tail -n 1
