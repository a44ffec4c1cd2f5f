#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine (run as root),
# starts cupsd and adds the test printers. Safe to run again: it only does what is missing.
set -euo pipefail

say() { printf '[setup] %s\n' "$*"; }

packages=(
  cmake make gcc g++ gcc-multilib binutils g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64
  qemu-user-static xvfb x11-utils cups cups-client cups-bsd printer-driver-cups-pdf libcups2
  googletest python3 python3-pefile python3-pil locales zip unzip
  clang libclang-rt-14-dev libbenchmark-dev
  wixl msitools python3-olefile osslsigncode openssl libengine-pkcs11-openssl softhsm2
)
# 32-bit Wine, and the 32-bit CUPS library it needs to see printers, where 32-bit code runs.
i386_packages=(wine32:i386 libcups2:i386)
# Where it does not: the emulator, and the tools that make its small initramfs.
emulated_machine_packages=(qemu-system-x86 busybox-static cpio)

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

install_packages() {
  say "installing: $*"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

mapfile -t missing < <(missing_of "${packages[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  install_packages "${missing[@]}"
else
  say "all packages present"
fi

# Whether this machine executes 32-bit x86 code natively, decided once here and written to
# build/executes-i686 for the build and the runs. A 64-bit program far-calls 32-bit code that
# makes a 32-bit system call (scripts/executes_i686.c): that answers for the processor and the
# kernel together, and no emulator registered for 32-bit programs can answer in their place.
executes_i686() {
  local dir answer=no
  dir=$(mktemp -d /tmp/qvprinter-probe.XXXXXX)
  if ! gcc -O1 -o "$dir/executes_i686" scripts/executes_i686.c 2>"$dir/log"; then
    say "cannot build the 32-bit probe, so taking this machine as one without 32-bit code:" >&2
    cat "$dir/log" >&2
  elif "$dir/executes_i686" 2>"$dir/log"; then
    answer=yes
  else
    say "probe: $(cat "$dir/log")" >&2
  fi
  rm -rf "$dir"
  echo "$answer"
}
mkdir -p build
executes=$(executes_i686)
echo "$executes" >build/executes-i686
if [ "$executes" = yes ]; then
  say "this machine executes 32-bit x86 code: the i686 and x86_64 suites both run"
  mapfile -t missing < <(missing_of "${i386_packages[@]}")
  if [ ${#missing[@]} -gt 0 ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      say "adding the i386 architecture (for 32-bit Wine)"
      dpkg --add-architecture i386
    fi
    install_packages "${missing[@]}"
  fi
else
  say "this machine cannot execute 32-bit x86 code: the i686 Wine tests run inside an emulated" \
    "x86-64 machine (32-bit Wine is not installed here)"
  mapfile -t missing < <(missing_of "${emulated_machine_packages[@]}")
  if [ ${#missing[@]} -gt 0 ]; then install_packages "${missing[@]}"; fi
  source scripts/emulated_machine.sh
  emulated_machine_make
fi

# The code page tests take the Wine process's ANSI code page from its locale: Japanese gives
# code page 932, and Hindi, which has no ANSI code page of its own, gives 65001 (UTF-8).
for code_page_locale in ja_JP hi_IN; do
  if ! locale -a 2>/dev/null | grep -qi "^$code_page_locale.utf8\$"; then
    say "generating the $code_page_locale.UTF-8 locale"
    localedef -i $code_page_locale -f UTF-8 $code_page_locale.UTF-8
  fi
done

# CUPS: start the scheduler if it is not answering, then add the test printers.
if ! lpstat -r 2>/dev/null | grep -q 'is running'; then
  say "starting cupsd"
  mkdir -p /run/cups
  cupsd
  for _ in $(seq 1 50); do lpstat -r 2>/dev/null | grep -q 'is running' && break; sleep 0.2; done
fi

ppd=$(find /usr/share/ppd /usr/share/cups/model -iname 'CUPS-PDF*.ppd*' 2>/dev/null | head -n 1 || true)
add_printer() {
  local name=$1
  if lpstat -p "$name" >/dev/null 2>&1; then return; fi
  say "adding CUPS printer $name"
  if [ -n "$ppd" ]; then
    lpadmin -p "$name" -E -v cups-pdf:/ -P "$ppd"
  else
    lpadmin -p "$name" -E -v cups-pdf:/ -m everywhere 2>/dev/null || lpadmin -p "$name" -E -v cups-pdf:/
  fi
}
add_printer PDF
add_printer QVTest2
lpadmin -d PDF
say "printers: $(lpstat -p 2>/dev/null | awk '{print $2}' | tr '\n' ' ')"
