#!/usr/bin/env bash
# Installs what is missing, then runs every check, fastest first: the format of the sources and the
# layers' includes, the dev build with its tests, clang-tidy over the sources, the end-to-end run
# of the program under Xvfb, the tests labelled "threaded" under ThreadSanitizer
# (QUILLIX_SKIP_TSAN=1 skips those), then every test under AddressSanitizer and
# UndefinedBehaviorSanitizer (QUILLIX_SKIP_ASAN=1 skips those).
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

find src tests bench tools -name '*.cpp' -o -name '*.h' | sort | xargs clang-format --dry-run --Werror
./scripts/check-layers.sh

jobs=$(nproc)
cmake --preset dev
cmake --build --preset dev
ctest --preset dev -j "$jobs"

# The checks of .clang-tidy over the program's sources, compiled as the dev build compiles them.
run-clang-tidy -quiet -p build/dev -j "$jobs" "$PWD/src/.*\.cpp\$"

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
