#!/usr/bin/env bash
# A user swaps the folder of a detected file for a link between detection and
# removal (the test build waits at that point for this script): the program
# must neither delete nor repair the file the link leads to.
#   link_swap_test.sh WINE_RUN TESMORA_EXE FIXTURE_EXE
set -u
wine_run="$(realpath "$1")"; exe="$(realpath "$2")"; fixture="$(realpath "$3")"
work="$(mktemp -d "${TMPDIR:-/tmp}/tesmora-swap.XXXXXX")"
trap 'kill $scan 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
win() { printf 'Z:%s' "$1" | tr / '\\'; }

mkdir -p "$work/drive/sober" "$work/drive/stanit" "$work/victims/sober" "$work/victims/stanit"
bash "$wine_run" -- "$fixture" "$(win "$work/drive/sober/sample.exe")" --builtin 0 >/dev/null 2>&1 &&
  bash "$wine_run" -- "$fixture" "$(win "$work/drive/stanit/sample.exe")" --builtin 3 >/dev/null 2>&1 ||
  { echo "FAIL: fixtures not written"; exit 1; }
# The victims: what the links lead to. The Stanit one is infected too, so a
# repair that followed the link would change it.
echo "a file the user keeps" >"$work/victims/sober/sample.exe"
cp "$work/drive/stanit/sample.exe" "$work/victims/stanit/sample.exe"
sums="$(cd "$work/victims" && sha256sum sober/sample.exe stanit/sample.exe)"

export TESMORA_TEST_ADMINISTRATOR=1 TESMORA_TEST_HANDSHAKE="$(win "$work/handshake")"
(cd "$work" && timeout 300 bash "$wine_run" --display --version winxp --drive "D=$work/drive" -- \
  "$exe" /SILENT /LOG swap.log D: >/dev/null 2>&1; echo $? >"$work/rc") &
scan=$!
swapped=0
while kill -0 "$scan" 2>/dev/null; do
  if [ -f "$work/handshake.ready" ]; then
    path="$(cat "$work/handshake.ready")"
    folder="$(printf '%s' "$path" | sed -E 's/^D:\\([a-z]+)\\.*/\1/')"
    mv "$work/drive/$folder" "$work/drive/$folder.scanned" && ln -s "$work/victims/$folder" "$work/drive/$folder" &&
      swapped=$((swapped + 1))
    rm -f "$work/handshake.ready"
    touch "$work/handshake.go"
  fi
  sleep 0.1
done
wait "$scan"
[ "$(cat "$work/rc" 2>/dev/null)" = 1 ] || fail "exit code $(cat "$work/rc" 2>/dev/null), expected 1 (malware found)"
[ "$swapped" -eq 2 ] || fail "$swapped folders swapped, expected 2"
[ "$(cd "$work/victims" && sha256sum sober/sample.exe stanit/sample.exe)" = "$sums" ] ||
  fail "a file behind a link was changed or removed"
log="$(iconv -f UTF-16LE -t UTF-8 "$work/swap.log" 2>/dev/null | tr -d '\r')"
grep -qx 'removing executable ...done' <<<"$log" && fail "a removal was reported done"
grep -qx $'repaired/removed files:\t\t0' <<<"$log" || fail "files counted as removed"
grep -qx 'attempting to repair executable ...failed to open' <<<"$log" || fail "no refused repair in the log"
[ -f "$work/drive/sober.scanned/sample.exe" ] || fail "the scanned sample went missing"
if [ "$failures" -ne 0 ]; then printf '%s\n' "$log"; exit 1; fi
echo "link swap: both removals refused, victims unchanged"
