#!/usr/bin/env bash
# Times Quillix's JPEG decoding and thumbnails next to djpeg and vipsthumbnail (one thread) on
# the same generated files in one run, and prints ratios. Not part of the test run.
#
#   bench/imaging_compare.sh [COUNT]     (pictures per thumbnail folder, default 100)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-100}

extra=()
for p in libjpeg-turbo-progs libvips-tools; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || extra+=("$p")
done
if [ ${#extra[@]} -gt 0 ]; then
  sudo=(); [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -q && "${sudo[@]}" apt-get install -y -q --no-install-recommends "${extra[@]}"
fi

(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release --target imaging_bench >/dev/null)
bench="$root/build/release/bin/imaging_bench"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "generating 1 × 24 MP JPEG, $count × 12 MP JPEG, $count × 1920 × 1080 PNG ..."
"$bench" --write "$work" "$count"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

echo
echo "== full decode of the 24 MP JPEG (median of 7, ms)"
runs=()
for _ in 1 2 3 4 5 6 7; do
  t0=$(now); djpeg -outfile /dev/null "$work/big.jpg"; t1=$(now)
  runs+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", (b - a) * 1000 }')")
done
djpeg_ms=$(printf '%s\n' "${runs[@]}" | sort -n | sed -n 4p)
ours_ms=$("$bench" --decode "$work/big.jpg" 7)
echo "quillix $ours_ms   djpeg $djpeg_ms"
echo "djpeg/quillix time $(ratio "$djpeg_ms" "$ours_ms")   (target >= 1.00)"

thumbs() {  # $1: jpg or png
  local dir="$work/$2"
  rm -rf "$work/vips_out" "$work/ours_out"; mkdir -p "$work/vips_out"
  local t0 t1 vips ours
  t0=$(now)
  VIPS_CONCURRENCY=1 vipsthumbnail --size 104 -o "$work/vips_out/%s.jpg" "$dir"/*."$1"
  t1=$(now)
  vips=$(elapsed "$t0" "$t1")
  ours=$("$bench" --thumbnails "$work/ours_out" "$dir"/*."$1")
  echo "quillix $(awk -v n="$count" -v s="$ours" 'BEGIN { printf "%.1f", n / s }')/s   vipsthumbnail $(awk -v n="$count" -v s="$vips" 'BEGIN { printf "%.1f", n / s }')/s"
  echo "rate quillix/vipsthumbnail $(ratio "$vips" "$ours")   (target >= $3)"
}

echo
echo "== thumbnails (box 104) of $count 12 MP JPEGs, written as JPEG"
thumbs jpg jpeg 1.2
echo
echo "== thumbnails (box 104) of $count 1920 × 1080 PNGs, written as JPEG"
thumbs png png 1.1
