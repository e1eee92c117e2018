#!/usr/bin/env bash
# Builds the benchmark (Release, -O2) in build/sig-bench and runs it.
# usage: bench/run.sh [--mb N] [--dir PE_FOLDER] [--repeat N] [--only ENGINE_NAME_PREFIX]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TESMORA_BENCH_BUILD:-$root/build/sig-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DTESMORA_BENCH=ON -DTESMORA_TESTS=OFF >/dev/null
ninja -C "$build" -j2 tesmora_bench >/dev/null
exec "$build/bench/tesmora_bench" "$@"
