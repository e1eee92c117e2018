#!/usr/bin/env bash
# The import audit fails on a made-up listing (rejected_imports.txt) and names
# exactly the imports each architecture cannot have.
#   import_audit_rejects.sh [PYTHON]
set -u
here="$(cd "$(dirname "$0")" && pwd)"
python="${1:-python3}"
status=0

# The real table plus functions the programs do not import: one missing on 9x
# only, one too new for NT 4.0 only, one too new for both architectures; and
# CreateFileW, a failing stub on 98/ME that only the 32-bit build may not import.
table="$(mktemp)"
trap 'rm -f "$table"' EXIT
cat "$here/imports.tsv" - >"$table" <<'EOF'
KERNEL32.DLL	ReadDirectoryChangesW	4.0	-	yes	test row
KERNEL32.DLL	GetLongPathNameW	5.0	stub	yes	test row
KERNEL32.DLL	GetTickCount64	6.0	-	yes	test row
EOF

# arch | must be reported | must not be reported (supported there, or outside the import tables)
cases=(
  "i686|!CreateFileW: !GetTickCount64: !GetLongPathNameW: !ReadDirectoryChangesW: !RtlCaptureContext: !GetSystemTimePreciseAsFileTime: COMCTL32.DLL!#17: VERSION.DLL:|!GetTickCount: !__p__fmode: !malloc: AfterTheImportTables"
  "x86_64|!GetTickCount64: !__p__fmode: !GetSystemTimePreciseAsFileTime: COMCTL32.DLL!#17: VERSION.DLL:|!CreateFileW: !GetTickCount: !GetLongPathNameW: !ReadDirectoryChangesW: !RtlCaptureContext: !malloc: AfterTheImportTables"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r arch wanted unwanted <<<"$entry"
  out="$("$python" "$here/import_audit.py" --table "$table" --arch "$arch" \
    --listing "$here/rejected_imports.txt" 2>&1)"
  rc=$?
  failed=0
  [ "$rc" -eq 1 ] || { echo "$arch: exit code $rc, expected 1"; failed=1; }
  for name in $wanted; do
    grep -q "^FAIL .*$name" <<<"$out" || { echo "$arch: $name not reported"; failed=1; }
  done
  for name in $unwanted; do
    if grep -q -- "$name" <<<"$out"; then echo "$arch: $name wrongly reported"; failed=1; fi
  done
  if [ "$failed" -ne 0 ]; then printf '%s\n' "$out"; status=1; fi
done
exit "$status"
