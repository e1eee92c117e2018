#!/usr/bin/env bash
# Runs a Windows program under Wine in a fresh, private prefix and returns its
# exit code.
#
#   wine_run.sh [--version win98|nt40|winxp] [--drive L=DIR]... [--display]
#               [--dpi N] [--wow64] [--link REL=DIR]... [--keep] -- PROGRAM.exe [ARGS]...
#
# A 64-bit PROGRAM runs in a 64-bit prefix through Wine's 64-bit loader; a
# 32-bit one in a 32-bit prefix (as on Windows 9x/ME, NT 4.0 and 2000/XP)
# through the 32-bit loader, or with --wow64 in a 64-bit prefix (WOW64).
#
#   --version  the Windows version PROGRAM sees (AppDefaults of its file name)
#   --drive    maps drive letter L to the folder DIR (a dosdevices link); DIR
#              "@empty" is a fresh empty folder, removed with the prefix
#   --display  runs PROGRAM on a private Xvfb display (1024 x 768 pixels at
#              96 dpi, as many more as --dpi asks for more dots per inch)
#   --dpi      the screen's resolution in dots per inch (LogPixels; Wine's
#              default is 96)
#   --link     REL=DIR: the prefix's folder REL (e.g. drive_c/windows; @temp/
#              stands for the user's temporary folder) is replaced by a link to
#              DIR, which gets its content first; DIR "@empty" is a fresh folder
#   --keep     leaves the prefix in place and prints its path (for debugging)
#
# The environment of PROGRAM gets WINE_RUN_VERSION (the version asked for, or
# "default") and WINE_RUN_ARCH (win32 or win64, the prefix's). When
# TESMORA_WINE_TEMPLATE names a folder, its win32 or win64 subfolder, once
# initialised, is copied instead of creating a new prefix, which saves Wine's
# first-start cost; a missing one is made there first.
set -u

version=""
dpi=""
drives=()
links=()
display=0
keep=0
wow64=0
while [ $# -gt 0 ]; do
  case "$1" in
    --version) version="$2"; shift 2 ;;
    --drive) drives+=("$2"); shift 2 ;;
    --link) links+=("$2"); shift 2 ;;
    --display) display=1; shift ;;
    --dpi) dpi="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    --wow64) wow64=1; shift ;;
    --) shift; break ;;
    *) echo "wine_run: unknown option $1" >&2; exit 125 ;;
  esac
done
if [ $# -lt 1 ]; then echo "wine_run: no program given" >&2; exit 125; fi
program="$1"; shift
case "$version" in ""|win98|nt40|winxp) ;; *) echo "wine_run: unknown version $version" >&2; exit 125 ;; esac
case "$dpi" in ""|[1-9]|[1-9][0-9]|[1-9][0-9][0-9]) ;; *) echo "wine_run: bad dpi $dpi" >&2; exit 125 ;; esac

# The machine field of the PE header: 014c i386, 8664 x86-64.
pe_machine() {
  local at
  at=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') || return 1
  od -An -tx2 -j$((at + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}
case "$(pe_machine "$program")" in
  8664) arch=win64; loader=/usr/lib/wine/wine64 ;;
  014c) if [ "$wow64" -eq 1 ]; then arch=win64; else arch=win32; fi; loader=/usr/lib/wine/wine ;;
  *) echo "wine_run: $program is no i386 or x86-64 PE program" >&2; exit 125 ;;
esac
[ -x "$loader" ] || { echo "wine_run: $loader is missing (scripts/setup.sh installs it)" >&2; exit 125; }
# Wine's own tools run through the prefix's native loader; so do the services
# a 64-bit prefix starts, which keeps them out of the 32-bit emulation.
if [ "$arch" = win64 ]; then export WINELOADER=/usr/lib/wine/wine64; else export WINELOADER=/usr/lib/wine/wine; fi
export WINEARCH=$arch

export WINEDEBUG=${WINEDEBUG:--all}
# unicows=n: the project's test stand-in, never Wine's own unicows.dll.
# TESMORA_EXTRA_DLL_OVERRIDES adds overrides of a test's own.
export WINEDLLOVERRIDES="mscoree,mshtml=;unicows=n${TESMORA_EXTRA_DLL_OVERRIDES:+;$TESMORA_EXTRA_DLL_OVERRIDES}"
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
    Xvfb ":$n" -screen 0 "$((1024 * ${dpi:-96} / 96))x$((768 * ${dpi:-96} / 96))x24" -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    export DISPLAY=":$n"
    break
  done
else
  unset DISPLAY
fi

# new_prefix DIR: an initialised prefix of $arch in DIR.
new_prefix() {
  WINEPREFIX="$1" "$WINELOADER" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$1" wineserver -w
  [ -f "$1/system.reg" ]
}
template=""
if [ -n "${TESMORA_WINE_TEMPLATE:-}" ]; then
  template="$TESMORA_WINE_TEMPLATE/$arch"
  # Several runs may want the template at once: one makes it, under a lock.
  mkdir -p "$TESMORA_WINE_TEMPLATE"
  (
    flock 9
    if [ ! -f "$template/system.reg" ]; then
      rm -rf "$template.new" && mkdir -p "$template.new" && new_prefix "$template.new" && mv "$template.new" "$template"
    fi
  ) 9>"$TESMORA_WINE_TEMPLATE/.lock"
fi
if [ -n "$template" ] && [ -f "$template/system.reg" ]; then
  cp -a "$template/." "$WINEPREFIX/"
  # The copied links still point to the template's drive_c.
  ln -sfn ../drive_c "$WINEPREFIX/dosdevices/c:"
else
  new_prefix "$WINEPREFIX" || { echo "wine_run: Wine could not make a $arch prefix" >&2; exit 125; }
fi

if [ -n "$version" ]; then
  "$WINELOADER" reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$program")" \
    /v Version /d "$version" /f >/dev/null 2>&1 ||
    { echo "wine_run: could not set the version" >&2; exit 125; }
fi
if [ -n "$dpi" ]; then
  "$WINELOADER" reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 ||
    { echo "wine_run: could not set the dpi" >&2; exit 125; }
fi
for d in "${drives[@]}"; do
  letter="$(printf '%s' "${d%%=*}" | tr 'A-Z' 'a-z')"
  dir="${d#*=}"
  if [ "$dir" = "@empty" ]; then dir="$WINEPREFIX/drive-$letter"; mkdir -p "$dir"; fi
  ln -sfn "$(cd "$dir" && pwd)" "$WINEPREFIX/dosdevices/$letter:"
done

n=0
for l in "${links[@]}"; do
  rel="${l%%=*}"; dir="${l#*=}"
  rel="${rel/#@temp\//drive_c/users/$(id -un)/Temp/}"
  if [ "$dir" = "@empty" ]; then n=$((n + 1)); dir="$WINEPREFIX/link-$n"; mkdir -p "$dir"; fi
  if [ -d "$WINEPREFIX/$rel" ]; then cp -a "$WINEPREFIX/$rel/." "$dir/" && rm -rf "${WINEPREFIX:?}/$rel"; fi
  mkdir -p "$(dirname "$WINEPREFIX/$rel")" && ln -sfn "$(cd "$dir" && pwd)" "$WINEPREFIX/$rel"
done

export WINE_RUN_VERSION="${version:-default}"
export WINE_RUN_ARCH=$arch
"$loader" "$program" "$@"
rc=$?
# Windows exit codes are 32-bit; the shell keeps the low byte.
exit $rc
