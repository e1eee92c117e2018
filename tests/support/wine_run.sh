#!/usr/bin/env bash
# Runs a Windows program under Wine in a fresh, private prefix and returns its
# exit code.
#
#   wine_run.sh [--version win98|nt40|winxp] [--drive L=DIR]... [--display]
#               [--keep] -- PROGRAM.exe [ARGS]...
#
#   --version  the Windows version PROGRAM sees (AppDefaults of its file name)
#   --drive    maps drive letter L to the folder DIR (a dosdevices link); DIR
#              "@empty" is a fresh empty folder, removed with the prefix
#   --display  runs PROGRAM on a private Xvfb display
#   --keep     leaves the prefix in place and prints its path (for debugging)
#
# The environment of PROGRAM gets WINE_RUN_VERSION (the version asked for, or
# "default"). TESMORA_WINE_TEMPLATE, when it names an initialised prefix, is
# copied instead of creating a new one, which saves Wine's first-start cost.
set -u

version=""
drives=()
display=0
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --version) version="$2"; shift 2 ;;
    --drive) drives+=("$2"); shift 2 ;;
    --display) display=1; shift ;;
    --keep) keep=1; shift ;;
    --) shift; break ;;
    *) echo "wine_run: unknown option $1" >&2; exit 125 ;;
  esac
done
if [ $# -lt 1 ]; then echo "wine_run: no program given" >&2; exit 125; fi
program="$1"; shift
case "$version" in ""|win98|nt40|winxp) ;; *) echo "wine_run: unknown version $version" >&2; exit 125 ;; esac

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX
WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/tesmora-wine.XXXXXX")"
xvfb_pid=""

cleanup() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  if [ "$keep" -eq 0 ]; then rm -rf "$WINEPREFIX"; else echo "wine_run: prefix kept at $WINEPREFIX" >&2; fi
}
trap cleanup EXIT

if [ "$display" -eq 1 ]; then
  for n in $(seq 90 190); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    export DISPLAY=":$n"
    break
  done
else
  unset DISPLAY
fi

if [ -n "${TESMORA_WINE_TEMPLATE:-}" ] && [ -f "$TESMORA_WINE_TEMPLATE/system.reg" ]; then
  cp -a "$TESMORA_WINE_TEMPLATE/." "$WINEPREFIX/"
  # The copied links still point to the template's drive_c.
  ln -sfn ../drive_c "$WINEPREFIX/dosdevices/c:"
else
  wineboot -i >/dev/null 2>&1
fi

if [ -n "$version" ]; then
  wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$program")" \
    /v Version /d "$version" /f >/dev/null 2>&1 ||
    { echo "wine_run: could not set the version" >&2; exit 125; }
fi
for d in "${drives[@]}"; do
  letter="$(printf '%s' "${d%%=*}" | tr 'A-Z' 'a-z')"
  dir="${d#*=}"
  if [ "$dir" = "@empty" ]; then dir="$WINEPREFIX/drive-$letter"; mkdir -p "$dir"; fi
  ln -sfn "$(cd "$dir" && pwd)" "$WINEPREFIX/dosdevices/$letter:"
done

export WINE_RUN_VERSION="${version:-default}"
wine "$program" "$@"
rc=$?
# Windows exit codes are 32-bit; the shell keeps the low byte.
exit $rc
