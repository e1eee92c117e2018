#!/usr/bin/env bash
# Runs tests of the Windows test program with part of the prefix on a small
# disk that a test can fill: a 256 KB tmpfs, which the wine_run options name
# as @tmpfs. The tests see TESMORA_FULL_DISK=VALUE; each named test must pass,
# not skip. Skips (77) where no tmpfs can be mounted.
#   full_disk_run.sh WINE_RUN TESTS_EXE VALUE TEST[:TEST]... [WINE_RUN_OPTION]...
set -u
wine_run="$(realpath "$1")"; tests="$(realpath "$2")"; value="$3"; names="$4"
shift 4
dir="$(mktemp -d "${TMPDIR:-/tmp}/tesmora-full.XXXXXX")"
if ! mount -t tmpfs -o size=256k tmpfs "$dir" 2>/dev/null; then
  rmdir "$dir"; echo "no tmpfs mount here"; exit 77
fi
trap 'umount "$dir"; rmdir "$dir"; rm -f "$dir.out"' EXIT
TESMORA_FULL_DISK="$value" bash "$wine_run" --version winxp "${@//@tmpfs/$dir}" -- "$tests" \
  --gtest_filter="$names" 2>&1 | tee "$dir.out" | tail -20
rc=${PIPESTATUS[0]}
IFS=: read -r -a list <<<"$names"
for t in "${list[@]}"; do
  grep -q "^\[       OK \] $t " "$dir.out" || { echo "FAIL: $t did not pass"; rc=1; }
done
exit "$rc"
