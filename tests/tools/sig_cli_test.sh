#!/usr/bin/env bash
# tesmora-sig's command line: output, diagnostics and exit status.
# usage: sig_cli_test.sh TESMORA_SIG SOURCE_DIR TESMORA_FIXTURE
set -u
sig=$1
fixture=$3
fail=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

expect() {  # expect NAME WANTED_STATUS COMMAND... ; stdout in $tmp/out, stderr in $tmp/err
    local name=$1 want=$2
    shift 2
    "$@" >"$tmp/out" 2>"$tmp/err"
    local got=$?
    if [ "$got" != "$want" ]; then
        echo "FAIL $name: exit status $got, wanted $want"; cat "$tmp/err"; fail=1
    fi
}
same() {  # same NAME FILE EXPECTED_TEXT
    if ! diff <(printf '%b' "$3") "$2" >/dev/null; then
        echo "FAIL $1: unexpected $2"; diff <(printf '%b' "$3") "$2"; fail=1
    fi
}

expect embedded 0 "$sig" check
same embedded-out "$tmp/out" 'Worm/NetSky.AA\tmem=0\tfile=126\tactions=4\trecords=-,yes\nWorm/NetSky.B.1\tmem=0\tfile=126\tactions=11\trecords=-,yes\nWorm/NetSky.C\tmem=0\tfile=126\tactions=3\trecords=-,yes\nWorm/NetSky.D.Dam\tmem=0\tfile=126\tactions=3\trecords=-,yes\nWorm/NetSky.P\tmem=0\tfile=126\tactions=5\trecords=-,yes\nWorm/NetSky.X\tmem=0\tfile=126\tactions=4\trecords=-,yes\nWorm/Mytob.IN.2\tmem=0\tfile=126\tactions=6\trecords=-,yes\nWorm/Mytob.KS\tmem=0\tfile=126\tactions=4\trecords=-,yes\n'
same embedded-err "$tmp/err" ''

# The resource file itself (UTF-16LE with mark) gives the same lines.
cp "$tmp/out" "$tmp/embedded.out"
expect resource-file 0 "$sig" check "$2/resources/embedded_script.txt"
cmp -s "$tmp/out" "$tmp/embedded.out" || { echo "FAIL resource-file: output differs"; fail=1; }

# UTF-8 without mark; an empty variable empties the word and ends the list.
sigtext=$(printf '%064d' 0 | tr 0 A)
printf '[Malware A.B]\nSIGNATURE_MEM %s\nREMOVE_FILE x %%COOKIES%%\\y z\n' "$sigtext" >"$tmp/utf8.txt"
expect utf8 0 "$sig" check --folder COOKIES= "$tmp/utf8.txt"
same utf8-out "$tmp/out" 'A.B\tmem=32\tfile=0\tactions=1\trecords=yes,-\n'

# A diagnostic on standard error, as the message box shows it.
printf '[Malware A.B]\r\n\r\nSIGNATURE_FILE 0G\r\n' >"$tmp/bad.txt"
expect bad 1 "$sig" check "$tmp/bad.txt"
same bad-err "$tmp/err" 'Line   3: The line contains a bad character encountered at position 2.\n'
same bad-out "$tmp/out" ''

# A 31-byte signature parses but yields no search record.
printf '[Malware A.B]\nSIGNATURE_MEM %s\nSIGNATURE_FILE %s\nREMOVE_FILE x\n' "${sigtext:0:62}" "$sigtext" >"$tmp/short.txt"
expect short 0 "$sig" check "$tmp/short.txt"
same short-out "$tmp/out" 'A.B\tmem=31\tfile=32\tactions=1\trecords=no,yes\n'

# record: head, anchor word, length, anchor offset, then the CRC of bytes 5..31
# (0x970387F6, as zlib's crc32 gives it with the start and end inversions undone).
expect record 0 "$sig" record "$(printf '%032d' 0 | sed 's/0/4D/g')"
same record-out "$tmp/out" '4D4D4D4D4D4D4D20000000F6870397\n'
expect record-blanks 0 "$sig" record "4D $(printf '%031d' 0 | sed 's/0/4D/g') "
# Blanks are skipped but count: 66 characters give 33 bytes, the last one 0.
same record-blanks-out "$tmp/out" '4D4D4D4D4D4D4D21000000AE544954\n'
for text in "$(printf '%031d' 0 | sed 's/0/4D/g')" "$(printf '%064d' 0)G" "$(printf '%08194d' 0)"; do
    expect record-none 1 "$sig" record "$text"
    same record-none-out "$tmp/out" ''
