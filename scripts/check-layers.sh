#!/usr/bin/env bash
# Fails when a library under src/ includes a header of a library above it: the layers of
# docs/OVERVIEW.md, kept here as the one table of which library may include which.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each row: a library, the files that belong to it (globs, the first matching row wins, so a
# window's files come before the rest of its folder), and the libraries it may include besides
# itself. A new folder under src/ needs a row here before the check passes.
layers=(
  "common          src/common/*                                      -"
  "crypto          src/crypto/*                                      common"
  "container       src/container/*                                   common crypto"
  "workers         src/workers/*                                     common"
  "settings        src/settings/*                                    common crypto container"
  "platform        src/platform/*                                    common crypto container settings"
  "cli             src/cli/*                                         common crypto container settings workers"
  "imaging         src/imaging/*                                     common crypto container workers"
  "browse          src/browse/*                                      common container settings imaging"
  "session         src/session/*                                     common container workers settings browse"
  "viewer          src/viewer/viewer_window.* src/viewer/gallery_link.h   common crypto container workers settings imaging browse session viewer_core"
  "viewer_core     src/viewer/*                                      common crypto container workers imaging"
  "gallery_window  src/gallery/gallery_window.* src/gallery/status_panels.* src/gallery/delete_dialog.*   common crypto container workers settings platform imaging browse session viewer_core gallery viewer"
  "gallery         src/gallery/*                                     common crypto container workers settings imaging browse"
  "app             src/app/*                                         common crypto container workers settings platform imaging browse session viewer_core gallery viewer gallery_window"
)

# Sets layer to the library of one file under src/, or to nothing when no row holds it.
layer_of() {
  local row name patterns pattern
  layer=
  for row in "${layers[@]}"; do
    read -r name patterns <<<"$row"
    for pattern in $patterns; do
      [[ $pattern == src/* ]] || break
      # shellcheck disable=SC2053 # the pattern is a glob on purpose
      if [[ $1 == $pattern ]]; then
        layer=$name
        return
      fi
    done
  done
}

declare -A allowed
for row in "${layers[@]}"; do
  read -r name rest <<<"$row"
  allowed[$name]=" $name $(tr ' ' '\n' <<<"$rest" | grep -v '^src/' | tr '\n' ' ') "
done

failures=0
mapfile -t files < <(find src -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
for file in "${files[@]}"; do
  layer_of "$file"
  if [ -z "$layer" ]; then
    echo "$file: belongs to no layer; add it to the table in $0"
    failures=$((failures + 1))
  fi
done

while IFS=: read -r file line header; do
  layer_of "$file"
  from=$layer
  [ -n "$from" ] || continue
  if [[ $header == */* ]]; then
    target=src/$header
  else
    target=${file%/*}/$header
  fi
  [ -e "$target" ] || continue
  layer_of "$target"
  if [[ ${allowed[$from]} != *" $layer "* ]]; then
    echo "$file:$line: $from includes $header of ${layer:-no layer}"
    failures=$((failures + 1))
  fi
done < <(awk -F'"' '/^[ \t]*#[ \t]*include[ \t]*"/ { print FILENAME ":" FNR ":" $2 }' "${files[@]}")

if [ "$failures" -ne 0 ]; then
  echo "$failures fault(s) against the layers of docs/OVERVIEW.md"
  exit 1
fi
