#!/usr/bin/env bash
# Runs Quillix's key derivation and whole-file work next to OpenSSL on this machine and prints
# the ratios (ours / theirs, medians) against the targets:
#   key derivation                          <= 0.5 x OpenSSL's PBKDF2
#   in-place encrypt and decrypt of a file  <= 1.2 x openssl enc, file to file
#   cat of a container to /dev/null         <= 1.2 x (HMAC-SHA-256 of the same bytes + openssl enc -d)
# cat must check one MAC over the whole body before it may write a byte, and encryption flushes
# the container before it deletes the plain file; the targets allow for both.
#
# Then the strong format next to age 1.1, the same kind of stream (ChaCha20-Poly1305 in 64 KiB
# chunks). age with a recipient key derives nothing, while every strong run pays one Argon2id
# derivation, so the files are compared by their cost per byte: the time for the big file minus
# the time for a 1-byte file, for both alike, in the same run:
#   in-place encrypt                        <= 1.2 x age -r KEY -o OUT IN; sync OUT
#   in-place decrypt                        <= 1.2 x age -d -i KEY -o OUT IN; sync OUT
#   cat of a container to /dev/null         <= 1.1 x age -d -i KEY IN > /dev/null
#   one Argon2id derivation                 <= 1.05 x libsodium's crypto_pwhash alone
# Not part of the test run: timings belong here, and on a shared machine they vary from run to
# run (RUNS=N sets hyperfine's runs, default 7).
#
#   bench/compare.sh [SIZE_MB]     (default 100)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
size_mb=${1:-100}

