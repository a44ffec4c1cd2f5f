#!/usr/bin/env bash
# Saves pictures of the plug-in's two dialogs as the bundled host shows them:
# BUILD_DIR/screenshots/about-dialog.png and print-setup-dialog.png. Runs inside a Wine
# environment (a prefix and a display, as scripts/wine_env.sh makes them).
#   scripts/screenshots.sh [BUILD_DIR]     (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
mkdir -p "$build/screenshots"
cd "$build"
# Debian's interpreter, which has Debian's Pillow; another python3 may come first on PATH.
python=/usr/bin/python3
[ -x "$python" ] || python=python3

# Takes a picture of the first dialog that `plughost ARGS` opens and converts it to NAME.png.
picture() {
  local name=$1
  shift
  rm -f "screenshots/$name.bmp" "screenshots/$name.png"
  "${QV_WINE:-wine}" plughost.exe --screenshot "screenshots/$name.bmp" "$@" 2>&1 | tr -d '\r'
  if [ ! -s "screenshots/$name.bmp" ]; then
    echo "screenshots.sh: no picture of the $name" >&2
    return 1
  fi
  "$python" "$root/scripts/bmp_to_png.py" "screenshots/$name.bmp" "screenshots/$name.png"
  rm -f "screenshots/$name.bmp"
  echo "saved $build/screenshots/$name.png"
}

picture about-dialog --ok QV_Printer7.fmx prefs
picture print-setup-dialog --cancel QV_Printer7.fmx call VEZederar-SelectPrinter
