#!/bin/bash
# The benchmark command: every figure of the performance targets from one
# run on this machine, each beside its anchor and the ratio.
#   bash benchmarks/run.sh
#   KAVO_BUILD_DIR   build tree (default: build/); uses its i686/ and x86_64/
#   KAVO_BENCH_RUNS  runs per figure (default 11; end to end takes the median
#                    of at least 7)
# 1. MD5: benchmarks/run-md5-bench.sh (best of the runs).
# 2. End to end: the x86_64 twin of the installer (the shipped objects) on a
#    39,319,604-byte incompressible archive with a setup program (instant_setup) that
#    exits at once; median of the runs. Baseline, measured in the same run:
#    the median start of a trivial Win32 program in the same Wine prefix plus
#    the median of `cp` of the archive and `openssl dgst -md5` of the copy,
#    natively, on the same file system.
# 3. Size: the i686 stub without payload, and without its .rsrc section.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVO_BUILD_DIR:-$root/build}
runs=${KAVO_BENCH_RUNS:-11}
jobs=$(nproc)
if ((runs < 7)); then runs=7; fi

bash "$root/tools/install-deps.sh"
cmake -S "$root" -B "$build/i686" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686.cmake" >/dev/null
cmake --build "$build/i686" -j "$jobs" --target kavo_stub >/dev/null
cmake -S "$root" -B "$build/x86_64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake" >/dev/null
cmake --build "$build/x86_64" -j "$jobs" \
  --target md5_bench bench_installer bench_trivial bench_trivial_user32 bench_instant_setup run_timed >/dev/null

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
median() { tr ' ' '\n' | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
echo "Machine: $(nproc) CPUs, $cpu, $(/usr/lib/wine/wine64 --version)"
echo

# 1. MD5
KAVO_BUILD_DIR=$build KAVO_BENCH_RUNS=$runs bash "$root/benchmarks/run-md5-bench.sh" | tee "$build/bench-md5.txt"
echo

# 2. End to end
installer=$build/x86_64/bin/bench_installer.exe
trivial=$build/x86_64/bin/bench_trivial.exe
archive=$build/x86_64/benchmarks/bench_archive.7z
archive_size=$(stat -c %s "$archive")

source "$root/tools/wine-session.sh"
wine_session_start "$build/x86_64/wineprefix"
bench=$WINEPREFIX/drive_c/kavo_bench
trap 'wine_session_stop; rm -rf "$bench"' EXIT
rm -rf "$bench"
mkdir -p "$bench/temp" "$bench/copy"
winpath() { echo "Z:${1//\//\\}"; }

cat "$archive" "$installer" >/dev/null  # both in the page cache
bin=$build/x86_64/bin
q() { echo "\"$(winpath "$1")\""; }
# The first two are the figure and its floor; the others show where the
# installer's time goes (its start and sweep alone, the setup program alone,
# the share of a start that user32 costs under Wine).
timed=$("$WINE64" "$bin/run_timed.exe" "$runs" "$(winpath "$bench/temp")" "$(winpath "$bench/setup-record.txt")" \
  installer "$(q "$installer")" trivial "$(q "$trivial")" \
  installer_cleanup_only "$(q "$installer") --cleanup" setup "$(q "$bin/bench_instant_setup.exe")" \
  trivial_user32 "$(q "$bin/bench_trivial_user32.exe")" \
  </dev/null 2>&1 | tr -d '\r') || { echo "$timed" >&2; echo "end-to-end runs failed" >&2; exit 1; }
value() { sed -n "s/^$1=//p" <<<"$timed"; }
# Each installer run (warm-up included) started setup once, and left no
# work directory behind.
if [[ $(value setup_starts) != $(( (runs + 1) * 2 )) || $(value work_directories_left) != 0 ]]; then
  echo "$timed" >&2; echo "the installer runs did not all start setup and clean up" >&2; exit 1
fi

native=()
expected=$(openssl dgst -md5 -r "$archive" | cut -d' ' -f1)
for _ in $(seq 0 "$runs"); do
  rm -f "$bench/copy/archive"
  sync -f "$bench/copy" 2>/dev/null || true
  start=$(date +%s%N)
  cp "$archive" "$bench/copy/archive"
  digest=$(openssl dgst -md5 -r "$bench/copy/archive" | cut -d' ' -f1)
  end=$(date +%s%N)
  [[ $digest == "$expected" ]] || { echo "openssl digest of the copy differs" >&2; exit 1; }
  native+=("$(awk -v ns=$((end - start)) 'BEGIN { printf "%.1f", ns / 1e6 }')")
done
native=("${native[@]:1}")  # the first run warms up, as in run_timed
native_median=$(echo "${native[*]}" | median)
trivial_median=$(value trivial_median_ms)
installer_median=$(value installer_median_ms)
baseline=$(awk -v a="$trivial_median" -v b="$native_median" 'BEGIN { printf "%.1f", a + b }')
wine_session_stop
trap 'rm -rf "$bench"' EXIT

echo "End to end, $archive_size-byte archive, median of $runs runs (ms)"
echo "  installer runs:              $(value installer_ms)"
echo "  trivial program runs:        $(value trivial_ms)"
echo "  cp + openssl dgst -md5 runs: $(IFS=,; echo "${native[*]}")"
printf '%-44s %10s ms     anchor %10s ms    (trivial start %s + cp and openssl dgst %s)   ratio %s\n' \
  "Installer, setup exiting at once:" "$installer_median" "$baseline" \
  "$trivial_median" "$native_median" "$(ratio "$installer_median" "$baseline")"
echo "  where the time goes (medians, ms): installer start and sweep only (--cleanup)" \
  "$(value installer_cleanup_only_median_ms), setup alone $(value setup_median_ms)," \
  "trivial program importing user32 $(value trivial_user32_median_ms)"
echo

# 3. Size
stub=$build/i686/bin/kavo_stub.exe
stub_size=$(stat -c %s "$stub")
# The .rsrc section's size in the file: its raw size, from the section table.
rsrc_raw=$(i686-w64-mingw32-objdump -h "$stub" | awk '$2 == ".rsrc" { print $3 }')
alignment=$(i686-w64-mingw32-objdump -p "$stub" | awk '$1 == "FileAlignment" { print $2 }')
rsrc_file=$(( (0x$rsrc_raw + 0x$alignment - 1) / 0x$alignment * 0x$alignment ))
without=$((stub_size - rsrc_file))
echo "Size of the i686 stub without payload (bytes)"
printf '%-44s %10s bytes\n' "kavo_stub.exe:" "$stub_size"
printf '%-44s %10s bytes  anchor %10s bytes (32 KiB)   ratio %s\n' \
  "kavo_stub.exe without .rsrc:" "$without" 32768 "$(ratio "$without" 32768)"
printf '%-44s %s\n' "  flags:" "$(i686-w64-mingw32-objdump -p "$stub" | awk '/^DllCharacteristics/ { f = 1; next } f && /^\t\t\t/ { printf "%s ", $1; next } { f = 0 }')"

# The same figures as a Markdown table, for the README.
md5_line() { sed -n "s/^$1 *\([0-9.]*\) MB\/s *anchor *\([0-9.]*\) MB\/s.*ratio \([0-9.]*\)$/\1|\2|\3/p" "$build/bench-md5.txt"; }
IFS='|' read -r update_mb update_anchor update_ratio <<<"$(md5_line 'Md5Digest::Update, 256 MiB in memory:')"
IFS='|' read -r file_mb file_anchor file_ratio <<<"$(md5_line "Md5HexOfFile, $archive_size bytes:")"
cycles=$(sed -n 's/^Md5Digest::Update, cycles: *\([0-9.]*\).*/\1/p' "$build/bench-md5.txt")
echo
echo "| Figure | Measured | Anchor | Ratio | Target |"
echo "|---|---|---|---|---|"
echo "| MD5 \`Md5Digest::Update\`, 256 MiB in memory | $update_mb MB/s ($cycles cycles/byte) | $update_anchor MB/s (openssl speed -evp md5 -bytes 16384) | $update_ratio | ≥ 1.00 |"
echo "| MD5 \`Md5HexOfFile\`, $archive_size-byte file in the page cache | $file_mb MB/s | $file_anchor MB/s (openssl dgst -md5) | $file_ratio | ≥ 1.00 |"
echo "| End to end, installer with a setup that exits at once, median of $runs | $installer_median ms | $baseline ms (trivial program $trivial_median + cp and openssl dgst $native_median) | $(ratio "$installer_median" "$baseline") | ≤ 1.5 |"
echo "| i686 stub without payload | $stub_size bytes | | | |"
echo "| i686 stub without .rsrc | $without bytes | 32768 bytes | $(ratio "$without" 32768) | ≤ 1.00 |"
echo
echo "Machine: $(nproc) CPUs, $cpu, $(/usr/lib/wine/wine64 --version)"
