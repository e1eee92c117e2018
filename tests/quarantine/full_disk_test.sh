#!/usr/bin/env bash
# Keeping a copy on a full disk: the quarantine lives on a small tmpfs mapped
# as drive Q: for this run, once for the quarantine alone and once under a
# removal run of drive D:. Skips (77) where no tmpfs can be mounted.
#   full_disk_test.sh WINE_RUN TESTS_EXE
set -u
wine_run="$(realpath "$1")"; tests="$(realpath "$2")"
dir="$(mktemp -d "${TMPDIR:-/tmp}/tesmora-qfull.XXXXXX")"
if ! mount -t tmpfs -o size=256k tmpfs "$dir" 2>/dev/null; then
  rmdir "$dir"; echo "no tmpfs mount here"; exit 77
fi
trap 'umount "$dir"; rmdir "$dir"' EXIT
TESMORA_FULL_DISK=Q: bash "$wine_run" --version winxp --drive "Q=$dir" --drive D=@empty -- "$tests" \
  --gtest_filter='QuarantineWinTest.KeepOnAFullDiskLeavesNothing:QuarantineWinTest.KeepLeavesTheDriveAReserve:RemoverE2E.RemovalGoesOnWhenNoCopyCanBeMade' 2>&1 |
  tee "$dir.out" | tail -20
rc=${PIPESTATUS[0]}
# The tests must have run, not skipped.
for t in QuarantineWinTest.KeepOnAFullDiskLeavesNothing QuarantineWinTest.KeepLeavesTheDriveAReserve \
    RemoverE2E.RemovalGoesOnWhenNoCopyCanBeMade; do
  grep -q "^\[       OK \] $t" "$dir.out" || rc=1
done
rm -f "$dir.out"
exit "$rc"
