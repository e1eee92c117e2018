#!/usr/bin/env bash
# deploy/tesmora-run.cmd under Wine's own cmd.exe, with the test-hooks build
# beside it as tesmora.exe: a clean drive (exit 0, "clean 0"), a planted sample
# (exit 1, "found 1", the sample gone) and a run that is refused for want of
# administrator rights (exit 2, "error -2"). Each run leaves COMPUTER.log, the
# JSON report COMPUTER.json and the line COMPUTER.txt in the folder given, or
# in %TEMP% when none is.
#   deploy_test.sh WINE_RUN TESMORA_EXE FIXTURE_EXE CMD_EXE
set -u
wine_run="$(realpath "$1")"; exe="$(realpath "$2")"; fixture="$(realpath "$3")"; cmd="$4"
batch="$(dirname "$(realpath "$0")")/../../deploy/tesmora-run.cmd"
top="$(mktemp -d "${TMPDIR:-/tmp}/tesmora-deploy.XXXXXX")"
trap 'rm -rf "$top"' EXIT
failures=0
fail() { echo "FAIL [$case]: $*"; failures=$((failures + 1)); }
win() { printf 'Z:%s' "$1" | tr / '\\'; }
text() { iconv -f UTF-16LE -t UTF-8 "$1"; }
case=batch

# Real cmd.exe needs CRLF line ends for its labels; git checks the file out so.
[ "$(grep -c $'\r$' "$batch")" -eq "$(wc -l <"$batch")" ] || fail "tesmora-run.cmd has lines without CRLF"

mkdir "$top/tool" "$top/clean" "$top/infected" "$top/temp"
cp "$batch" "$top/tool/tesmora-run.cmd" && cp "$exe" "$top/tool/tesmora.exe" || exit 1
[ ! -f "$(dirname "$exe")/unicows.dll" ] || cp "$(dirname "$exe")/unicows.dll" "$top/tool/"

# run NAME EXPECTED_RC EXPECTED_WORD EXPECTED_CODE DRIVE_DIR OUT_DIR OUT_ARG [ENV...]:
# the batch file with OUT_ARG (a Windows path, or "" for %TEMP%, which is
# linked to $top/temp) and drive D:; checks its exit code, the line it
# prints and the files it leaves in OUT_DIR.
run() {
  case="$1"; local expected="$2" word="$3" code="$4" drive="$5" out="$6" arg="$7"; shift 7
  log=""
  local temp=()
  [ -n "$arg" ] || temp=(--link "drive_c/users/$(id -un)/Temp=$top/temp")
  (cd "$top" && env TESMORA_TEST_ADMINISTRATOR=1 "$@" timeout 300 bash "$wine_run" --display \
    --drive "D=$drive" "${temp[@]}" -- "$cmd" /c "$(win "$top/tool/tesmora-run.cmd")" "$arg" D: \
    >"$top/$case.out" 2>"$top/$case.err")
  local rc=$?
  [ "$rc" -eq "$expected" ] || fail "exit code $rc, expected $expected; printed: $(cat "$top/$case.out" "$top/$case.err")"
  local lines name
  lines=$(find "$out" -maxdepth 1 -name '*.txt' | wc -l)
  [ "$lines" -eq 1 ] || { fail "$lines result lines in $out, expected 1"; return; }
  name="$(basename "$(find "$out" -maxdepth 1 -name '*.txt')" .txt)"
  case "$name" in ''|*%*) fail "the computer name was not expanded: '$name'"; return ;; esac
  [ "$(tr -d '\r' <"$out/$name.txt")" = "$name $word $code" ] || fail "$name.txt: $(cat "$out/$name.txt"), expected '$name $word $code'"
  tr -d '\r' <"$top/$case.out" | grep -qxF "$name $word $code" || fail "printed: $(cat "$top/$case.out"), expected '$name $word $code'"
  [ -f "$out/$name.log" ] || fail "no log $name.log in $out"
  [ -f "$out/$name.json" ] && python3 -m json.tool "$out/$name.json" >/dev/null ||
    fail "no valid JSON report $name.json in $out"
  log="$out/$name.log"
}

# (a) A clean drive, the output folder given as the batch file's argument.
mkdir "$top/share"
run clean 0 clean 0 "$top/clean" "$top/share" "$(win "$top/share")"
[ -f "$log" ] && { text "$log" | grep -qF "Scanning drive D: ..." || fail "the log does not show the scan of D:"; }

# (b) A planted sample; the output folder does not exist yet and is given with
# a trailing backslash.
timeout 120 bash "$wine_run" -- "$fixture" "$(win "$top/infected/sample.exe")" --builtin 0 >/dev/null 2>&1
if [ -f "$top/infected/sample.exe" ]; then
  run found 1 found 1 "$top/infected" "$top/share2/found" "$(win "$top/share2/found")\\"
  [ ! -e "$top/infected/sample.exe" ] || fail "the sample is still on the drive"
else
  case=found; fail "fixture not written"
fi

# (c) Refused for want of administrator rights (exit code -2), the output in %TEMP%.
run error 2 error -2 "$top/clean" "$top/temp" "" TESMORA_TEST_ADMINISTRATOR=0
[ -f "$log" ] && { text "$log" | grep -qF "Administrator rights are required" || fail "the log lacks the refusal"; }

[ "$failures" -eq 0 ] && echo "every deployment run passed"
exit $((failures != 0))
