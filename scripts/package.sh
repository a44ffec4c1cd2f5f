#!/usr/bin/env bash
# Builds the release package: DIST/ with the plug-in, the manual, the licence and a checksum
# file, and DIST/QV_Printer7-2.3.zip holding exactly those.
#   usage: scripts/package.sh BUILD_DIR DIST_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1 dist=$2
name=QV_Printer7-2.3

rm -rf "$dist"
mkdir -p "$dist/$name"
cp "$build/QV_Printer7.fmx" "$dist/$name/"
# The manual is the user's guide, with the picture it shows.
cp docs/user-guide.md "$dist/$name/MANUAL.md"
cp docs/about-dialog.png "$dist/$name/"
cp LICENSE "$dist/$name/LICENSE.txt"
(cd "$dist/$name" && sha256sum -- * | grep -v ' SHA256SUMS$' >SHA256SUMS)
(cd "$dist" && rm -f "$name.zip" && TZ=UTC zip -q -X -r "$name.zip" "$name")
echo "[package] $dist/$name.zip:"
unzip -l "$dist/$name.zip" | sed -n '4,$p' | sed '$d' | sed '$d'
