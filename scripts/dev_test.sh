#!/usr/bin/env bash
# For development: builds the Windows side in a build folder of your own and runs ctest there
# in a fresh throwaway Wine prefix, so several people can work side by side. QV_ARCH=x86_64
# makes the x86_64 test build and runs it under 64-bit Wine (the only kind where 32-bit code
# cannot run).
#   [QV_ARCH=x86_64] scripts/dev_test.sh BUILD_DIR [ctest arguments, e.g. -R host_printer]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:?usage: scripts/dev_test.sh BUILD_DIR [ctest arguments]}
shift
toolchain=cmake/toolchain-mingw32.cmake prefix=win32
source scripts/build.sh
executes=$(machine_executes_i686)
if [ "${QV_ARCH:-i686}" = x86_64 ]; then
  toolchain=cmake/toolchain-mingw64.cmake prefix=win64
elif [ "$executes" = no ]; then
  # The i686 Wine tests skip with their reason; the library's checks run without a prefix.
  prefix=
fi
executes_option=ON
[ "$executes" = yes ] || executes_option=OFF
cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=$toolchain \
  -DQV_EXECUTES_I686=$executes_option >/dev/null
cmake --build "$build_dir" -j 2 2>&1 | grep -E -A5 '(error|warning):|Error [0-9]' || true
source scripts/wine_env.sh
if [ -n "$prefix" ]; then wine_env_start $prefix; fi
cd "$build_dir"
ctest --output-on-failure --timeout 600 "$@"
