#!/usr/bin/env bash
# Sets up the machine, builds the analyst tool and the Windows program, checks
# the script the program carries, and runs a demo: a silent scan under Wine of
# a drive holding harmless synthetic samples (one per built-in remover and per
# script family), then prints the log and the exit code.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh release tesmora-sig
bash scripts/build.sh mingw64 tesmora tesmora_testhooks tesmora_fixture_win >/dev/null
echo "Windows program: build/mingw64/src/tesmora.exe"
echo
echo "== The carried script, as the program parses it:"
build/release/src/tesmora-sig check

demo="$(mktemp -d "${TMPDIR:-/tmp}/tesmora-demo.XXXXXX")"
trap 'rm -rf "$demo"' EXIT
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

echo
echo "== tesmora.exe /SILENT /LOG demo.log D: under Wine (as an administrator: test build"
echo "   that takes the account answer from TESMORA_TEST_ADMINISTRATOR, since Wine reports"
echo "   its user as a guest):"
set +e
(cd "$demo" && TESMORA_TEST_ADMINISTRATOR=1 timeout 600 bash "$root/$wine_run" --display --version winxp \
  --drive "D=$demo/drive" -- "$root/build/mingw64/testhooks/tesmora.exe" /SILENT /LOG demo.log D:)
rc=$?
set -e
if [ -f "$demo/demo.log" ]; then iconv -f UTF-16LE -t UTF-8 "$demo/demo.log"; fi
echo
echo "exit code: $rc (Wine passes on its low byte: 1 = malware found and removed)"
echo "== What is left on the drive:"
(cd "$demo/drive" && find . -type f | sort)