done
expect record-8192 0 "$sig" record "$(printf '%08192d' 0)"
expect record-usage 2 "$sig" record
expect record-usage-extra 2 "$sig" record 00 00

# scan: detection only, over synthetic executables.
mkdir -p "$tmp/tree/sub" "$tmp/tree/empty"
"$fixture" "$tmp/tree/clean.exe"
"$fixture" "$tmp/tree/sub/stanit.exe" --builtin 3
"$fixture" "$tmp/tree/sub/sober.dll" --dll --pe32plus --builtin 1
"$fixture" "$tmp/tree/own.exe" --plant "$sigtext"
printf 'not an executable' >"$tmp/tree/notes.txt"
ln -s .. "$tmp/tree/sub/loop"
cp "$tmp/tree/sub/stanit.exe" "$tmp/stanit-copy.exe"
printf '[Malware Own.A]\nSIGNATURE_FILE %s\nKILL_PROCESS\n' "$sigtext" >"$tmp/own.txt"
expect scan-found 1 "$sig" scan "$tmp/tree"
same scan-found-out "$tmp/out" "$(sort <<EOF2
$tmp/tree/sub/sober.dll	Sober.P
$tmp/tree/sub/stanit.exe	W32/Stanit.A
EOF2
)\n"
grep -q '^tesmora-sig scan: 5 files, 4 executables, .* 2 detected$' "$tmp/err" || { echo "FAIL scan-summary"; cat "$tmp/err"; fail=1; }
expect scan-script 1 "$sig" scan --script "$tmp/own.txt" "$tmp/tree/own.exe" "$tmp/tree/clean.exe"
same scan-script-out "$tmp/out" "$tmp/tree/own.exe\tOwn.A\n"
expect scan-clean 0 "$sig" scan "$tmp/tree/clean.exe" "$tmp/tree/notes.txt" "$tmp/tree/empty"
same scan-clean-out "$tmp/out" ''
expect scan-unchanged 1 "$sig" scan "$tmp/tree/sub/stanit.exe"
cmp -s "$tmp/tree/sub/stanit.exe" "$tmp/stanit-copy.exe" || { echo "FAIL scan changed a file"; fail=1; }
expect scan-no-path 2 "$sig" scan
expect scan-bad-script 2 "$sig" scan --script "$tmp/none.txt" "$tmp/tree"

