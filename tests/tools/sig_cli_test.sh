#!/usr/bin/env bash
# tesmora-sig's command line: output, diagnostics and exit status.
# usage: sig_cli_test.sh TESMORA_SIG SOURCE_DIR
set -u
sig=$1
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
same embedded-out "$tmp/out" 'Worm/NetSky.AA\tmem=0\tfile=126\tactions=4\nWorm/NetSky.B.1\tmem=0\tfile=126\tactions=11\nWorm/NetSky.C\tmem=0\tfile=126\tactions=3\nWorm/NetSky.D.Dam\tmem=0\tfile=126\tactions=3\nWorm/NetSky.P\tmem=0\tfile=126\tactions=5\nWorm/NetSky.X\tmem=0\tfile=126\tactions=4\nWorm/Mytob.IN.2\tmem=0\tfile=126\tactions=6\nWorm/Mytob.KS\tmem=0\tfile=126\tactions=4\n'
same embedded-err "$tmp/err" ''

# The resource file itself (UTF-16LE with mark) gives the same lines.
cp "$tmp/out" "$tmp/embedded.out"
expect resource-file 0 "$sig" check "$2/resources/embedded_script.txt"
cmp -s "$tmp/out" "$tmp/embedded.out" || { echo "FAIL resource-file: output differs"; fail=1; }

# UTF-8 without mark; an empty variable empties the word and ends the list.
sigtext=$(printf '%064d' 0 | tr 0 A)
printf '[Malware A.B]\nSIGNATURE_MEM %s\nREMOVE_FILE x %%COOKIES%%\\y z\n' "$sigtext" >"$tmp/utf8.txt"
expect utf8 0 "$sig" check --folder COOKIES= "$tmp/utf8.txt"
same utf8-out "$tmp/out" 'A.B\tmem=32\tfile=0\tactions=1\n'

# A diagnostic on standard error, as the message box shows it.
printf '[Malware A.B]\r\n\r\nSIGNATURE_FILE 0G\r\n' >"$tmp/bad.txt"
expect bad 1 "$sig" check "$tmp/bad.txt"
same bad-err "$tmp/err" 'Line   3: The line contains a bad character encountered at position 2.\n'
same bad-out "$tmp/out" ''

expect missing-file 2 "$sig" check "$tmp/none.txt"
expect unknown-folder 2 "$sig" check --folder NOSUCH=x
expect folder-without-value 2 "$sig" check --folder WINDIR
expect unknown-command 2 "$sig" frobnicate
expect no-command 2 "$sig"
expect help 0 "$sig" --help
grep -q 'check \[--folder NAME=VALUE\]' "$tmp/out" || { echo "FAIL help: no check usage"; fail=1; }

[ $fail = 0 ] && echo "tesmora-sig command line: all checks passed"
exit $fail
