#!/usr/bin/env bash
# Installs what building, running and testing Quillix need on Debian 12, and nothing when all of
# it is present already, so a second run costs a few dpkg queries.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-qpa-plugins
  libgcrypt20-dev libsodium-dev libjpeg62-turbo-dev libturbojpeg0-dev libexif-dev libpng-dev libgif-dev libwebp-dev zlib1g-dev
  # HEIC/HEIF and AVIF (libheif brings its HEVC and AV1 coders, which the tests encode with), TIFF,
  # JPEG XL
  libheif-dev libtiff-dev libjxl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # a second reader of the strong container, apart from the program's code
  python3-nacl
  xvfb xauth xclip
  # the X clipboard test reads the X server's events through the xcb headers
  libxcb1-dev
  # the end-to-end run: a window manager, keys and clicks, screenshots, and widgets found by
  # their accessible names over a private session bus
  openbox xdotool imagemagick
  dbus-daemon at-spi2-core python3-gi gir1.2-atspi-2.0
  # the format and lint checks
  clang-format clang-tidy
  # cpack -G DEB: file finds the programs, dpkg-shlibdeps (dpkg-dev) their Depends
  file dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
