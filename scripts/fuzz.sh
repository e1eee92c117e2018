#!/usr/bin/env bash
# Runs every fuzz target of build/fuzz for a bounded time on a copy of its
# seed corpus. Fails on any crash, leak or sanitizer report.
#   fuzz.sh [SECONDS_PER_TARGET]
set -u
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-20}"
status=0
passed=0
failed=0
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for target in "$root"/build/fuzz/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  name="$(basename "$target")"
  mkdir -p "$work/$name"
  if [ -d "$root/fuzz/corpus/$name" ]; then cp "$root/fuzz/corpus/$name/"* "$work/$name/" 2>/dev/null; fi
  dict=()
  if [ -f "$root/fuzz/$name.dict" ]; then dict=(-dict="$root/fuzz/$name.dict"); fi
  echo "fuzz: $name for ${seconds}s"
  if "$target" -max_total_time="$seconds" -max_len=16384 -artifact_prefix="$work/" "${dict[@]}" \
      "$work/$name" >"$work/$name.log" 2>&1; then
    echo "fuzz: $name $(grep -o 'Done [0-9]* runs' "$work/$name.log" | tail -1), no findings"
    passed=$((passed + 1))
  else
    echo "fuzz: $name FAILED"; tail -40 "$work/$name.log"; status=1
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ $((passed + failed)) -gt 0 ] || { echo "fuzz: no targets in build/fuzz" >&2; status=1; }
exit $status
