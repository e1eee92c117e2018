#!/usr/bin/env bash
# Sets up the machine, then builds and runs every test: the native tests under
# AddressSanitizer and UBSan, the Windows tests of both MinGW builds under
# Wine, and a bounded fuzz run. Exits non-zero when anything failed.
set -u
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh || exit 1

failed=()
stage() {  # stage NAME COMMAND...
  local name=$1; shift
  echo "==== $name"
  if ! "$@"; then failed+=("$name"); return 1; fi
}
run_ctest() { ctest --test-dir "build/$1" --output-on-failure -j 2 --timeout 900; }

stage "native build" bash scripts/build.sh native && stage "native tests" run_ctest native
# The scan thread and its flags, under ThreadSanitizer.
stage "tsan build" bash scripts/build.sh tsan tesmora_tests &&
  stage "tsan tests" build/tsan/tests/tesmora_tests --gtest_filter='ScanController*' --gtest_brief=1
stage "mingw64 build" bash scripts/build.sh mingw64 && stage "wine tests (x86_64)" run_ctest mingw64
stage "mingw32 build" bash scripts/build.sh mingw32 && stage "wine tests (i686)" run_ctest mingw32
stage "fuzz build" bash scripts/build.sh fuzz && stage "fuzz run" bash scripts/fuzz.sh "${TESMORA_FUZZ_SECONDS:-20}"

echo "===="
if [ ${#failed[@]} -ne 0 ]; then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "all stages passed"
