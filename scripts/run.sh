#!/usr/bin/env bash
# Sets up the machine, builds the analyst tool and the Windows program (x86_64
# and i686), checks the script the program carries, and runs a demo: silent
# scans under Wine of a drive holding harmless synthetic samples (one per
# built-in remover and per script family), by the 64-bit program as Windows XP
# shows it and by the 32-bit program as Windows 98 shows it (Wine's 32-bit
# half), then prints the logs and the exit codes.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh release tesmora-sig
bash scripts/build.sh mingw64 tesmora tesmora_fixture_win >/dev/null
bash scripts/build.sh mingw32 tesmora tesmora_unicows_test >/dev/null
echo "Windows program: build/mingw64/src/tesmora.exe (x86_64), build/mingw32/src/tesmora.exe (i686)"
echo
echo "== The carried script, as the program parses it:"
build/release/src/tesmora-sig check

demo="$(mktemp -d "${TMPDIR:-/tmp}/tesmora-demo.XXXXXX")"
trap 'rm -rf "$demo"' EXIT
# Wine prefixes are made once and copied for each run.
export TESMORA_WINE_TEMPLATE="$demo/wine-templates"
mkdir -p "$demo/drive/Program Files/Tools" "$demo/drive/WINDOWS"
fixture="build/mingw64/tests/tesmora_fixture_win.exe"
wine_run="tests/support/wine_run.sh"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
# Every sample in one Wine run: the fixture writer takes one file per call.
{
  for n in 0 1 2 3; do
    echo "\"$(winpath "$demo/drive/WINDOWS/builtin$n.exe")\" --builtin $n"
  done
  i=0
  iconv -f UTF-16LE -t UTF-8 resources/embedded_script.txt | grep -a -o -E 'SIGNATURE_FILE[[:space:]]+[0-9A-Fa-f]+' |
    awk '{print $2}' | while read -r hex; do
      i=$((i + 1))
      echo "\"$(winpath "$demo/drive/Program Files/Tools/sample$i.exe")\" --plant $hex"
    done
} >"$demo/samples.txt"
while read -r line; do
  eval "bash $wine_run -- $fixture $line" >/dev/null 2>&1
done <"$demo/samples.txt"
echo
echo "== Demo drive D: (harmless synthetic samples):"
(cd "$demo/drive" && find . -type f | sort)
echo
echo "== The same drive, detection only, with the analyst tool:"
build/release/src/tesmora-sig scan "$demo/drive" || true

cp -a "$demo/drive" "$demo/drive32"
# On Windows 98 the 32-bit program needs unicows.dll beside it; the demo uses
# the project's test stand-in (it forwards to Wine's own wide functions).
mkdir -p "$demo/bin32"
cp build/mingw32/src/tesmora.exe build/mingw32/tests/unicows.dll "$demo/bin32/"

# demo_scan TITLE VERSION EXE DRIVE LOG
demo_scan() {
  echo
  echo "== $1"
  set +e
  (cd "$demo" && timeout 600 bash "$root/$wine_run" --display --version "$2" \
    --drive "D=$4" -- "$3" /SILENT /LOG "$5" D:)
  local rc=$?
  set -e
  if [ -f "$demo/$5" ]; then iconv -f UTF-16LE -t UTF-8 "$demo/$5"; fi
  echo
  echo "exit code: $rc (Wine passes on its low byte: 1 = malware found and removed)"
  echo "== What is left on the drive:"
  (cd "$4" && find . -type f | sort)
}
demo_scan "64-bit tesmora.exe /SILENT /LOG demo.log D: under Wine, shown Windows XP" \
  winxp "$root/build/mingw64/src/tesmora.exe" "$demo/drive" demo.log
demo_scan "32-bit tesmora.exe /SILENT /LOG demo32.log D: under Wine's 32-bit half, shown Windows 98" \
  win98 "$demo/bin32/tesmora.exe" "$demo/drive32" demo32.log
