#!/usr/bin/env bash
# Configures and builds one of the project's builds into build/<name>.
#   build.sh native|release|tsan|mingw64|mingw32|fuzz [TARGET]...
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
name="$1"; shift
jobs="${TESMORA_JOBS:-2}"
# The Windows builds carry Wine's PSAPI.DLL of their architecture, when there
# is one, so that the NT 4.0 path runs for real under Wine.
wine_psapi() {
  local f="/usr/lib/x86_64-linux-gnu/wine/$1-windows/psapi.dll"
  if [ -f "$f" ]; then echo "$f"; fi
}
case "$name" in
  native)  args=(-DTESMORA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  tsan)    args=(-DTESMORA_TSAN=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  release) args=(-DCMAKE_BUILD_TYPE=Release -DTESMORA_TESTS=OFF) ;;
  mingw64) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release
           -DTESMORA_PSAPI_DLL="$(wine_psapi x86_64)") ;;
  mingw32) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release
           -DTESMORA_PSAPI_DLL="$(wine_psapi i386)") ;;
  fuzz)    args=(-DTESMORA_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "build.sh: unknown build $name" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$root/build/$name" -G Ninja "${args[@]}" >/dev/null
ninja -C "$root/build/$name" -j "$jobs" "$@"
