#!/bin/bash
# The main job: builds the installer on the embedded demo payload (both
# toolchains), runs the x86_64 twin under Wine and shows what happened.
#   bash tools/run-demo.sh            a typical run
#   bash tools/run-demo.sh --corrupt  a damaged download: notice, download page, 104
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVO_BUILD_DIR:-$root/build}
mode=${1:-typical}
jobs=$(nproc)
# Wine turns the command line and the registry output to and from UTF-8.
export LC_ALL=C.UTF-8

bash "$root/tools/install-deps.sh"

cmake -S "$root" -B "$build/i686" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686.cmake" >/dev/null
cmake --build "$build/i686" -j "$jobs" --target KavoOrvaneSetup kavo_stub >/dev/null
cmake -S "$root" -B "$build/x86_64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake" >/dev/null
cmake --build "$build/x86_64" -j "$jobs" \
  --target KavoOrvaneSetup KavoOrvaneSetupCorrupt browser_recorder window_answerer >/dev/null

shipped=$build/i686/bin/KavoOrvaneSetup.exe
echo "== Built"
echo "shipped program: $shipped"
echo "  $(file -b "$shipped")"
echo "  $(stat -c %s "$shipped") bytes; the stub without payload: $(stat -c %s "$build/i686/bin/kavo_stub.exe") bytes"
echo "  imports: $(i686-w64-mingw32-objdump -p "$shipped" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')"
echo "test twin (run here under wine64): $build/x86_64/bin/KavoOrvaneSetup.exe"

source "$root/tools/wine-session.sh"
wine_session_start "$build/demo/wineprefix"
trap wine_session_stop EXIT
trap 'exit 130' INT TERM

wine() { "$WINE64" "$@"; }
winpath() { echo "Z:${1//\//\\}"; }
temp_dir=$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/Temp
[[ -d $temp_dir ]] || temp_dir=$(find "$WINEPREFIX/drive_c/users" -maxdepth 2 -name Temp -type d | head -n1)
state_key='HKCU\Software\KavoOrvane\Update\ClientState\{5E0C1A27-3B8D-4f1a-9C6E-21D7A4B09E35}'
ap_value() {
  wine reg query "$state_key" /v ap 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p'
}
work_dirs() { find "$temp_dir" -maxdepth 1 -name 'OV_*' 2>/dev/null | sed "s|$temp_dir/||" | tr '\n' ' '; }

out=$build/demo/out
rm -rf "$out"
mkdir -p "$out"

# The updater's state as an installed updater would leave it.
wine reg delete 'HKCU\Software\KavoOrvane' /f >/dev/null 2>&1 || true
wine reg add "$state_key" /v ap /t REG_SZ /d x64-stable /f >/dev/null 2>&1

if [[ $mode == --corrupt ]]; then
  installer=$build/x86_64/bin/KavoOrvaneSetupCorrupt.exe
  # Internet Explorer is replaced by a recorder so the demo can show the
  # address it was given.
  iexplore=$WINEPREFIX/drive_c/Program\ Files/Internet\ Explorer/iexplore.exe
  mkdir -p "$(dirname "$iexplore")"
  [[ -f $iexplore.wine ]] || cp "$iexplore" "$iexplore.wine" 2>/dev/null || true
  cp "$build/x86_64/bin/browser_recorder.exe" "$iexplore"
  export KAVO_RECORD_FILE=$(winpath "$out/browser.txt")
  # The user: reads the notice on the display and answers OK.
  wine "$build/x86_64/bin/window_answerer.exe" "KavoOrvane安装程序" "$(winpath "$out/notice.txt")" \
    --timeout 60000 </dev/null >/dev/null 2>&1 &
  answerer=$!
else
  installer=$build/x86_64/bin/KavoOrvaneSetup.exe
  export KAVO_DEMO_RECORD=$(winpath "$out/setup.txt")
fi

echo
echo "== Running $(basename "$installer") --lang=de \"--profile=My Profile\" under Wine (DISPLAY=$DISPLAY)"
echo "ap before: $(ap_value)"
set +e
wine "$installer" --lang=de "--profile=My Profile" </dev/null
code=$?
set -e
echo "exit code: $code"
echo "ap after:  $(ap_value)"

if [[ $mode == --corrupt ]]; then
  wait "$answerer" || true
  for _ in $(seq 1 100); do [[ -f $out/browser.txt ]] && break; sleep 0.1; done
  echo "notice shown: $(sed -n 's/^text=//p' "$out/notice.txt" 2>/dev/null)"
  echo "download page opened with: $(cat "$out/browser.txt" 2>/dev/null || echo '(nothing)')"
  [[ -f $iexplore.wine ]] && cp "$iexplore.wine" "$iexplore"
  echo "setup started: no"
else
  echo "setup received: $(sed -n 1p "$out/setup.txt" 2>/dev/null)"
  echo "setup said:     $(sed -n 2p "$out/setup.txt" 2>/dev/null)"
fi
left=$(work_dirs)
echo "work directories left in %TEMP%: ${left:-none}"
