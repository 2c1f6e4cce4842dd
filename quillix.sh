#!/usr/bin/env bash
# Installs what is missing, builds the release programs and starts Quillix.
# Until the gallery window lands, this prints the help of the command-line tool.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

"$here/scripts/install-deps.sh"
(
  cd "$here"
  cmake --preset release >/dev/null
  cmake --build --preset release --target quillix-crypt
)

"$here/build/release/bin/quillix-crypt" --help
if [ $# -gt 0 ]; then
  echo
  echo "The viewer and gallery windows are not built yet; '$1' was not opened."
fi
