#!/usr/bin/env bash
# Sets up the machine, then builds and runs every test: the native tests under
# AddressSanitizer and UBSan, the scan thread under ThreadSanitizer, the
# Windows tests of both MinGW builds under Wine (the i686 build under Wine's
# 32-bit half, through QEMU where the kernel does not run 32-bit programs), the
# import audit of the shipped programs, and a bounded fuzz run. Ends with one
# line "N passed, M failed" over every stage, and exits non-zero when M > 0.
set -u
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh || { echo "0 passed, 1 failed"; exit 1; }

reports="$(mktemp -d "${TMPDIR:-/tmp}/tesmora-test.XXXXXX")"
trap 'rm -rf "$reports"' EXIT
passed=0
failed=0
skipped=0
failed_stages=()
times=()

# tally PASSED FAILED SKIPPED
tally() { passed=$((passed + $1)); failed=$((failed + $2)); skipped=$((skipped + ${3:-0})); }

# Test cases of a JUnit or GoogleTest XML report: "passed failed skipped".
xml_counts() {
  python3 - "$1" <<'PY'
import sys, xml.etree.ElementTree as ET
try:
    root = ET.parse(sys.argv[1]).getroot()
except Exception:
    print(0, 1, 0); sys.exit()
cases = root.iter("testcase")
p = f = s = 0
for c in cases:
    if c.find("failure") is not None or c.find("error") is not None: f += 1
    elif c.find("skipped") is not None or c.get("status") in ("notrun", "disabled") or c.get("result") == "skipped": s += 1
    else: p += 1
print(p, f, s)
PY
}

# stage NAME COMMAND...: a step whose failure counts as one failed test.
stage() {
  local name=$1 start=$SECONDS; shift
  echo "==== $name"
  if "$@"; then rc=0; else rc=1; failed_stages+=("$name"); tally 0 1; fi
  times+=("$name: $((SECONDS - start)) s")
  return $rc
}
# tally_report NAME REPORT RC START: counts the cases of a stage's report; a
# stage that failed without a failed case counts as one failure.
tally_report() {
  local name=$1 report=$2 rc=$3 start=$4 counts
  read -r -a counts <<<"$(xml_counts "$report")"
  tally "${counts[0]}" "${counts[1]}" "${counts[2]}"
  if [ "$rc" -ne 0 ] || [ "${counts[1]}" -ne 0 ]; then
    failed_stages+=("$name")
    [ "${counts[1]}" -ne 0 ] || tally 0 1
  fi
  times+=("$name: $((SECONDS - start)) s")
}
# ctest_stage NAME BUILD: a ctest run whose test cases are counted one by one.
ctest_stage() {
  local start=$SECONDS rc=0
  echo "==== $1"
  ctest --test-dir "build/$2" --output-on-failure -j 2 --timeout 900 --output-junit "$reports/$2.xml" || rc=$?
  tally_report "$1" "$reports/$2.xml" "$rc" "$start"
}
# gtest_stage NAME PROGRAM ARGS...: a GoogleTest program, its cases counted.
gtest_stage() {
  local name=$1 start=$SECONDS rc=0; shift
  echo "==== $name"
  "$@" --gtest_output="xml:$reports/gtest.xml" || rc=$?
  tally_report "$name" "$reports/gtest.xml" "$rc" "$start"
}
fuzz_stage() {
  local start=$SECONDS out
  echo "==== fuzz run"
  # 15 s per target keeps the stage under about three minutes with every target.
  out="$(bash scripts/fuzz.sh "${TESMORA_FUZZ_SECONDS:-15}")"
  local rc=$?
  printf '%s\n' "$out"
  local line p f
  line="$(printf '%s\n' "$out" | grep -E '^fuzz: [0-9]+ passed, [0-9]+ failed$' | tail -1)"
  p="$(printf '%s' "$line" | awk '{print $2}')"; f="$(printf '%s' "$line" | awk '{print $4}')"
  tally "${p:-0}" "${f:-0}"
  if [ "$rc" -ne 0 ]; then failed_stages+=("fuzz run"); [ "${f:-0}" -ne 0 ] || tally 0 1; fi
  times+=("fuzz run: $((SECONDS - start)) s")
}

stage "native build" bash scripts/build.sh native && ctest_stage "native tests" native
stage "tsan build" bash scripts/build.sh tsan tesmora_tests &&
  gtest_stage "tsan tests" build/tsan/tests/tesmora_tests --gtest_filter='ScanController*' --gtest_brief=1
stage "mingw64 build" bash scripts/build.sh mingw64 && ctest_stage "wine tests (x86_64)" mingw64
stage "mingw32 build" bash scripts/build.sh mingw32 && ctest_stage "wine tests (i686, 32-bit Wine)" mingw32
stage "fuzz build" bash scripts/build.sh fuzz && fuzz_stage

echo "===="
printf '%s\n' "${times[@]}"
if [ ${#failed_stages[@]} -ne 0 ]; then printf 'FAILED: %s\n' "${failed_stages[@]}"; fi
[ "$skipped" -eq 0 ] || echo "($skipped skipped)"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
