#!/usr/bin/env bash
# Sets up the machine, builds the analyst tool and the Windows program, and
# checks the malware description script the program carries.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh release
bash scripts/build.sh mingw64 >/dev/null
echo "Windows program: build/mingw64/src/tesmora.exe"
echo "Embedded script, as the program parses it:"
build/release/src/tesmora-sig check
