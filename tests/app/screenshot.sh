#!/usr/bin/env bash
# A windowed run under Wine on a private display: tesmora.exe started with a
# drive letter scans at once; the driver checks the buttons and the layout
# once the scan has ended, saves the window and presses Exit. The screen has
# DPI dots per inch (96 unless given). Writes OUT.png (not committed).
#   screenshot.sh WINE_RUN TESMORA_EXE DRIVER_EXE OUT.png [DPI]
set -u
wine_run="$(realpath "$1")"; exe="$(realpath "$2")"; driver="$(realpath "$3")"; out="$(realpath -m "$4")"
dpi="${5:-96}"
work="$(mktemp -d "${TMPDIR:-/tmp}/tesmora-shot.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir "$work/drive"
win() { printf 'Z:%s' "$1" | tr / '\\'; }
cd "$work" || exit 1
TESMORA_TEST_ADMINISTRATOR="${TESMORA_TEST_ADMINISTRATOR:-1}" timeout 300 bash "$wine_run" --display --version winxp \
  --dpi "$dpi" --drive "D=$work/drive" -- "$driver" "$(win "$work/shot.bmp")" "$(win "$exe")" /NOLOG D: | tee "$work/driver.txt"
rc=${PIPESTATUS[0]}
grep -q '^exit code: 0' "$work/driver.txt" || { echo "FAIL: unexpected exit code"; rc=1; }
grep -qE "^dpi: $dpi"$'\r''?$' "$work/driver.txt" || { echo "FAIL: the screen does not have $dpi dpi"; rc=1; }
grep -q '^layout: [1-9][0-9]* controls, 0 faults' "$work/driver.txt" || { echo "FAIL: the dialog's layout"; rc=1; }
mkdir -p "$(dirname "$out")"
[ -s "$work/shot.bmp" ] && convert "$work/shot.bmp" "$out" && echo "screenshot: $out"
exit "$rc"
