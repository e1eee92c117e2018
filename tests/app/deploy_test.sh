#!/usr/bin/env bash
# deploy/tesmora-run.cmd under Wine's own cmd.exe, with the test-hooks build
# beside it as tesmora.exe: a clean drive (exit 0, "clean 0"), a planted sample
# (exit 1, "found 1"; left with /SCANONLY, gone without) and a run that is
# refused for want of administrator rights (exit 2, "error -2"); then
# deploy/tesmora-collect.cmd over their result lines and the rc mapping of
# deploy/tesmora.yml. Each run leaves COMPUTER.log, the
# JSON report COMPUTER.json and the line COMPUTER.txt in the folder given, or
# in %TEMP% when none is; each report is checked against the schema and its
# log.
#   deploy_test.sh WINE_RUN TESMORA_EXE FIXTURE_EXE CMD_EXE
set -u
wine_run="$(realpath "$1")"; exe="$(realpath "$2")"; fixture="$(realpath "$3")"; cmd="$4"
source="$(dirname "$(realpath "$0")")/../.."
batch="$source/deploy/tesmora-run.cmd"
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

# run NAME EXPECTED_RC EXPECTED_WORD EXPECTED_CODE DRIVE_DIR OUT_DIR OUT_ARG [ENV...] [-- OPTION...]:
# the batch file with OUT_ARG (a Windows path, or "" for %TEMP%, which is
# linked to $top/temp), the OPTIONs and drive D:; checks its exit code, the
# line it prints and the files it leaves in OUT_DIR.
run() {
  case="$1"; local expected="$2" word="$3" code="$4" drive="$5" out="$6" arg="$7"; shift 7
  log=""
  local temp=() vars=() options=()
  [ -n "$arg" ] || temp=(--link "drive_c/users/$(id -un)/Temp=$top/temp")
  while [ $# -gt 0 ] && [ "$1" != -- ]; do vars+=("$1"); shift; done
  [ $# -gt 0 ] && { shift; options=("$@"); }
  (cd "$top" && env TESMORA_TEST_ADMINISTRATOR=1 "${vars[@]}" timeout 300 bash "$wine_run" --display \
    --drive "D=$drive" "${temp[@]}" -- "$cmd" /c "$(win "$top/tool/tesmora-run.cmd")" "$arg" "${options[@]}" D: \
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
  log="$out/$name.log"
  [ -f "$out/$name.json" ] || { fail "no report $name.json in $out"; return; }
  # The report: valid against the schema, the log's counters, the same exit code.
  local checked
  checked="$(python3 "$source/tests/support/check_report.py" "$source/docs/report.schema.json" "$out/$name.json" \
    --log "$log" 2>&1)" || fail "$name.json: $checked"
  python3 -c 'import json, sys; sys.exit(json.load(open(sys.argv[1], encoding="utf-8"))["exitCode"] != int(sys.argv[2]))' \
    "$out/$name.json" "$code" || fail "$name.json does not give the exit code $code"
}

# (a) A clean drive, the output folder given as the batch file's argument.
mkdir "$top/share"
run clean 0 clean 0 "$top/clean" "$top/share" "$(win "$top/share")"
[ -f "$log" ] && { text "$log" | grep -qF "Scanning drive D: ..." || fail "the log does not show the scan of D:"; }

# (b) A planted sample, first only detected (/SCANONLY passed on: found, the
# sample left), then removed; the output folder of the second run does not
# exist yet and is given with a trailing backslash.
timeout 120 bash "$wine_run" -- "$fixture" "$(win "$top/infected/sample.exe")" --builtin 0 >/dev/null 2>&1
if [ -f "$top/infected/sample.exe" ]; then
  mkdir "$top/share-scanonly"
  run scanonly 1 found 1 "$top/infected" "$top/share-scanonly" "$(win "$top/share-scanonly")" -- /SCANONLY
  [ -f "$top/infected/sample.exe" ] || fail "/SCANONLY removed the sample"
  [ -f "$top/infected/sample.exe" ] ||
    timeout 120 bash "$wine_run" -- "$fixture" "$(win "$top/infected/sample.exe")" --builtin 0 >/dev/null 2>&1
  run found 1 found 1 "$top/infected" "$top/share2/found" "$(win "$top/share2/found")\\"
  [ ! -e "$top/infected/sample.exe" ] || fail "the sample is still on the drive"
else
  case=found; fail "fixture not written"
fi

# (c) Refused for want of administrator rights (exit code -2), the output in %TEMP%.
run error 2 error -2 "$top/clean" "$top/temp" "" TESMORA_TEST_ADMINISTRATOR=0
[ -f "$log" ] && { text "$log" | grep -qF "Administrator rights are required" || fail "the log lacks the refusal"; }

# The collector over the three kinds of result line: each printed, counted,
# exit code 2 for the error among them.
case=collect
mkdir "$top/all"
for r in share share2/found temp; do
  for f in "$top/$r"/*.txt; do [ -f "$f" ] && cp "$f" "$top/all/$(printf '%s' "$r" | tr / _)_$(basename "$f")"; done
done
cp "$(dirname "$batch")/tesmora-collect.cmd" "$top/tool/"
(cd "$top" && timeout 120 bash "$wine_run" -- "$cmd" /c "$(win "$top/tool/tesmora-collect.cmd")" "$(win "$top/all")" \
  >"$top/collect.out" 2>&1)
rc=$?
[ "$rc" -eq 2 ] || fail "exit code $rc, expected 2"
tr -d '\r' <"$top/collect.out" | grep -qx "1 clean, 1 found, 1 error" || fail "counts: $(cat "$top/collect.out")"
for word in "clean 0" "found 1" "error -2"; do
  tr -d '\r' <"$top/collect.out" | grep -qE "^[^ ]+ $word\$" || fail "the line '$word' was not printed"
done
rm "$top/all/temp_"*.txt
(cd "$top" && timeout 120 bash "$wine_run" -- "$cmd" /c "$(win "$top/tool/tesmora-collect.cmd")" "$(win "$top/all")" \
  >"$top/collect.out" 2>&1)
rc=$?
[ "$rc" -eq 1 ] || fail "without the error: exit code $rc, expected 1; $(cat "$top/collect.out")"

# The Ansible playbook runs the batch file and maps its exit codes.
case=playbook
python3 "$(dirname "$(realpath "$0")")/deploy_playbook_check.py" "$(dirname "$batch")/tesmora.yml" || fail "deploy/tesmora.yml"

[ "$failures" -eq 0 ] && echo "every deployment run passed"
exit $((failures != 0))
