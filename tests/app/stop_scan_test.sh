#!/usr/bin/env bash
# Stop and Exit pressed while a windowed scan runs (drive D: holds a few
# thousand executables so that the scan lasts): the scan ends with "Scan
# aborted by user" in the log, the buttons return to idle after Stop, and
# Exit during the scan ends the program with -8.
#   stop_scan_test.sh WINE_RUN TESMORA_EXE DRIVER_EXE
set -u
wine_run="$(realpath "$1")"; exe="$(realpath "$2")"; driver="$(realpath "$3")"
work="$(mktemp -d "${TMPDIR:-/tmp}/tesmora-stop.XXXXXX")"
trap 'rm -rf "$work"' EXIT
wine_pe=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
[ -d "$wine_pe" ] || { echo "no Wine executables to scan"; exit 77; }
for n in 1 2 3 4; do cp -al "$wine_pe" "$work/drive$n" 2>/dev/null || cp -a "$wine_pe" "$work/drive$n"; done
mkdir "$work/drive" && mv "$work"/drive[1-4] "$work/drive/"
win() { printf 'Z:%s' "$1" | tr / '\\'; }
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
export TESMORA_TEST_ADMINISTRATOR=1

for button in --stop --exit; do
  rm -f run.log
  timeout 400 bash "$wine_run" --display --version winxp --drive "D=$work/drive" -- \
    "$driver" "$button" "$(win "$exe")" /LOG "$(win "$work/run.log")" D: >driver.txt 2>&1
  cat driver.txt
  grep -q '^after click: start=0 stop=0 exit=0' driver.txt || fail "$button: buttons not all disabled right after the click"
  if [ "$button" = --stop ]; then
    grep -q '^idle: 1' driver.txt || fail "--stop: the window did not return to idle"
  else
    grep -q '^exit code: -8' driver.txt || fail "--exit: exit code is not -8"
  fi
  if [ -f run.log ]; then
    iconv -f UTF-16LE -t UTF-8 run.log | grep -qF "Scan aborted by user" || fail "$button: log lacks the abort text"
  else
    fail "$button: no log written"
  fi
done
[ "$failures" -eq 0 ] && echo "stop and exit during a scan: all checks passed"
exit $((failures != 0))