# --json: the same detections, as records of the report's schema.
expect scan-json 1 "$sig" scan --json "$tmp/tree"
python3 "$2/tests/support/check_report.py" "$2/docs/report.schema.json" "$tmp/out" --scan || { echo "FAIL scan-json: schema"; fail=1; }
python3 - "$tmp/out" "$tmp/tree" <<'PY' || { echo "FAIL scan-json: records"; cat "$tmp/out"; fail=1; }
import json, sys
d = json.load(open(sys.argv[1]))
got = sorted((r["path"], r["family"] + "." + r["variant"], r["source"], len(r["actions"])) for r in d["detections"])
tree = sys.argv[2]
want = [(tree + "/sub/sober.dll", "Sober.P", "file", 0), (tree + "/sub/stanit.exe", "W32/Stanit.A", "file", 0)]
sys.exit(0 if got == want and d["files"] == 5 and d["unreadable"] == 0 else 1)
PY
# A path that cannot be read is no clean result: 2, or 1 when something was found.
expect scan-missing 2 "$sig" scan "$tmp/tree/clean.exe" "$tmp/none"
grep -q '1 unreadable$' "$tmp/err" || { echo "FAIL scan-missing: no unreadable count"; cat "$tmp/err"; fail=1; }
expect scan-missing-found 1 "$sig" scan "$tmp/none" "$tmp/tree/sub/stanit.exe"
grep -q '1 detected, 1 unreadable$' "$tmp/err" || { echo "FAIL scan-missing-found: summary"; cat "$tmp/err"; fail=1; }
# quarantine: entries made by the test-only keep, listed, restored (never over
# a file that is there), and purged.
q="$tmp/quarantine"
mkdir -p "$tmp/victims"
"$fixture" "$tmp/victims/a.exe" --builtin 3
printf 'second file' >"$tmp/victims/b.dll"
cp "$tmp/victims/a.exe" "$tmp/a.orig"
expect q-missing-folder 0 "$sig" quarantine --folder "$q" list
same q-missing-folder-out "$tmp/out" ''
expect q-keep-a 0 "$sig" quarantine --folder "$q" keep "$tmp/victims/a.exe" W32/Stanit.A delete
ida=$(cat "$tmp/out")
expect q-keep-b 0 "$sig" quarantine --folder "$q" keep "$tmp/victims/b.dll" Sober.P rename-over
idb=$(cat "$tmp/out")
[ "$(head -c 2 "$q/$ida.tsq")" != MZ ] || { echo "FAIL q-stored: entry starts with MZ"; fail=1; }
cmp -s "$tmp/victims/a.exe" "$tmp/a.orig" || { echo "FAIL q-keep changed the file"; fail=1; }
expect q-list 0 "$sig" quarantine --folder "$q" list
shaa=$(sha256sum <"$tmp/a.orig" | cut -c1-64)
shab=$(printf 'second file' | sha256sum | cut -c1-64)
sizea=$(wc -c <"$tmp/a.orig" | tr -d ' ')
cut -f2 "$tmp/out" | grep -qvE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$' && { echo "FAIL q-list-time"; fail=1; }
cut -f1,3- "$tmp/out" >"$tmp/list"
same q-list-out "$tmp/list" "$(sort <<EOF2
$ida	delete	W32/Stanit.A	$sizea	$shaa	$tmp/victims/a.exe
$idb	rename-over	Sober.P	11	$shab	$tmp/victims/b.dll
EOF2
)\n"
expect q-refused 1 "$sig" quarantine --folder "$q" restore "$ida"
same q-refused-out "$tmp/out" ''
cmp -s "$tmp/victims/a.exe" "$tmp/a.orig" && [ -f "$q/$ida.tsq" ] || { echo "FAIL q-refused changed something"; fail=1; }
rm "$tmp/victims/a.exe"
expect q-restore 0 "$sig" quarantine --folder "$q" restore "$ida"
same q-restore-out "$tmp/out" "restored $tmp/victims/a.exe\n"
cmp -s "$tmp/victims/a.exe" "$tmp/a.orig" || { echo "FAIL q-restore: bytes differ"; fail=1; }
[ ! -e "$q/$ida.tsq" ] || { echo "FAIL q-restore: entry left"; fail=1; }
[ "$(ls "$tmp/victims")" = "$(printf 'a.exe\nb.dll')" ] || { echo "FAIL q-restore: leftovers"; ls "$tmp/victims"; fail=1; }
expect q-restore-again 2 "$sig" quarantine --folder "$q" restore "$ida"
expect q-bad-id 2 "$sig" quarantine --folder "$q" restore ../victims/a
printf 'TESMORAQ' >"$q/broken.tsq"
expect q-damaged 1 "$sig" quarantine --folder "$q" list
[ "$(cut -f1 "$tmp/out")" = "$idb" ] || { echo "FAIL q-damaged-list"; fail=1; }
same q-damaged-err "$tmp/err" 'tesmora-sig quarantine: damaged entry broken.tsq\n'
expect q-restore-damaged 2 "$sig" quarantine --folder "$q" restore broken
expect q-purge 0 "$sig" quarantine --folder "$q" purge
same q-purge-out "$tmp/out" '2 entries removed\n'
expect q-after-purge 0 "$sig" quarantine --folder "$q" list
same q-after-purge-out "$tmp/out" ''
expect q-no-folder 2 "$sig" quarantine list
expect q-bad-action 2 "$sig" quarantine --folder "$q" frobnicate
expect q-restore-no-id 2 "$sig" quarantine --folder "$q" restore

expect missing-file 2 "$sig" check "$tmp/none.txt"
expect unknown-folder 2 "$sig" check --folder NOSUCH=x
expect folder-without-value 2 "$sig" check --folder WINDIR
expect unknown-command 2 "$sig" frobnicate
expect no-command 2 "$sig"
expect help 0 "$sig" --help
grep -q 'check \[--folder NAME=VALUE\]' "$tmp/out" || { echo "FAIL help: no check usage"; fail=1; }
grep -q 'quarantine \[--folder DIR\] list|restore ID|purge' "$tmp/out" || { echo "FAIL help: no quarantine usage"; fail=1; }

[ $fail = 0 ] && echo "tesmora-sig command line: all checks passed"
exit $fail
