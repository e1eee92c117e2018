#!/usr/bin/env bash
# End-to-end runs of tesmora.exe under Wine in silent mode: exit codes, the
# log file's bytes, appending, /NOLOG, the administrator rule and a planted
# fixture, once for each Windows version the program is shown (winxp, nt40 and
# win98 unless VERSIONS names others).
#   silent_scan_test.sh WINE_RUN TESMORA_EXE FIXTURE_EXE [VERSIONS...]
set -u
wine_run="$(realpath "$1")"; exe="$(realpath "$2")"; fixture="$(realpath "$3")"
shift 3
versions=("$@")
[ "${#versions[@]}" -gt 0 ] || versions=(winxp nt40 win98)
top="$(mktemp -d "${TMPDIR:-/tmp}/tesmora-app.XXXXXX")"
trap 'rm -rf "$top"' EXIT
failures=0
version=""
fail() { echo "FAIL [$version]: $*"; failures=$((failures + 1)); }

# run EXPECTED_RC DRIVE_DIR ARGS...: a silent scan with a display, bounded in time.
run() {
  local expected="$1" drive="$2"; shift 2
  timeout 300 bash "$wine_run" --display --version "$version" --drive "D=$drive" -- "$exe" "$@" >/dev/null 2>&1
  local rc=$?
  [ "$rc" -eq "$expected" ] || fail "tesmora $* ended with $rc, expected $expected"
}
text() { iconv -f UTF-16LE -t UTF-8 "$1"; }
golden="$(dirname "$(realpath "$0")")/found_scan.golden"
source_dir="$(dirname "$(realpath "$0")")/../.."
# report_check REPORT LOG PYTHON: the report is valid against the schema, its
# counters are the log's, and the Python condition on `r` (the document) holds.
report_check() {
  [ -f "$1" ] || { fail "no report $1"; return; }
  local out
  out="$(python3 "$source_dir/tests/support/check_report.py" "$source_dir/docs/report.schema.json" "$1" ${2:+--log "$2"} 2>&1)" ||
    { fail "$1: $out"; return; }
  size="${size:-0}" python3 -c "import json, os, sys; size = int(os.environ['size']); r = json.load(open(sys.argv[1], encoding='utf-8')); sys.exit(0 if ($3) else 1)" "$1" ||
    fail "$1 does not hold: $3 ($(cat "$1"))"
}
plant() {
  timeout 120 bash "$wine_run" -- "$fixture" 'Z:'"$(printf '%s' "$work/$1" | tr / '\\')" "${@:2}" >/dev/null 2>&1 ||
    fail "fixture $1 not written"
}
# normalize LOG: the log as UTF-8 text with what differs between runs (time,
# build date, host, process and module counts, durations) as placeholders.
normalize() {
  text "$1" | tr -d '\r' | sed -E \
    -e '1s/^\[[0-9]{1,2}\/[0-9]{1,2}\/[0-9]{4} [0-9]{1,2}:[0-9]{1,2}:[0-9]{1,2}\]$/[TIME]/' \
    -e 's/^(Version: [0-9.]+, ).*/\1BUILD DATE/' \
    -e 's/^(- Host: ).*/\1HOST/' \
    -e 's/^(scanned (processes|modules):\t+)[0-9]+$/\1N/' \
    -e 's/^(elapsed time for (memory|file) scan:\t+)[0-9.]+ seconds$/\1N seconds/' \
    -e 's/^(average (memory|file) scanner throughput:\t+)[0-9.]+ KB\/s$/\1N KB\/s/'
}
has() { grep -qF -- "$2" <(text "$1") || fail "$1 lacks: $2"; }

