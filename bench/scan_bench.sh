#!/usr/bin/env bash
# Files per second of `tesmora-sig scan` against clamscan and yara -p 1 over
# the same folder: the Windows executables of the Wine package (copied until
# there are at least 2,000 files) plus a few planted synthetic fixtures, with
# the same hexadecimal signatures in each tool's rule format. Prints the
# figures side by side and which files each tool flagged.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
export DEBIAN_FRONTEND=noninteractive
need=()
for p in clamav yara bc; do dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || need+=("$p"); done
if [ ${#need[@]} -ne 0 ]; then
  apt-get update -q >/dev/null 2>&1 || true
  apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
fi

build="$root/build/scan-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 tesmora-sig tesmora-fixture >/dev/null
sig="$build/src/tesmora-sig"
fixture="$build/tests/tesmora-fixture"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
tree="$work/tree"
mkdir -p "$tree"
copy=0
while [ "$(find "$tree" -type f | wc -l)" -lt 2000 ]; do
  for d in /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/x86_64-linux-gnu/wine/i386-windows; do
    [ -d "$d" ] || continue
    mkdir -p "$tree/copy$copy/$(basename "$d")"
    find "$d" -maxdepth 1 -type f \( -name '*.dll' -o -name '*.exe' -o -name '*.drv' -o -name '*.sys' -o -name '*.ocx' \) \
      -exec cp {} "$tree/copy$copy/$(basename "$d")/" \;
  done
  copy=$((copy + 1))
done

# Signatures of every tool and the planted samples (bench/signatures.sh).
# shellcheck source=signatures.sh
. "$root/bench/signatures.sh"
write_signatures "$root" "$fixture" "$work"
plant_samples "$tree/planted" "$fixture" "$work"

files=$(find "$tree" -type f | wc -l)
mb=$(du -sm "$tree" | cut -f1)
echo "files: $files ($mb MB), signatures: $signatures"
cat "$tree"/copy0/*/* >/dev/null 2>&1 || true  # warm the page cache

measure() {  # measure NAME OUTFILE COMMAND...
  local name=$1 out=$2; shift 2
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >"$out" 2>/dev/null || true
  t1=$(date +%s.%N)
  echo "$name $(echo "$t1 - $t0" | bc)"
}
{
  measure tesmora "$work/tesmora.out" "$sig" scan "$tree"
  measure clamscan "$work/clamscan.out" clamscan --no-summary --infected -r -d "$work/db.ndb" "$tree"
  measure yara-p1 "$work/yara.out" yara -p 1 -r "$work/rules.yar" "$tree"
  measure read-all "$work/read.out" bash -c "find '$tree' -type f -exec cat {} + >/dev/null"
} >"$work/times"

printf '%-10s %10s %10s %8s\n' tool seconds files/s MB/s
while read -r name secs; do
  printf '%-10s %10.2f %10.0f %8.0f\n' "$name" "$secs" "$(echo "$files / $secs" | bc -l)" "$(echo "$mb / $secs" | bc -l)"
done <"$work/times"
echo "flagged by tesmora:  $(cut -f1 "$work/tesmora.out" | xargs -n1 basename 2>/dev/null | sort | tr '\n' ' ')"
echo "flagged by clamscan: $(sed 's/:.*//' "$work/clamscan.out" | xargs -n1 basename 2>/dev/null | sort | tr '\n' ' ')"
echo "flagged by yara:     $(awk '{print $2}' "$work/yara.out" | xargs -n1 basename 2>/dev/null | sort -u | tr '\n' ' ')"
