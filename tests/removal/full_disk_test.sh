#!/usr/bin/env bash
# The hosts rewrite on a nearly full disk: the prefix's drivers\etc folder
# lives on a small tmpfs for this run. Skips (77) where no tmpfs can be
# mounted.
#   full_disk_test.sh WINE_RUN TESTS_EXE
set -u
wine_run="$(realpath "$1")"; tests="$(realpath "$2")"
dir="$(mktemp -d "${TMPDIR:-/tmp}/tesmora-full.XXXXXX")"
if ! mount -t tmpfs -o size=256k tmpfs "$dir" 2>/dev/null; then
  rmdir "$dir"; echo "no tmpfs mount here"; exit 77
fi
trap 'umount "$dir"; rmdir "$dir"' EXIT
sys=drive_c/windows/system32
TESMORA_FULL_DISK=1 bash "$wine_run" --version winxp --link "$sys/drivers/etc=$dir" -- "$tests" \
  --gtest_filter='HostsTest.RewriteThatRunsOutOfSpaceLeavesTheOldFile' --gtest_also_run_disabled_tests 2>&1 |
  tee "$dir.out" | tail -20
rc=${PIPESTATUS[0]}
# The test must have run, not skipped.
grep -q '^\[       OK \] HostsTest.RewriteThatRunsOutOfSpaceLeavesTheOldFile' "$dir.out" || rc=1
rm -f "$dir.out"
exit "$rc"
