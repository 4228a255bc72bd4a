#!/usr/bin/env bash
# Installs what is needed, builds Karvelon with its tests and runs every test.
#   scripts/test.sh                 normal build in build/
#   KARVELON_SANITIZE=address,undefined BUILD_DIR=build-asan scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

BUILD_DIR=${BUILD_DIR:-build}
SANITIZE=${KARVELON_SANITIZE:-}
WERROR=OFF
if [ "${CI:-}" = "true" ]; then WERROR=ON; fi

cmake -S . -B "$BUILD_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKARVELON_BUILD_TESTS=ON \
    -DKARVELON_WERROR="$WERROR" \
    -DKARVELON_SANITIZE="$SANITIZE"
cmake --build "$BUILD_DIR" -j "$(nproc)"

# Sanitizer reports end the test process with a failure (halt_on_error), so a
# report anywhere fails the run.
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:abort_on_error=0:detect_leaks=0:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"
