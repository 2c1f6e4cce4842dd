#!/bin/sh
# package_test.sh BUILD_DIR VERSION: makes the Debian package of that build, unpacks it into a
# scratch root and checks what a person installing it gets.
set -eu
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$scratch"/out/quillix_*.deb)
dpkg -x "$deb" "$scratch/root"
root=$scratch/root

for file in usr/bin/quillix usr/bin/quillix-crypt; do
  [ -x "$root/$file" ] || fail "$file is missing or not executable"
done
for file in usr/share/applications/quillix.desktop \
  usr/share/icons/hicolor/16x16/apps/quillix.png usr/share/icons/hicolor/48x48/apps/quillix.png \
  usr/share/icons/hicolor/256x256/apps/quillix.png usr/share/man/man1/quillix-crypt.1.gz \
  usr/share/doc/quillix/copyright usr/share/doc/quillix/README.md; do
  [ -f "$root/$file" ] || fail "$file is missing"
done
# Nothing else: no test or benchmark programs.
[ "$(ls "$root/usr/bin" | wc -l)" -eq 2 ] || fail "more than the two programs in /usr/bin: $(ls "$root/usr/bin")"
grep -q '^Exec="quillix" %f$' "$root/usr/share/applications/quillix.desktop" || fail "desktop entry Exec"
grep -q '^MimeType=image/jpeg;image/png;image/gif;image/bmp;image/webp;image/heic;image/heif;image/avif;image/tiff;image/jxl;$' "$root/usr/share/applications/quillix.desktop" ||
  fail "desktop entry MimeType"
grep -q 'MIT License' "$root/usr/share/doc/quillix/copyright" || fail "copyright is not the licence"
file "$root/usr/share/icons/hicolor/48x48/apps/quillix.png" | grep -q 'PNG image data, 48 x 48' || fail "icon"

man=$(gzip -dc "$root/usr/share/man/man1/quillix-crypt.1.gz")
echo "$man" | grep -q '^\.TH QUILLIX\\-CRYPT 1' || fail "man page header"
echo "$man" | grep -q 'Usage: quillix\\-crypt COMMAND' || fail "man page lacks the --help text"
echo "$man" | grep -q 'XChaCha20\\-Poly1305' || fail "man page does not say what the strong format is"
echo "$man" | grep -q "$build" && fail "man page names the build folder"

[ "$(dpkg-deb -f "$deb" Package)" = quillix ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6core6 libqt6gui6 libqt6widgets6 libgcrypt20 libsodium23 libjpeg62-turbo libpng16-16 libgif7 libwebp7 \
  libwebpdemux2; do
  echo "$depends" | grep -q "$library" || fail "Depends lacks $library: $depends"
done

[ "$("$root/usr/bin/quillix-crypt" --version)" = "quillix-crypt $version" ] || fail "quillix-crypt --version"
echo "package ok: $(basename "$deb")"
