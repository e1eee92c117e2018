#!/usr/bin/env bash
# Installs what the build and the tests need, as root (or through sudo). Safe
# to run again: what is present is skipped, a partly failing `apt-get update`
# is tolerated, and a failed download is retried once.
#
# The 32-bit Windows build is tested under Wine's 32-bit half (wine32:i386),
# which runs through QEMU's user-mode emulation (qemu-i386, registered with
# binfmt_misc) on machines whose kernel does not run 32-bit programs. QEMU
# comes from bookworm-backports on Debian 12: the 7.2 of bookworm takes about
# 50 s to start each 32-bit Wine process (Wine's address-space reservation
# meets a slow mmap there), 10.0 a quarter of a second. A machine that refuses
# any of this fails here, loudly.
set -u

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

packages=(
  cmake ninja-build g++ clang python3 python3-jsonschema googletest
  g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386
  xvfb x11-utils imagemagick xxd
  libyara-dev libhyperscan-dev pkg-config
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture (for wine32)"
  $SUDO dpkg --add-architecture i386 || { echo "setup: dpkg --add-architecture i386 failed" >&2; exit 1; }
fi

# QEMU's release: the backports' one where the system's is too old.
qemu_release=""
. /etc/os-release
if [ "${VERSION_CODENAME:-}" = bookworm ]; then
  qemu_release=bookworm-backports
  list=/etc/apt/sources.list.d/bookworm-backports.list
  if ! grep -rqs "bookworm-backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "deb http://deb.debian.org/debian bookworm-backports main" | $SUDO tee "$list" >/dev/null
  fi
fi
qemu_ok() {
  local v
  v="$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null)" || return 1
  dpkg --compare-versions "$v" ge 1:8.0
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -ne 0 ]; then
  echo "setup: installing ${missing[*]}"
  # A mirror in mid-sync makes some lists fail; what did download is still usable.
  $SUDO apt-get update -q || echo "setup: apt-get update failed partly, going on"
  install() { $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"; }
  if ! install; then
    echo "setup: install failed, refreshing lists and retrying once"
    $SUDO apt-get update -q || true
    install || { echo "setup: could not install ${missing[*]}" >&2; exit 1; }
  fi
else
  echo "setup: all packages present"
fi
if ! qemu_ok; then
  echo "setup: installing qemu-user-static${qemu_release:+ from $qemu_release}"
  $SUDO apt-get update -q || echo "setup: apt-get update failed partly, going on"
  $SUDO apt-get install -y -q --no-install-recommends ${qemu_release:+-t "$qemu_release"} qemu-user-static &&
    qemu_ok || { echo "setup: could not install qemu-user-static 8.0 or later" >&2; exit 1; }
fi

# 32-bit programs: the kernel's own ELF loader when it runs them, else QEMU
# through binfmt_misc.
probe=/usr/lib/wine/wine   # Wine's 32-bit loader, an i386 ELF program
runs_32bit() { "$probe" --version >/dev/null 2>&1; }
binfmt=/proc/sys/fs/binfmt_misc
# i386 ELF executables and shared objects; F: the interpreter is opened at
# registration, so it serves other mount namespaces too, and a registration
# older than the installed QEMU still holds the old one: register anew.
register_qemu() {
  if [ -e "$binfmt/qemu-i386" ]; then echo -1 | $SUDO tee "$binfmt/qemu-i386" >/dev/null; fi
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':qemu-i386:M::%s:%s:/usr/bin/qemu-i386-static:F\n' "$magic" "$mask" | $SUDO tee "$binfmt/register" >/dev/null ||
    { echo "setup: registering qemu-i386 with binfmt_misc failed" >&2; exit 1; }
}
if [ -e "$binfmt/qemu-i386" ]; then register_qemu; fi
if ! runs_32bit; then
  if [ ! -e "$binfmt/register" ]; then
    $SUDO mount -t binfmt_misc binfmt_misc "$binfmt" ||
      { echo "setup: cannot mount binfmt_misc; 32-bit programs cannot run here" >&2; exit 1; }
  fi
  register_qemu
  runs_32bit || { echo "setup: Wine's 32-bit loader still does not run ($probe)" >&2; exit 1; }
  echo "setup: 32-bit programs run through qemu-i386"
fi
