#!/usr/bin/env bash
# The manifest check fails, naming the fault, on manifests each missing one
# thing the program needs, and on a program that does not carry the manifest.
#   manifest_check_rejects.sh PYTHON MANIFEST OTHER_EXE
set -u
here="$(cd "$(dirname "$0")" && pwd)"
python="$1"; manifest="$2"; other="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0

# sed edit | the line the check must print
cases=(
  's/requireAdministrator/asInvoker/|execution level'
  's/{1f676c76-80e1-4239-95bb-83d0f6d0da78}/{1f676c76-80e1-4239-95bb-83d0f6d0da79}/|Windows 8.1 is not declared'
  '/{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}/d|Windows 10 and 11 is not declared'
  's/>true</>false</|dpiAware'
  's#SMI/2005/WindowsSettings#SMI/2016/WindowsSettings#|dpiAware'
  's/version="6.0.0.0"/version="5.82.0.0"/|common controls'
  's#</trustInfo>##|not well-formed'
)
for entry in "${cases[@]}"; do
  edit="${entry%%|*}"; wanted="${entry#*|}"
  sed "$edit" "$manifest" >"$work/bad.manifest"
  if cmp -s "$manifest" "$work/bad.manifest"; then echo "FAIL: '$edit' changed nothing"; status=1; continue; fi
  out="$("$python" "$here/manifest_check.py" "$work/bad.manifest" 2>&1)"; rc=$?
  if [ "$rc" -ne 1 ] || ! grep -qF -- "$wanted" <<<"$out"; then
    echo "FAIL: '$edit': exit $rc, expected 1 and '$wanted' in: $out"; status=1
  fi
done

# The right manifest, a program that does not carry it.
out="$("$python" "$here/manifest_check.py" "$manifest" "$other" 2>&1)"; rc=$?
if [ "$rc" -ne 1 ] || ! grep -qF -- "$other: " <<<"$out"; then
  echo "FAIL: $other passed as carrying the manifest (exit $rc): $out"; status=1
fi
[ "$status" -eq 0 ] && echo "every faulty manifest was rejected"
exit "$status"
