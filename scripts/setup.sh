#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine (run as root),
# starts cupsd and adds the test printers. Safe to run again: it only does what is missing.
set -euo pipefail

say() { printf '[setup] %s\n' "$*"; }

packages=(
  cmake make g++-mingw-w64-i686 wine wine32:i386 xvfb x11-utils
  cups cups-client cups-bsd printer-driver-cups-pdf libcups2:i386
  googletest python3 python3-pefile python3-pil locales zip unzip
  clang libclang-rt-14-dev libbenchmark-dev
  wixl msitools python3-olefile osslsigncode openssl libengine-pkcs11-openssl softhsm2
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "adding the i386 architecture (for 32-bit Wine)"
    dpkg --add-architecture i386
  fi
  say "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  say "all packages present"
fi

# Code page 932 tests need a Japanese UTF-8 locale for the wine process.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  say "generating the ja_JP.UTF-8 locale"
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

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
