#!/bin/bash
# MD5 speed of the bootstrap against OpenSSL on this machine: builds
# md5_bench in the x86_64 tree, runs it under wine64 in its own Wine session,
# and prints each figure next to its OpenSSL anchor and the ratio.
#   KAVO_BUILD_DIR   build tree (default: build/); uses its x86_64/ part
#   KAVO_BENCH_RUNS  best of how many runs (default 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVO_BUILD_DIR:-$root/build}
runs=${KAVO_BENCH_RUNS:-5}
file_size=39319604  # the product's archive

cmake -S "$root" -B "$build/x86_64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake" >/dev/null
cmake --build "$build/x86_64" --target md5_bench -j "$(nproc)" >/dev/null

data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
file=$data/archive.bin
head -c "$file_size" /dev/urandom >"$file"

source "$root/tools/wine-session.sh"
wine_session_start "$build/x86_64/wineprefix"
trap 'wine_session_stop; rm -rf "$data"' EXIT
# Wine's Z: drive is the Unix root.
windows_file="Z:${file//\//\\}"
out=$("$WINE64" "$build/x86_64/bin/md5_bench.exe" "$windows_file" "$runs" </dev/null 2>/dev/null | tr -d '\r')
wine_session_stop
trap 'rm -rf "$data"' EXIT

value() { sed -n "s/^$1=//p" <<<"$out"; }

# OpenSSL's own speed test: 16 KiB blocks, its figure in 1000s of bytes per second.
openssl_speed=$(openssl speed -evp md5 -bytes 16384 2>/dev/null | awk '$1 == "md5" { sub(/k$/, "", $2); print $2 / 1000 }')

# openssl dgst on the same file, process start included; best of the runs.
best_dgst=
for _ in $(seq 1 "$runs"); do
  start=$(date +%s%N)
  openssl_digest=$(openssl dgst -md5 -r "$file" | cut -d' ' -f1)
  end=$(date +%s%N)
  t=$(( end - start ))
  if [[ -z $best_dgst || $t -lt $best_dgst ]]; then best_dgst=$t; fi
done
openssl_file=$(awk -v b="$file_size" -v ns="$best_dgst" 'BEGIN { printf "%.1f", b / (ns / 1e9) / 1e6 }')

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "MD5, MB = 10^6 bytes, best of $runs runs"
printf '%-44s %10s MB/s   anchor %10s MB/s  (openssl speed -evp md5 -bytes 16384)   ratio %s\n' \
  "Md5Digest::Update, 256 MiB in memory:" "$(value update_mb_per_s)" "$openssl_speed" \
  "$(ratio "$(value update_mb_per_s)" "$openssl_speed")"
printf '%-44s %10s TSC cycles/byte\n' "Md5Digest::Update, cycles:" "$(value update_tsc_cycles_per_byte)"
printf '%-44s %10s MB/s   anchor %10s MB/s  (openssl dgst -md5 of the same file)   ratio %s\n' \
  "Md5HexOfFile, $file_size bytes:" "$(value file_mb_per_s)" "$openssl_file" \
  "$(ratio "$(value file_mb_per_s)" "$openssl_file")"
printf '%-44s %10s MB/s\n' "  1024-byte freads, default stream buffer:" "$(value file_default_buffer_mb_per_s)"
printf '%-44s %10s MB/s\n' "  1024-byte freads, 64 KiB stream buffer:" "$(value file_64k_buffer_mb_per_s)"
if [[ $(value file_digest) == "$openssl_digest" && $(value buffer_variants_agree) == 1 ]]; then
  echo "digests agree with openssl dgst: $openssl_digest"
else
  echo "DIGESTS DIFFER: md5_bench $(value file_digest), openssl $openssl_digest" >&2
  exit 1
fi
