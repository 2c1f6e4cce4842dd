#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: first the dev build, then the same
# tests under AddressSanitizer and UndefinedBehaviorSanitizer (QUILLIX_SKIP_ASAN=1 skips those).
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

jobs=$(nproc)
cmake --preset dev
cmake --build --preset dev
ctest --preset dev -j "$jobs"

if [ "${QUILLIX_SKIP_ASAN:-0}" != 1 ]; then
  cmake --preset asan
  cmake --build --preset asan
  ctest --preset asan -j "$jobs"
fi
