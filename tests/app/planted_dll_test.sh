#!/usr/bin/env bash
# Libraries planted beside the program under the names of the system
# libraries it uses are never loaded. Wine prefers its built-in libraries;
# "native,builtin" for those names makes it search the program's folder
# first, as Windows does.
#   planted_dll_test.sh WINE_RUN TESMORA_EXE TESMORA_TESTHOOKS_EXE PLANTED_DLL
set -u
wine_run="$(realpath "$1")"; exe="$(realpath "$2")"; hooks="$(realpath "$3")"; planted="$(realpath "$4")"
work="$(mktemp -d "${TMPDIR:-/tmp}/tesmora-planted.XXXXXX")"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# version.dll is left out: Wine's own user32 imports it, so Wine would load a
# planted one for any program (the import audit shows that ours does not).
names=(riched20 netapi32 psapi ws2_32 usp10 ole32)
overrides="$(IFS=,; echo "${names[*]}")=n,b"

# plant DIR PROGRAM: the program in DIR with every planted library beside it.
plant() {
  mkdir -p "$1" && cp "$2" "$1/" || return 1
  for n in "${names[@]}"; do cp "$planted" "$1/$n.dll"; done
  # The 32-bit test programs reach their wide functions through this stand-in.
  if [ -f "$(dirname "$hooks")/unicows.dll" ]; then cp "$(dirname "$hooks")/unicows.dll" "$1/"; fi
}
win() { printf 'Z:%s' "$1" | tr / '\\'; }
export TESMORA_PLANTED_LOG; TESMORA_PLANTED_LOG="$(win "$work/loaded.txt")"
export TESMORA_EXTRA_DLL_OVERRIDES="$overrides"

# The shipped program as NT 4.0 asks the account database (netapi32) whether
# its user is an administrator; Wine's user is a guest there.
plant "$work/shipped" "$exe" || fail "no copy"
(cd "$work/shipped" && timeout 300 bash "$wine_run" --display --version nt40 --drive D=@empty -- \
  "$work/shipped/$(basename "$exe")" /SILENT /LOG shipped.log D: >/dev/null 2>&1)
[ -s "$work/shipped/shipped.log" ] || fail "the shipped program wrote no log"
# The test build scans: the version resource, rich edit, host name, PSAPI.
mkdir -p "$work/drive"
plant "$work/hooks" "$hooks" || fail "no copy"
(cd "$work/hooks" && TESMORA_TEST_ADMINISTRATOR=1 timeout 300 bash "$wine_run" --display --version nt40 \
  --drive "D=$work/drive" -- "$work/hooks/$(basename "$hooks")" /SILENT /LOG scan.log D: >/dev/null 2>&1)
rc=$?
[ "$rc" -eq 0 ] || fail "the scan ended with $rc, expected 0"
iconv -f UTF-16LE -t UTF-8 "$work/hooks/scan.log" 2>/dev/null | grep -q '^Version: 3\.0\.1\.16, ' ||
  fail "the log lacks the version line"
if [ -s "$work/loaded.txt" ]; then fail "planted libraries were loaded:"; cat "$work/loaded.txt"; fi
[ "$failures" -eq 0 ] || exit 1
echo "planted libraries: none loaded (${names[*]})"
