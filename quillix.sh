#!/usr/bin/env bash
# Installs what is missing, builds the release programs and starts Quillix on FILE or FOLDER,
# or on a folder of generated sample pictures (some encrypted, password "quillix").
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$here/build/release/bin
samples=$here/build/release/samples

"$here/scripts/install-deps.sh"
(
  cd "$here"
  cmake --preset release >/dev/null
  cmake --build --preset release --target quillix quillix-crypt quillix-samples
)

# Made once; written to a side folder first, so an interrupted run leaves no half set behind.
if [ ! -d "$samples" ]; then
  rm -rf "$samples.part"
  "$bin/quillix-samples" "$samples.part"
  mv "$samples.part" "$samples"
fi

exec "$bin/quillix" "${1:-$samples}"
