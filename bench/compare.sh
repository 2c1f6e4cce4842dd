#!/usr/bin/env bash
# Runs Quillix's key derivation and whole-file encryption next to their peers on this machine
# and prints ratios (ours / theirs) of medians. Not part of the test run: timings belong here.
#
#   bench/compare.sh [SIZE_MB]     (default 100)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
size_mb=${1:-100}

"$root/scripts/install-deps.sh"
extra=()
for p in age hyperfine libssl-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || extra+=("$p")
done
if [ ${#extra[@]} -gt 0 ]; then
  sudo=(); [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -q && "${sudo[@]}" apt-get install -y -q --no-install-recommends "${extra[@]}"
fi

(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release --target quillix-crypt pbkdf2_median >/dev/null)
bin="$root/build/release/bin"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/pbkdf2_openssl" "$root/bench/peers/pbkdf2_openssl.c" -lcrypto
cc -O2 -o "$work/pbkdf2_gcrypt" "$root/bench/peers/pbkdf2_gcrypt.c" $(pkg-config --cflags --libs libgcrypt)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "== PBKDF2-HMAC-SHA-256, 200000 iterations, 48 bytes (median of 9, ms)"
ours=$("$bin/pbkdf2_median" 200000 9)
openssl_ms=$("$work/pbkdf2_openssl" 200000 9)
gcrypt_ms=$("$work/pbkdf2_gcrypt" 200000 9)
echo "quillix $ours   openssl $openssl_ms   libgcrypt $gcrypt_ms"
echo "ours/openssl $(ratio "$ours" "$openssl_ms")   (target <= 0.50)"
echo "ours/libgcrypt $(ratio "$ours" "$gcrypt_ms")"

# Whole-file work: AES, fast mode, whole file, no overwrite passes. The fast-mode derivation
# (20000 iterations) is measured apart and subtracted, as if the key were already cached.
echo
echo "== ${size_mb} MB file: encrypt and cat (median of hyperfine runs, ms)"
head -c "$((size_mb * 1000 * 1000))" /dev/urandom >"$work/orig.bin"
printf 'correct horse\n' >"$work/pw"
age-keygen -o "$work/age.key" 2>/dev/null
recipient=$(age-keygen -y "$work/age.key")
key=000102030405060708090a0b0c0d0e0f
iv=f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff
derive=$("$bin/pbkdf2_median" 20000 9)
qc=("$bin/quillix-crypt")
opts=(--password-file "$work/pw" --cipher aes --fast --no-filename-pw --max-mib 0 --passes 0 --settings "$work/none.ini")

median() {  # hyperfine's median of one command, in ms
  hyperfine --style none --warmup 1 --runs "${RUNS:-7}" ${2:+--prepare "$2"} --export-json "$work/h.json" "$1" >/dev/null
  awk -F: '/"median"/ { gsub(/[ ,]/, "", $2); printf "%.1f", $2 * 1000; exit }' "$work/h.json"
}

cp "$work/orig.bin" "$work/plain.bin"
enc_ours=$(median "${qc[*]} encrypt ${opts[*]} $work/plain.bin" "cp $work/orig.bin $work/plain.bin")
enc_openssl=$(median "openssl enc -aes-128-ctr -K $key -iv $iv -in $work/orig.bin -out $work/o.enc")
enc_age=$(median "age -r $recipient -o $work/a.age $work/orig.bin")
cp "$work/orig.bin" "$work/plain.bin" && "${qc[@]}" encrypt "${opts[@]}" "$work/plain.bin"
cat_ours=$(median "${qc[*]} cat ${opts[*]} '$work/\$plain.bin' > /dev/null")
cat_openssl=$(median "openssl enc -d -aes-128-ctr -K $key -iv $iv -in $work/o.enc -out /dev/null")
cat_age=$(median "age -d -i $work/age.key -o /dev/null $work/a.age")
enc_net=$(awk -v a="$enc_ours" -v d="$derive" 'BEGIN { printf "%.1f", a - d }')
cat_net=$(awk -v a="$cat_ours" -v d="$derive" 'BEGIN { printf "%.1f", a - d }')

echo "derivation subtracted: $derive"
echo "encrypt: quillix $enc_net (raw $enc_ours)   openssl enc $enc_openssl   age $enc_age"
echo "cat:     quillix $cat_net (raw $cat_ours)   openssl enc -d $cat_openssl   age -d $cat_age"
echo "encrypt ours/openssl $(ratio "$enc_net" "$enc_openssl") (target <= 1.2)   ours/age $(ratio "$enc_net" "$enc_age") (target <= 1.0)"
echo "cat     ours/openssl $(ratio "$cat_net" "$cat_openssl") (target <= 1.2)   ours/age $(ratio "$cat_net" "$cat_age") (target <= 1.0)"
