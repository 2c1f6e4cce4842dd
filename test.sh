#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: first the dev build and the end-to-end
# run of the program under Xvfb, then the tests of threaded code under ThreadSanitizer
# (QUILLIX_SKIP_TSAN=1 skips those), then every test under AddressSanitizer and
# UndefinedBehaviorSanitizer (QUILLIX_SKIP_ASAN=1 skips those).
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

jobs=$(nproc)
cmake --preset dev
cmake --build --preset dev
ctest --preset dev -j "$jobs"

# The real program under a private X server, driven by keys and clicks as a person would.
if command -v Xvfb >/dev/null; then
  tests/e2e/run.sh build/dev
fi

if [ "${QUILLIX_SKIP_TSAN:-0}" != 1 ]; then
  cmake --preset tsan
  cmake --build --preset tsan
  ctest --preset tsan -j "$jobs"
fi

if [ "${QUILLIX_SKIP_ASAN:-0}" != 1 ]; then
  cmake --preset asan
  cmake --build --preset asan
  ctest --preset asan -j "$jobs"
fi