"$root/scripts/install-deps.sh"
extra=()
for p in hyperfine libssl-dev age; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || extra+=("$p")
done
if [ ${#extra[@]} -gt 0 ]; then
  sudo=(); [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -q && "${sudo[@]}" apt-get install -y -q --no-install-recommends "${extra[@]}"
fi

(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release --target quillix-crypt pbkdf2_median argon2_median >/dev/null)
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
echo "== ${size_mb} MB file: encrypt, decrypt and cat (median of hyperfine runs, ms)"
head -c "$((size_mb * 1000 * 1000))" /dev/urandom >"$work/orig.bin"
printf 'correct horse\n' >"$work/pw"
key=000102030405060708090a0b0c0d0e0f
iv=f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff
derive=$("$bin/pbkdf2_median" 20000 9)
qc=("$bin/quillix-crypt")
opts=(--password-file "$work/pw" --cipher aes --fast --no-filename-pw --max-mib 0 --passes 0 --settings "$work/none.ini")
plain="$work/plain.bin"
container="'$work/\$plain.bin'"

median() {  # hyperfine's median of one command, in ms
  hyperfine --style none --warmup 1 --runs "${RUNS:-7}" ${2:+--prepare "$2"} --export-json "$work/h.json" "$1" >/dev/null
  awk -F: '/"median"/ { gsub(/[ ,]/, "", $2); printf "%.1f", $2 * 1000; exit }' "$work/h.json"
}
net() { awk -v a="$1" -v d="$derive" 'BEGIN { printf "%.1f", a - d }'; }

# Each run starts from the same files: neither operation replaces a file that is there already.
cp "$work/orig.bin" "$plain" && "${qc[@]}" encrypt "${opts[@]}" "$plain"
cp "$work/\$plain.bin" "$work/sealed.bin"
enc_ours=$(median "${qc[*]} encrypt ${opts[*]} $plain" "rm -f $container; cp $work/orig.bin $plain")
dec_ours=$(median "${qc[*]} decrypt ${opts[*]} $container" "rm -f $plain; cp $work/sealed.bin $container")
cat_ours=$(median "${qc[*]} cat ${opts[*]} $container > /dev/null" "rm -f $plain; cp $work/sealed.bin $container")
enc_openssl=$(median "openssl enc -aes-128-ctr -K $key -iv $iv -in $work/orig.bin -out $work/o.enc")
dec_openssl=$(median "openssl enc -d -aes-128-ctr -K $key -iv $iv -in $work/o.enc -out $work/o.dec")
cat_openssl=$(median "openssl enc -d -aes-128-ctr -K $key -iv $iv -in $work/o.enc -out /dev/null")
hmac_openssl=$(median "openssl dgst -sha256 -hmac $key -out /dev/null $work/sealed.bin")
cat_bar=$(awk -v a="$hmac_openssl" -v b="$cat_openssl" 'BEGIN { printf "%.1f", a + b }')

echo "derivation subtracted: $derive"
echo "encrypt: quillix $(net "$enc_ours") (raw $enc_ours)   openssl enc $enc_openssl"
echo "decrypt: quillix $(net "$dec_ours") (raw $dec_ours)   openssl enc -d $dec_openssl"
echo "cat:     quillix $(net "$cat_ours") (raw $cat_ours)   HMAC-SHA-256 $hmac_openssl + openssl enc -d $cat_openssl = $cat_bar"
echo "encrypt ours/openssl enc         $(ratio "$(net "$enc_ours")" "$enc_openssl")   (target <= 1.20)"
echo "decrypt ours/openssl enc -d      $(ratio "$(net "$dec_ours")" "$dec_openssl")   (target <= 1.20)"
echo "cat     ours/(HMAC + enc -d)     $(ratio "$(net "$cat_ours")" "$cat_bar")   (target <= 1.20)"

echo
echo "== strong format against age $(age --version): cost per byte = ${size_mb} MB file - 1-byte file (medians, ms)"
age-keygen -o "$work/age.key" 2>/dev/null
recipient=$(age-keygen -y "$work/age.key")
sopts=(--password-file "$work/pw" --cipher strong --passes 0 --settings "$work/none.ini")
mkdir -p "$work/s"
head -c 1 /dev/urandom >"$work/one.bin"
strong_enc=() strong_dec=() strong_cat=() age_enc=() age_dec=() age_cat=()
for source in one orig; do
  splain="$work/s/$source.bin"
  scontainer="'$work/s/\$$source.bin'"
  cp "$work/$source.bin" "$splain" && "${qc[@]}" encrypt "${sopts[@]}" "$splain"
  cp "$work/s/\$$source.bin" "$work/s/$source.sealed"
  strong_enc+=("$(median "${qc[*]} encrypt ${sopts[*]} $splain" "rm -f $scontainer; cp $work/$source.bin $splain")")
  strong_dec+=("$(median "${qc[*]} decrypt ${sopts[*]} $scontainer" "rm -f $splain; cp $work/s/$source.sealed $scontainer")")
  strong_cat+=("$(median "${qc[*]} cat ${sopts[*]} $scontainer > /dev/null" "rm -f $splain; cp $work/s/$source.sealed $scontainer")")
  age -r "$recipient" -o "$work/$source.age" "$work/$source.bin"
  age_enc+=("$(median "age -r $recipient -o $work/a.age $work/$source.bin && sync $work/a.age" "rm -f $work/a.age")")
  age_dec+=("$(median "age -d -i $work/age.key -o $work/a.out $work/$source.age && sync $work/a.out" "rm -f $work/a.out")")
  age_cat+=("$(median "age -d -i $work/age.key $work/$source.age > /dev/null")")
done
per_byte() { awk -v big="$2" -v one="$1" 'BEGIN { printf "%.1f", big - one }'; }
row() {  # name, ours (1 byte, big), age (1 byte, big), target
  local ours theirs
  ours=$(per_byte "$2" "$3") theirs=$(per_byte "$4" "$5")
  printf '%-8s quillix %s - %s = %s   age %s - %s = %s   ratio %s   (target <= %s)\n' \
    "$1" "$3" "$2" "$ours" "$5" "$4" "$theirs" "$(ratio "$ours" "$theirs")" "$6"
}
row encrypt "${strong_enc[@]}" "${age_enc[@]}" 1.20
row decrypt "${strong_dec[@]}" "${age_dec[@]}" 1.20
row cat "${strong_cat[@]}" "${age_cat[@]}" 1.10

echo
echo "== one Argon2id derivation, 3 passes, 64 MiB (the two take turns; median of 9, ms)"
read -r derive_ours derive_sodium < <("$bin/argon2_median" 9)
echo "quillix $derive_ours   libsodium crypto_pwhash $derive_sodium"
echo "ours/crypto_pwhash $(ratio "$derive_ours" "$derive_sodium")   (target <= 1.05)"
