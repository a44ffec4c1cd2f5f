#!/usr/bin/env bash
# Builds the release in DIST/ from the library in BUILD/:
#   QV_Printer7-2.3/      the plug-in, its installer (.msi), the administrators' uninstall
#                         script, the manual with its picture, the licence, and SHA256SUMS of
#                         them all
#   QV_Printer7-2.3.zip   that folder
#   QV_Printer7-2.3.msi   the installer again, for deployment tools that take it alone
#   SHA256SUMS            of the zip and the installer
# The same commit gives the same bytes (every time stamp is the commit's, or
# SOURCE_DATE_EPOCH's). With QV_SIGN_CERT and QV_SIGN_KEY set, the plug-in is signed before it
# goes into the installer and the zip, and the installer is signed too.
# Relative paths are taken from the caller's folder. DIST_DIR is replaced only when it is empty
# or an earlier release (it holds the release's SHA256SUMS and nothing a release does not);
# anything else there stops the run before anything is made.
#   usage: scripts/package.sh BUILD_DIR DIST_DIR
set -euo pipefail
if [ $# -ne 2 ] || [ -z "$1" ] || [ -z "$2" ]; then
  echo "usage: scripts/package.sh BUILD_DIR DIST_DIR" >&2
  exit 2
fi
# Absolute, without "." and ".." steps, doubled or trailing slashes, or links, so that DIST's
# name and its parent are what they look like ("out/" is the folder out, not out/.).
build=$(realpath -m -- "$1")
final=$(realpath -m -- "$2")
cd "$(dirname "$0")/.."
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

# The names that the SHA256SUMS file $1 lists, one a line.
listed() { cut -d' ' -f3- "$1" 2>/dev/null; }

# A file of a release: a plain file, not a link.
plain_file() { [ -f "$1" ] && [ ! -L "$1" ]; }

# Whether the files in the folder $1 (not its folders) are exactly those its SHA256SUMS lists,
# each with the checksum listed for it.
checksums_hold() {
  local listed_names present_names
  listed_names=$(listed "$1/SHA256SUMS" | LC_ALL=C sort) || return 1
  present_names=$(find "$1" -mindepth 1 -maxdepth 1 ! -type d ! -name SHA256SUMS -printf '%f\n' |
    LC_ALL=C sort)
  [ -n "$listed_names" ] && [ "$listed_names" = "$present_names" ] &&
    (cd -- "$1" && sha256sum --status --strict -c SHA256SUMS 2>/dev/null)
}

# What a release's folder may hold besides its SHA256SUMS (an earlier release may lack some).
release_file() {
  case $1 in
    QV_Printer7.fmx | "$name.msi" | MANUAL.md | about-dialog.png | LICENSE.txt | uninstall.js) ;;
    *) return 1 ;;
  esac
}

# Whether the folder $1 may be replaced by the new release: it is empty, or it is a release
# made here before: its SHA256SUMS lists the zip and the installer, its folder holds only the
# files a release holds, and every file still has the checksum that was listed for it.
replaceable() {
  [ -d "$1" ] && [ ! -L "$1" ] || return 1
  (
    shopt -s dotglob nullglob
    entries=("$1"/*)
    [ ${#entries[@]} -eq 0 ] && exit 0
    [ "$(listed "$1/SHA256SUMS")" = "$name.zip"$'\n'"$name.msi" ] || exit 1
    for entry in "${entries[@]}"; do
      case ${entry##*/} in
        SHA256SUMS | "$name.zip" | "$name.msi") plain_file "$entry" || exit 1 ;;
        "$name")
          [ -d "$entry" ] && [ ! -L "$entry" ] || exit 1
          for file in "$entry"/*; do
            plain_file "$file" || exit 1
            [ "${file##*/}" = SHA256SUMS ] || release_file "${file##*/}" || exit 1
          done
          checksums_hold "$entry" || exit 1
          ;;
        *) exit 1 ;;
      esac
    done
    checksums_hold "$1"
  )
}

check_destination() {
  if [ -e "$final" ] && ! replaceable "$final"; then
    echo "[package] $final is neither empty nor an earlier release (a SHA256SUMS of $name.zip" \
      "and $name.msi, and nothing a release does not hold): name another folder, or empty it" >&2
    return 1
  fi
}

if [ ! -f "$build/QV_Printer7.fmx" ]; then
  echo "[package] $build holds no QV_Printer7.fmx: build the library first" >&2
  exit 1
fi
check_destination
if [ -n "$signing" ]; then check_signing_certificate; fi

# Made in a folder of its own beside DIST and put in its place only when everything is done,
# so a failed run (a signing that fails half-way) leaves DIST as it was. Only what this run
# made is removed on the way out: the work folder, and DIST's parents if it made them and they
# are still empty.
parent=$(dirname -- "$final")
made_parent='' ancestor=$parent
while [ ! -e "$ancestor" ]; do
  made_parent=$ancestor
  ancestor=$(dirname -- "$ancestor")
done
clean_up() {
  # Between the two moves at the end, a failure would leave the earlier release only in the
  # work folder: it goes back first.
  if [ -e "$work/previous" ] && [ ! -e "$final" ]; then mv -- "$work/previous" "$final"; fi
  rm -rf -- "$work"
  if [ -n "$made_parent" ]; then
    local folder=$parent
    while rmdir -- "$folder" 2>/dev/null && [ "$folder" != "$made_parent" ]; do
      folder=$(dirname -- "$folder")
    done
  fi
}
mkdir -p -- "$parent"
work=$(mktemp -d -- "$parent/.${final##*/}.partial.XXXXXX")
trap clean_up EXIT
dist=$work/release
mkdir -- "$dist" "$dist/$name"
folder=$dist/$name
cp "$build/QV_Printer7.fmx" "$folder/"
if [ -n "$signing" ]; then sign "$folder/QV_Printer7.fmx"; fi
"$python" packaging/build_msi.py "$folder/QV_Printer7.fmx" "$folder/$name.msi"
if [ -n "$signing" ]; then sign "$folder/$name.msi"; fi
# The manual is the user's guide, with the picture it shows.
cp docs/user-guide.md "$folder/MANUAL.md"
cp docs/about-dialog.png "$folder/"
cp LICENSE "$folder/LICENSE.txt"
# Removes whichever build is installed, where msiexec /x needs the very build's package.
cp packaging/uninstall.js "$folder/"
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
check_destination
if [ -e "$final" ]; then mv -- "$final" "$work/previous"; fi
mv -- "$dist" "$final"
trap - EXIT
rm -rf -- "$work"
dist=$final

echo "[package] $dist:"
(cd "$dist" && cat SHA256SUMS && unzip -l "$name.zip" | sed -n '4,$p' | sed '$d' | sed '$d')
echo "[package] the installer's product version:" \
  "$(msiinfo export "$dist/$name.msi" Property | awk -F'\t' '$1 == "ProductVersion" { print $2 }')"
