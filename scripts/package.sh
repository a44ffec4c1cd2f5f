#!/usr/bin/env bash
# Builds the release in DIST/ from the library in BUILD/:
#   QV_Printer7-2.3/      the plug-in, its installer (.msi), the manual with its picture, the
#                         licence, and SHA256SUMS of them all
#   QV_Printer7-2.3.zip   that folder
#   QV_Printer7-2.3.msi   the installer again, for deployment tools that take it alone
#   SHA256SUMS            of the zip and the installer
# The same commit gives the same bytes (every time stamp is the commit's, or
# SOURCE_DATE_EPOCH's). With QV_SIGN_CERT and QV_SIGN_KEY set, the plug-in is signed before it
# goes into the installer and the zip, and the installer is signed too.
#   usage: scripts/package.sh BUILD_DIR DIST_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1 dist=$2
name=QV_Printer7-2.3
python=/usr/bin/python3 # Debian's, which has pefile and olefile

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct) || {
    echo "[package] not a git checkout: set SOURCE_DATE_EPOCH" >&2
    exit 1
  }
  if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "[package] warning: the tree has uncommitted changes; this release is dated at the" \
      "last commit but is not its build" >&2
  fi
fi
export SOURCE_DATE_EPOCH

signing=
if [ -n "${QV_SIGN_CERT:-}" ] || [ -n "${QV_SIGN_KEY:-}" ]; then
  : "${QV_SIGN_CERT:?QV_SIGN_KEY is set: QV_SIGN_CERT must name the certificate chain (PEM)}"
  : "${QV_SIGN_KEY:?QV_SIGN_CERT is set: QV_SIGN_KEY must name the key (PEM or pkcs11: URI)}"
  signing=yes
fi

# Refuses a certificate that Windows would not accept for signing code, before anything is
# signed with it: outside its dates, or with a list of extended key usages that leaves out code
# signing (one without such a list may sign anything). The first certificate of the chain is
# the signer's.
check_signing_certificate() {
  local cert=$QV_SIGN_CERT not_before
  openssl x509 -in "$cert" -noout >/dev/null 2>&1 || {
    echo "[package] $cert holds no PEM certificate" >&2
    return 1
  }
  if ! openssl x509 -in "$cert" -noout -checkend 0 >/dev/null; then
    echo "[package] the signing certificate in $cert has expired" >&2
    return 1
  fi
  not_before=$(openssl x509 -in "$cert" -noout -startdate | cut -d= -f2)
  if [ "$(date -u -d "$not_before" +%s)" -gt "$(date -u +%s)" ]; then
    echo "[package] the signing certificate in $cert is not valid before $not_before" >&2
    return 1
  fi
  local usages
  usages=$(openssl x509 -in "$cert" -noout -ext extendedKeyUsage 2>/dev/null | sed 1d)
  if [ -n "$usages" ] && ! grep -q "Code Signing" <<<"$usages"; then
    echo "[package] the signing certificate in $cert is not for code signing:$usages" >&2
    return 1
  fi
}

# Signs FILE in place with SHA-256, from a PEM key or a PKCS#11 token, time-stamped when
# QV_SIGN_TIMESTAMP_URL names an RFC 3161 server.
sign() {
  local file=$1 signed=$1.signed
  local args=(sign -h sha256 -n "VE Zederar plug-in (QV_Printer7.fmx)"
    -certs "$QV_SIGN_CERT" -key "$QV_SIGN_KEY")
  if [ -n "${QV_SIGN_PKCS11_MODULE:-}" ]; then
    args+=(-pkcs11module "$QV_SIGN_PKCS11_MODULE")
  fi
  if [ -n "${QV_SIGN_TIMESTAMP_URL:-}" ]; then
    args+=(-ts "$QV_SIGN_TIMESTAMP_URL")
  fi
  rm -f "$signed"
  osslsigncode "${args[@]}" -in "$file" -out "$signed" >"$signed.log" 2>&1 || {
    cat "$signed.log" >&2
    echo "[package] signing $file failed" >&2
    return 1
  }
  rm -f "$signed.log"
  mv "$signed" "$file"
  echo "[package] signed $file"
}

if [ -n "$signing" ]; then check_signing_certificate; fi

# Made beside DIST and put in its place only when everything is done, so a failed run (a
# signing that fails half-way) leaves no release that looks finished.
final=$dist
dist=$final.partial
rm -rf "$final" "$dist"
trap 'rm -rf "$dist"' EXIT
mkdir -p "$dist/$name"
folder=$dist/$name
cp "$build/QV_Printer7.fmx" "$folder/"
if [ -n "$signing" ]; then sign "$folder/QV_Printer7.fmx"; fi
"$python" packaging/build_msi.py "$folder/QV_Printer7.fmx" "$folder/$name.msi"
if [ -n "$signing" ]; then sign "$folder/$name.msi"; fi
# The manual is the user's guide, with the picture it shows.
cp docs/user-guide.md "$folder/MANUAL.md"
cp docs/about-dialog.png "$folder/"
cp LICENSE "$folder/LICENSE.txt"
chmod 644 "$folder"/*
touch -d "@$SOURCE_DATE_EPOCH" "$folder"/*

# Listed in byte order, whatever the locale.
(
  cd "$folder"
  export LC_ALL=C
  files=(*)
  sha256sum -- "${files[@]}" >SHA256SUMS
)
touch -d "@$SOURCE_DATE_EPOCH" "$folder/SHA256SUMS" "$folder"
"$python" packaging/build_zip.py "$dist/$name.zip" "$folder"
cp -p "$folder/$name.msi" "$dist/"
(cd "$dist" && sha256sum -- "$name.zip" "$name.msi" >SHA256SUMS)
mv "$dist" "$final"
trap - EXIT
dist=$final

echo "[package] $dist:"
(cd "$dist" && cat SHA256SUMS && unzip -l "$name.zip" | sed -n '4,$p' | sed '$d' | sed '$d')
