#!/usr/bin/env bash
# The program's drive scan and memory scan against their floor, in one run.
#
#   bench/product_scan.sh [--rounds 3] [--new-drive] [--programs DIR] [--no-engines]
#
# --programs takes tesmora.exe and tesmora-sig from DIR instead of this tree's
# builds (to measure an earlier build beside this one); --no-engines leaves
# out clamscan and yara (they take most of the run: every byte of 6 GB).
#
# Builds tesmora-sig and tesmora-fixture (native, Release) and the x86_64
# tesmora.exe and tesmora-floor.exe (MinGW, Release), makes a drive of at
# least 20,000 files (five copies of the Wine package's Windows executables,
# ordinary data files, four planted synthetic samples; kept in
# build/product-bench/drive for the next run), and prints side by side:
#   - tesmora-floor.exe under Wine: FindFirstFileW walk, every file over 312
#     bytes opened, 4 KB read, closed (the floor of a drive scan)
#   - tesmora.exe /SILENT /LOG ... D: under Wine (64-bit loader, the same
#     prefix and drive): the log's file-scan time and the wall time
#   - tesmora-sig scan, clamscan and yara -p 1 natively with the same signatures
#   - the file-system calls per file: strace -c -f of tesmora-sig; for the
#     Windows programs Wine's relay trace of the kernel32 file functions they
#     call (a drive of PE files and one of data files, less an empty drive)
#   - a cold-cache round (drop_caches) of the floor, tesmora.exe and tesmora-sig
#   - the memory scan: tesmora-floor.exe reading every module of every process
#     in 64 KB blocks, and the program's memory-phase time, in the same prefix
# and whether each goal is met. Our tools take the best of --rounds rounds;
# clamscan and yara run once (they read every byte of every file).
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
rounds=3
new_drive=0
programs=""
engines=1
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds="$2"; shift 2 ;;
    --new-drive) new_drive=1; shift ;;
    --programs) programs="$(cd "$2" && pwd)"; shift 2 ;;
    --no-engines) engines=0; shift ;;
    *) echo "usage: product_scan.sh [--rounds N] [--new-drive] [--programs DIR] [--no-engines]" >&2; exit 2 ;;
  esac
done

