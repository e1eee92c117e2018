# Shared by the scan benchmarks (sourced): the same signatures for every tool
# and the planted synthetic samples.

# write_signatures ROOT FIXTURE WORK: the carried script's file signatures
# (WORK/script.hex) and forged bytes of the four built-in records
# (WORK/builtin.hex) as a ClamAV database (WORK/db.ndb) and YARA rules
# (WORK/rules.yar); sets `signatures` to their count.
write_signatures() {
  local root=$1 fixture=$2 work=$3 hex
  grep -a -o -E 'SIGNATURE_FILE[[:space:]]+[0-9A-Fa-f]+' <(iconv -f UTF-16LE -t UTF-8 "$root/resources/embedded_script.txt") |
    awk '{print $2}' >"$work/script.hex"
  for n in 0 1 2 3; do "$fixture" --hex-builtin $n; done >"$work/builtin.hex"
  signatures=0
  : >"$work/db.ndb"
  : >"$work/rules.yar"
  while read -r hex; do
    signatures=$((signatures + 1))
    echo "Tesmora.Sig$signatures:0:*:$hex" >>"$work/db.ndb"
    printf 'rule sig%d { strings: $a = { %s } condition: $a }\n' "$signatures" "$hex" >>"$work/rules.yar"
  done < <(cat "$work/script.hex" "$work/builtin.hex")
}

# plant_samples DIR FIXTURE WORK: four synthetic samples in DIR (made anew),
# one for each of a few signatures of write_signatures.
plant_samples() {
  local dir=$1 fixture=$2 work=$3
  rm -rf "$dir" && mkdir -p "$dir"
  "$fixture" "$dir/stanit.exe" --builtin 3
  "$fixture" "$dir/sober.dll" --dll --pe32plus --builtin 1
  "$fixture" "$dir/netsky.exe" --plant "$(sed -n 3p "$work/script.hex")"
  "$fixture" "$dir/mytob.exe" --pe32plus --plant "$(sed -n 8p "$work/script.hex")"
}