# suite: every check below, in a fresh folder, with the Windows version $version.
suite() {
work="$top/$version"
mkdir "$work" && cd "$work" || { fail "no work folder"; return; }
mkdir empty
export TESMORA_TEST_ADMINISTRATOR=1
# The test stand-in for unicows.dll beside a 32-bit program counts the calls
# that reach it.
export TESMORA_UNICOWS_COUNTS="Z:$(printf '%s' "$work/unicows-counts.txt" | tr / '\\')"

# A clean scan: exit code 0 and the log's layout.
run 0 empty /SILENT /LOG out.log D:
if [ ! -f out.log ]; then fail "no log written"; else
  [ "$(head -c 2 out.log | xxd -p)" = "5b00" ] || fail "log does not begin with '[' in UTF-16LE (no byte-order mark)"
  [ $(( $(stat -c %s out.log) % 2 )) -eq 0 ] || fail "odd log size"
  text out.log | head -1 | grep -qE '^\[[0-9]{1,2}/[0-9]{1,2}/[0-9]{4} [0-9]{1,2}:[0-9]{1,2}:[0-9]{1,2}\]'$'\r''$' ||
    fail "time stamp line: $(text out.log | head -1)"
  for line in "Tesmora Removal Tool 3.0 - Copyright (c) 2006 Zelox GmbH"$'\r' "Removal Tool for:"$'\r' \
      "Version: 3.0.1.16, " "Use /? to list all available command line options"$'\r' \
      '- Saving results to logfile "out.log".'$'\r' "- Silent Mode, program will exit after scan."$'\r' \
      '- Host: "' "Scanning drive D: ..." "scan results:"$'\r' "scanned directories:"$'\t\t\t'"1"$'\r' \
      "renamed files:"$'\t\t\t'"0"$'\r' "average file scanner throughput:"$'\t'; do
    has out.log "$line"
  done
  { [ "$(tail -c 90 out.log | xxd -p | tr -d '\n')" = "$(printf '\r\nThank you for using Tesmora Removal Tool.\r\n' | iconv -t UTF-16LE | xxd -p | tr -d '\n')" ] ||
    fail "log does not end with the thanks line"
  lf=$(text out.log | tr -cd '\n' | wc -c); crlf=$(text out.log | grep -c $'\r$')
  [ "$lf" -eq "$crlf" ] && [ "$(text out.log | tr -cd '\r' | wc -c)" -eq "$lf" ] || fail "paragraph breaks are not all \\r\\n"; }
  cp out.log first.log

  # Appending keeps the earlier run in front and adds the separator.
  run 0 empty /SILENT /APPEND /LOG out.log D:
  size=$(stat -c %s first.log)
  cmp -s -n "$size" first.log out.log || fail "append changed the earlier run"
  tail -c +"$((size + 1))" out.log | iconv -f UTF-16LE -t UTF-8 > second.txt
  [ "$(head -c 79 second.txt | xxd -p | tr -d '\n')" = "$( (printf -- '-%.0s' $(seq 75); printf '\r\n\r\n') | xxd -p | tr -d '\n')" ] ||
    fail "no separator before the appended run"
  sed -n 3p second.txt | grep -qE '^\[[0-9/ :]+\]'$'\r''$' || fail "appended run lacks its time stamp"
  { grep -qF -- '- Appending results to logfile "out.log".' second.txt || fail "append message missing"; }

  # Onto a file of odd length (written by something else): the appended text
  # starts on the next even byte, so it reads as UTF-16LE.
  printf 'abc' >odd.log
  run 0 empty /SILENT /APPEND /LOG odd.log D:
  [ "$(head -c 4 odd.log | xxd -p)" = "61626300" ] || fail "odd log: the old bytes were changed or not padded"
  tail -c +5 odd.log | iconv -f UTF-16LE -t UTF-8 2>/dev/null | grep -qF -- '- Appending results to logfile "odd.log".' ||
    fail "odd log: the appended text is not UTF-16LE on even bytes"
fi

# /NOLOG writes nothing, not even the default log.
run 0 empty /SILENT /NOLOG D:
[ ! -e tesmora.log ] && [ ! -e nolog.log ] || fail "/NOLOG wrote a log"

# Not an administrator: exit code -2, the notice goes to the log, nothing waits.
TESMORA_TEST_ADMINISTRATOR=0 run 254 empty /SILENT /LOG guest.log D:
[ -f guest.log ] && has guest.log "Administrator rights are required in order to scan and clean the system."

# The account check itself, without the test answer: the 9x platform counts
# every user as an administrator; NT 4.0 asks the account database, where Wine
# reports its user as a guest; from Windows 2000 on the token decides, and
# Wine's token holds the Administrators group.
unset TESMORA_TEST_ADMINISTRATOR
if [ "$version" = nt40 ]; then
  run 254 empty /SILENT /LOG own.log D:
  [ -f own.log ] && has own.log "Administrator rights are required in order to scan and clean the system."
else
  run 0 empty /SILENT /LOG own.log D:
  [ -f own.log ] || fail "no log of the run without the test answer"
fi
export TESMORA_TEST_ADMINISTRATOR=1

# A planted fixture: malware found, exit code 1.
mkdir infected
timeout 120 bash "$wine_run" -- "$fixture" 'Z:'"$(printf '%s' "$work/infected/sample.exe" | tr / '\\')" --builtin 0 >/dev/null 2>&1 ||
  fail "fixture not written"
[ -f infected/sample.exe ] || fail "no fixture file"
run 1 infected /SILENT /LOG found.log D:
# The whole log, line by line, is the same for every version and both builds.
if [ -f found.log ]; then
  normalize found.log | diff -u "$golden" - >found.diff || fail "found.log differs from $(basename "$golden"): $(cat found.diff)"
  [ "$(text found.log | grep -c $'^scanned modules:\t\t\t[1-9]')" -eq 1 ] || fail "the memory scan listed no modules"
fi
[ ! -e infected/sample.exe ] || fail "the sample is still on the drive"

# Scan only: found, printed and counted as before, the drive left byte for
# byte, exit code 1; the report says what was found and that nothing was done.
plant infected/sample.exe --builtin 0
drive_before="$(cd infected && sha256sum -- *)"
run 1 infected /SILENT /SCANONLY /LOG scanonly.log /REPORT scanonly.json D:
[ "$(cd infected && sha256sum -- *)" = "$drive_before" ] || fail "scan only changed the drive"
has scanonly.log "- Scan only, nothing on the system will be changed."
has scanonly.log "Sober.J was found in file D:\\sample.exe !"
has scanonly.log "detected, no action taken (scan only)"
! text scanonly.log | grep -q "successfully removed" || fail "scan only reported a removal"
report_check scanonly.json scanonly.log 'r["scanOnly"] and r["exitCode"] == 1 and r["counters"]["infectedFiles"] == 1 and r["counters"]["removedFiles"] == 0 and [(d["family"], d["variant"], d["path"], d["actions"]) for d in r["detections"]] == [("Sober", "J", "D:\\sample.exe", [{"action": "none", "outcome": "skipped (scan only)"}])]'

# The same drive cleaned, with a report of what was done and where the
# quarantine keeps the sample.
size=$(stat -c %s infected/sample.exe)
run 1 infected /SILENT /LOG removal.log /REPORT removal.json D:
[ ! -e infected/sample.exe ] || fail "the sample is still on the drive after the removal run"
report_check removal.json removal.log 'not r["scanOnly"] and r["exitCode"] == 1 and r["administrator"] and r["scanStarted"] and r["counters"]["removedFiles"] >= 1 and any(a["action"] == "delete" and a["target"] == "D:\\sample.exe" and a["outcome"] == "removed" and a["quarantine"]["originalPath"] == "D:\\sample.exe" and a["quarantine"]["size"] == size for d in r["detections"] for a in d["actions"]) and r["startTime"] <= r["endTime"] and "/REPORT removal.json" in r["commandLine"] and r["windows"]["programBits"] in (32, 64)'

# Without administrator rights the report says so beside the exit code.
TESMORA_TEST_ADMINISTRATOR=0 run 254 empty /SILENT /NOLOG /REPORT guest.json D:
report_check guest.json "" 'r["exitCode"] == -2 and not r["administrator"]'

# A report that cannot be written (its folder is missing) is named in the log.
run 0 empty /SILENT /LOG noreport.log /REPORT nosuchfolder\\r.json D:
has noreport.log 'Error: failed to write report "nosuchfolder\r.json".'

# The 32-bit program reaches its wide functions through the Unicode layer:
# from unicows.dll on 9x/ME (never loaded elsewhere). Without it on 9x/ME the
# program says so in its log and ends with -12, before any scan.
if [ -f "$(dirname "$exe")/unicows.dll" ]; then
  if [ "$version" = win98 ]; then
    for f in CreateFileW FindFirstFileW GetVersionExW RegOpenKeyExW CreateDialogParamW SendMessageW; do
      grep -q "^$f"$'\t' unicows-counts.txt 2>/dev/null || fail "$f did not reach unicows.dll"
    done
    mkdir nolayer && cp "$exe" nolayer/ && cp -r "$work/empty" nolayer-drive
    (cd nolayer && timeout 300 bash "$wine_run" --display --version win98 --drive "D=$work/nolayer-drive" -- \
      "$work/nolayer/$(basename "$exe")" /SILENT /LOG missing.log D: >/dev/null 2>&1)
    rc=$?
    [ "$rc" -eq 244 ] || fail "without unicows.dll the program ended with $rc, expected 244 (-12)"
    [ "$(text nolayer/missing.log 2>/dev/null)" = "$(printf '%s\r\n' "This program needs the Microsoft Layer for Unicode on Windows 95, 98 and ME. Place unicows.dll in the program's folder and start it again.")" ] ||
      fail "missing.log: $(text nolayer/missing.log 2>&1)"
  else
    [ ! -e unicows-counts.txt ] || fail "unicows.dll was loaded as $version"
  fi
fi
cd "$top" || exit 1
}

for version in "${versions[@]}"; do
  before=$failures
  suite
  [ "$failures" -eq "$before" ] && echo "silent runs passed as $version"
done

[ "$failures" -eq 0 ] && echo "all silent runs passed"
exit $((failures != 0))