export DEBIAN_FRONTEND=noninteractive
need=()
for p in clamav yara bc strace; do dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || need+=("$p"); done
if [ ${#need[@]} -ne 0 ]; then
  apt-get update -q >/dev/null 2>&1 || true
  apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
fi

echo "building ..."
native="$root/build/scan-bench"
cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
nice -n 10 ninja -C "$native" -j2 tesmora-sig tesmora-fixture >/dev/null
mingw="$root/build/bench-mingw64"
cmake -S "$root" -B "$mingw" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
nice -n 10 ninja -C "$mingw" -j2 tesmora tesmora-floor >/dev/null
sig="$native/src/tesmora-sig"
fixture="$native/tests/tesmora-fixture"
exe="$mingw/src/tesmora.exe"
floor="$mingw/tests/tesmora-floor.exe"
if [ -n "$programs" ]; then sig="$programs/tesmora-sig"; exe="$programs/tesmora.exe"; echo "programs from $programs"; fi

bench="$root/build/product-bench"
drive="$bench/drive"
recipe="pe-copies=5 data=13500 seed=15 planted=4 v3"
mkdir -p "$bench"
if [ "$new_drive" -eq 1 ] || [ "$(cat "$bench/drive.recipe" 2>/dev/null)" != "$recipe" ]; then
  echo "making the drive ..."
  rm -rf "$drive" "$bench/drive.recipe"
  for copy in 0 1 2 3 4; do
    for d in /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/i386-linux-gnu/wine/i386-windows; do
      [ -d "$d" ] || continue
      mkdir -p "$drive/pe/copy$copy/$(basename "$d")"
      find "$d" -maxdepth 1 -type f \( -name '*.dll' -o -name '*.exe' -o -name '*.drv' -o -name '*.sys' -o -name '*.ocx' \) \
        -exec cp -t "$drive/pe/copy$copy/$(basename "$d")/" {} +
    done
  done
  # Ordinary data files: text, bytes and a few MZ-led non-executables (one in
  # 49), of sizes from 40 bytes to 256 KB (a tenth of them 312 bytes or less),
  # in folders of 250.
  python3 - "$drive/data" <<'PY'
import os, random, sys
top = sys.argv[1]
rng = random.Random(15)
words = open("/usr/share/dict/words").read().split() if os.path.exists("/usr/share/dict/words") else \
    ["alpha", "beta", "gamma", "delta", "drive", "scan", "file", "report", "table", "index"]
for i in range(13500):
    folder = os.path.join(top, "d%03d" % (i // 250))
    os.makedirs(folder, exist_ok=True)
    size = rng.randint(40, 312) if i % 10 == 0 else int(2 ** rng.uniform(8.3, 18))
    kind = i % 7
    if kind in (0, 1, 2):
        text = " ".join(rng.choice(words) for _ in range(size // 5 + 1)).encode()[:size]
        name, data = "note%05d.txt" % i, text
    elif kind == 3 and i % 49 == 3:
        # An MZ-led file that is no PE executable: a DOS program's header
        # (e_lfanew 0), or once in ten a header of random bytes.
        head = bytearray(rng.randbytes(64) if hasattr(rng, "randbytes") else os.urandom(64))
        head[0:2] = b"MZ"
        if i % 490 != 3:
            head[60:64] = bytes(4)
        data = bytes(head) + bytes(rng.getrandbits(8) for _ in range(max(0, min(size, 2048) - 64))) + bytes(max(0, size - 2048))
        name = "prog%05d.exe" % i
    else:
        data = rng.randbytes(size) if hasattr(rng, "randbytes") else os.urandom(size)
        name = "data%05d.dat" % i
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)
PY
  mkdir -p "$drive/planted"
  echo "$recipe" >"$bench/drive.recipe"
fi

# Signatures (as bench/scan_bench.sh): the carried script's file signatures and
# forged bytes of the four built-in records, in each tool's rule format; one
# planted sample for each of a few of them (written again for every run, as
# tesmora.exe removes or repairs them).
work="$(mktemp -d "${TMPDIR:-/tmp}/product-scan.XXXXXX")"
prefix=""
xvfb=""
cleanup() {
  if [ -n "$prefix" ]; then WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true; rm -rf "$prefix"; fi
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
# Signatures of every tool and the planted samples (bench/signatures.sh).
# shellcheck source=signatures.sh
. "$root/bench/signatures.sh"
write_signatures "$root" "$fixture" "$work"
plant() { plant_samples "$drive/planted" "$fixture" "$work"; }
plant
expected="mytob.exe netsky.exe sober.dll stanit.exe"

files=$(find "$drive" -type f | wc -l)
pe_files=$(find "$drive/pe" "$drive/planted" -type f | wc -l)
mb=$(du -sm "$drive" | cut -f1)
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
echo "drive: $files files ($pe_files PE, $((files - pe_files)) data files), $mb MB; signatures: $signatures"

# One Wine prefix for every Windows run (made by wine_run.sh, kept), its
# server kept running between the runs, and a private display (the program
# makes its window even in silent mode).
display=""
for n in $(seq 120 220); do
  if [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; then continue; fi
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb" 2>/dev/null; then display=":$n"; break; fi
  kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; xvfb=""
done
[ -n "$display" ] || { echo "no display for the program (Xvfb)" >&2; exit 1; }
export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;unicows=n"
export TESMORA_TEST_ADMINISTRATOR=1
mkdir -p "$work/empty"
prefix=$(cd "$work" && TESMORA_WINE_TEMPLATE="$bench/wine-template" bash "$root/tests/support/wine_run.sh" --keep \
  --drive "D=$drive" --drive "E=$work/empty" --drive "F=$drive/pe/copy0" --drive "G=$drive/data" \
  -- "$floor" memory 2>&1 >/dev/null | sed -n 's/^wine_run: prefix kept at //p')
[ -n "$prefix" ] || { echo "could not make a Wine prefix" >&2; exit 1; }
export WINEPREFIX="$prefix" DISPLAY="$display"
wineserver -p
onwine() { (cd "$work" && /usr/lib/wine/wine64 "$@") | tr -d '\r'; return "${PIPESTATUS[0]}"; }

now() { date +%s.%N; }
best() { sort -g | head -1; }
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
log_time() {  # log_time LOG PHASE: the log's elapsed seconds of the memory or file phase
  iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r' | sed -n "s/^elapsed time for $2 scan:[[:space:]]*\([0-9.]*\) seconds$/\1/p"
}
log_rate() {  # log_rate LOG: the log's memory-scan throughput in MB/s
  iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r' |
    sed -n 's/^average memory scanner throughput:[[:space:]]*\([0-9.]*\) KB\/s$/\1/p' | awk '{printf "%.1f\n", $1 / 1024}'
}
log_hits() { iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r' | sed -n 's/.* was found in file .*\\\([^\\]*\) !$/\1/p' | sort -u | tr '\n' ' ' | sed 's/ $//'; }
sig_hits() { cut -f1 "$1" | xargs -rn1 basename | sort -u | tr '\n' ' ' | sed 's/ $//'; }
run_product() {  # run_product NAME: tesmora.exe on D: logging to $work/NAME, the planted samples written first; prints wall seconds
  plant
  local t0 t1
  t0=$(now)
  local rc=0
  onwine "$exe" /SILENT /LOG "$1" D: >/dev/null 2>&1 || rc=$?
  t1=$(now)
  [ -f "$work/$1" ] || echo "tesmora.exe wrote no log $1 (exit code $rc, display $DISPLAY)" >&2
  echo "$t1 - $t0" | bc
}
drop_caches() { sync; (echo 3 >/proc/sys/vm/drop_caches) 2>/dev/null; }
fmt() { printf '%.2f' "$1"; }
list() { xargs printf '%.2f ' <"$1"; }

# Warm the page cache with what the scans read.
cat "$drive"/planted/* >/dev/null
onwine "$floor" files D: >/dev/null
"$sig" scan "$drive" >/dev/null 2>&1 || true

echo "running $rounds rounds ..."
: >"$work/floor.t"; : >"$work/product.t"; : >"$work/product.wall"; : >"$work/sig.t"; : >"$work/mem.floor"; : >"$work/mem.product"; : >"$work/mem.product.rate"
for r in $(seq "$rounds"); do
  onwine "$floor" files D: >"$work/floor.out"
  awk '{print $NF}' "$work/floor.out" >>"$work/floor.t"
  run_product "product$r.log" >>"$work/product.wall"
  log_time "$work/product$r.log" file >>"$work/product.t"
  log_time "$work/product$r.log" memory >>"$work/mem.product"
  log_rate "$work/product$r.log" >>"$work/mem.product.rate"
  onwine "$floor" memory >"$work/memory.out"
  echo "$(awk '{print $NF}' "$work/memory.out") $(awk '{print $6}' "$work/memory.out")" >>"$work/mem.floor"
  plant
  t0=$(now); "$sig" scan "$drive" >"$work/sig.out" 2>"$work/sig.err" || true; t1=$(now)
  echo "$t1 - $t0" | bc >>"$work/sig.t"
done
if [ "$engines" -eq 1 ]; then
  echo "clamscan and yara (once) ..."
  plant
  t0=$(now); clamscan --no-summary --infected -r -d "$work/db.ndb" "$drive" >"$work/clam.out" 2>/dev/null || true; t1=$(now)
  clam_t=$(echo "$t1 - $t0" | bc)
  t0=$(now); yara -p 1 -r "$work/rules.yar" "$drive" >"$work/yara.out" 2>/dev/null || true; t1=$(now)
  yara_t=$(echo "$t1 - $t0" | bc)
fi

echo "cold cache ..."
cold="yes"
drop_caches || cold="no"
if [ "$cold" = yes ]; then
  plant
  drop_caches
  onwine "$floor" files D: >"$work/floor.cold"
  cold_floor=$(awk '{print $NF}' "$work/floor.cold")
  drop_caches
  run_product "product.cold.log" >/dev/null
  cold_product=$(log_time "$work/product.cold.log" file)
  plant
  drop_caches
  t0=$(now); "$sig" scan "$drive" >/dev/null 2>&1 || true; t1=$(now)
  cold_sig=$(echo "$t1 - $t0" | bc)
fi

echo "counting file-system calls ..."
# tesmora-sig: every system call over the whole drive, and over the data files alone.
strace -c -f -o "$work/strace.all" "$sig" scan "$drive" >/dev/null 2>&1 || true
strace -c -f -o "$work/strace.data" "$sig" scan "$drive/data" >/dev/null 2>&1 || true
strace -c -f -o "$work/strace.none" "$sig" scan "$work/empty" >/dev/null 2>&1 || true
calls() {  # calls STRACE_TABLE [SYSCALL]: the calls of one system call, or of all
  awk -v name="${2:-total}" '$NF == name {print $4; found = 1} END {if (!found) print 0}' "$1"
}
data_files=$(find "$drive/data" -type f | wc -l)
data_dirs=$(find "$drive/data" -type d | wc -l)
sample_pe=$(find "$drive/pe/copy0" -type f | wc -l)
sig_all=$(echo "scale=2; ($(calls "$work/strace.all") - $(calls "$work/strace.none")) / $files" | bc)
sig_data_all=$(( $(calls "$work/strace.data") - $(calls "$work/strace.none") ))
# Listing the folders (opendir's openat and fstat, getdents64, close) is no
# call for any one file.
sig_data_dirs=$(( $(calls "$work/strace.data" getdents64) - $(calls "$work/strace.none" getdents64) + 3 * (data_dirs - 1) ))
sig_data=$(echo "scale=2; ($sig_data_all - $sig_data_dirs) / $data_files" | bc)
# The Windows programs: Wine's relay trace of the file functions they call,
# on the PE files of one copy (F:), on the data files (G:) and on an empty
# drive (E:) whose calls are taken off; only calls from the program itself
# (its image at 0x140000000) count.
functions="CreateFileW;CloseHandle;ReadFile;SetFilePointer;SetFilePointerEx;GetFileSize;GetFileSizeEx;BackupRead;BackupSeek;FindFirstFileW;FindNextFileW;FindClose;GetFileInformationByHandle;NtQueryInformationFile;NtReadFile"
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d "$functions" /f >/dev/null 2>&1
relay_count() {  # relay_count PROGRAM ARGS...: the calls it made
  (cd "$work" && WINEDEBUG=+relay /usr/lib/wine/wine64 "$@" 2>&1 >/dev/null) |
    grep -E ':Call [A-Za-z0-9_]+\.[A-Za-z0-9_]+\(.*\) ret=14[0-9a-f]{7}$' | grep -c . || true
}
plant
p_none=$(relay_count "$exe" /SILENT /NOLOG E:)
p_pe=$(relay_count "$exe" /SILENT /NOLOG F:)
p_data=$(relay_count "$exe" /SILENT /NOLOG G:)
f_none=$(relay_count "$floor" files E:)
f_pe=$(relay_count "$floor" files F:)
f_data=$(relay_count "$floor" files G:)
/usr/lib/wine/wine64 reg delete 'HKCU\Software\Wine\Debug' /v RelayInclude /f >/dev/null 2>&1
per() { echo "scale=2; ($1 - $2) / $3" | bc; }

# Results.
floor_b=$(best <"$work/floor.t"); product_b=$(best <"$work/product.t"); sig_b=$(best <"$work/sig.t")
wall_b=$(best <"$work/product.wall")
row() { printf '%-44s %8s %8s %9s   %s\n' "$@"; }
echo
echo "drive scan, warm cache: $files files, $pe_files PE (seconds of each round; best; files/s)"
row "what" "best" "median" "files/s" "rounds"
row "tesmora-floor.exe files D: (Wine)" "$(fmt "$floor_b")" "$(fmt "$(median <"$work/floor.t")")" "$(echo "$files / $floor_b" | bc)" "$(list "$work/floor.t")"
row "tesmora.exe D:, log's file-scan time (Wine)" "$(fmt "$product_b")" "$(fmt "$(median <"$work/product.t")")" "$(echo "$files / $product_b" | bc)" "$(list "$work/product.t")"
row "tesmora.exe D:, wall time (Wine)" "$(fmt "$wall_b")" "$(fmt "$(median <"$work/product.wall")")" "-" "$(list "$work/product.wall")"
row "tesmora-sig scan (native)" "$(fmt "$sig_b")" "$(fmt "$(median <"$work/sig.t")")" "$(echo "$files / $sig_b" | bc)" "$(list "$work/sig.t")"
if [ "$engines" -eq 1 ]; then
  row "clamscan (native, once)" "$(fmt "$clam_t")" "-" "$(echo "$files / $clam_t" | bc)" ""
  row "yara -p 1 (native, once)" "$(fmt "$yara_t")" "-" "$(echo "$files / $yara_t" | bc)" ""
fi
echo
echo "file-system calls per file"
printf '%-44s %10s %10s\n' "program" "PE files" "data files"
printf '%-44s %10s %10s\n' "tesmora-floor.exe (relay trace)" "$(per "$f_pe" "$f_none" "$sample_pe")" "$(per "$f_data" "$f_none" "$data_files")"
printf '%-44s %10s %10s\n' "tesmora.exe (relay trace)" "$(per "$p_pe" "$p_none" "$sample_pe")" "$(per "$p_data" "$p_none" "$data_files")"
printf '%-44s %10s %10s\n' "tesmora-sig (strace -c -f, all system calls)" "$sig_all (all)" "$(echo "scale=2; $sig_data_all / $data_files" | bc)"
printf '%-44s %10s %10s\n' "  the same without listing the folders" "" "$sig_data"
echo "  (PE files: one copy of the Wine executables, $sample_pe files; data files: $data_files files in $((data_dirs - 1)) folders;"
echo "   the calls of a run over an empty folder or drive are taken off)"
echo
if [ "$cold" = yes ]; then
  echo "cold cache (page cache dropped before each):"
  row "tesmora-floor.exe files D:" "$(fmt "$cold_floor")" "" "$(echo "$files / $cold_floor" | bc)" ""
  row "tesmora.exe D:, log's file-scan time" "$(fmt "$cold_product")" "" "$(echo "$files / $cold_product" | bc)" ""
  row "tesmora-sig scan" "$(fmt "$cold_sig")" "" "$(echo "$files / $cold_sig" | bc)" ""
else
  echo "cold cache: not measured (the page cache cannot be dropped here: /proc/sys/vm/drop_caches is not writable)"
fi
echo
mem_floor_t=$(awk '{print $1}' "$work/mem.floor" | best)
mem_floor_mb=$(awk '{print $2}' "$work/mem.floor" | head -1)
mem_product_t=$(best <"$work/mem.product")
echo "memory scan, same prefix (seconds of each round)"
awk '{print $1}' "$work/mem.floor" >"$work/mem.floor.t"
row "tesmora-floor.exe memory (64 KB blocks)" "$(fmt "$mem_floor_t")" "$(fmt "$(median <"$work/mem.floor.t")")" \
  "$(echo "$mem_floor_mb / 1048576 / $mem_floor_t" | bc) MB/s" "$(list "$work/mem.floor.t")"
mem_floor_rate=$(echo "scale=1; $mem_floor_mb / 1048576 / $mem_floor_t" | bc)
mem_product_rate=$(sort -g "$work/mem.product.rate" | tail -1)
row "tesmora.exe memory phase (log)" "$(fmt "$mem_product_t")" "$(fmt "$(median <"$work/mem.product")")" "$mem_product_rate MB/s" "$(list "$work/mem.product")"
echo "  (the floor: $(cat "$work/memory.out"); the program reads each module file once, in blocks of"
echo "   65,536 bytes stepping 64,512, and scans each process's executable file; MB/s of the program: its log's throughput)"
echo
echo "hits"
product_hits=$(log_hits "$work/product1.log")
sig_h=$(sig_hits "$work/sig.out")
tools=("tesmora.exe:$product_hits" "tesmora-sig:$sig_h")
if [ "$engines" -eq 1 ]; then
  tools+=("clamscan:$(sed -n 's/: .* FOUND$//p' "$work/clam.out" | xargs -rn1 basename | sort -u | tr '\n' ' ' | sed 's/ $//')")
  tools+=("yara:$(awk '{print $2}' "$work/yara.out" | xargs -rn1 basename | sort -u | tr '\n' ' ' | sed 's/ $//')")
fi
agree=yes
for h in "${tools[@]}"; do
  printf '  %-12s %s\n' "${h%%:*}" "${h#*:}"
  [ "${h#*:}" = "$expected" ] || agree=no
done
for r in $(seq 2 "$rounds"); do [ "$(log_hits "$work/product$r.log")" = "$expected" ] || agree=no; done
grep -h "scanned files\|infected files\|scanned streams" <(iconv -f UTF-16LE -t UTF-8 "$work/product1.log" | tr -d '\r') | tr -s '\t' ' ' | sed 's/^/  tesmora.exe /'
echo "  tesmora-sig $(cat "$work/sig.err")"

echo
goal() { if [ "$1" = 1 ]; then echo "MET     $2"; else echo "MISSED  $2"; fi; }
ratio=$(echo "scale=3; $floor_b / $product_b" | bc)
goal "$(echo "$ratio >= 0.8" | bc)" "tesmora.exe's file scan at $(echo "$ratio * 100" | bc | cut -d. -f1) % of the floor's speed (goal 80 %)"
goal "$(echo "$sig_data <= 3" | bc)" "tesmora-sig: $sig_data system calls per data file (goal at most 3)"
goal "$([ "$agree" = yes ] && echo 1 || echo 0)" "every tool flagged exactly: $expected"
if [ "$cold" = yes ]; then
  goal 1 "cold-cache round measured (floor $cold_floor s, tesmora.exe $cold_product s)"
else
  goal 0 "cold-cache round: the page cache cannot be dropped here"
fi
mem_ratio=$(echo "scale=3; $mem_product_rate / $mem_floor_rate" | bc)
goal "$(echo "$mem_ratio >= 0.8" | bc)" "memory phase reads at $(echo "$mem_ratio * 100" | bc | cut -d. -f1) % of the floor's MB/s (goal within 20 %)"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
