# Sourced by the run scripts: configures and builds the cross build in build/ and the native
# build in build-native/.

build_native() {
  echo "[build] native text routines (sanitizers, fuzzers, benchmark) in build-native/"
  CC=clang CXX=clang++ cmake -S . -B build-native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-native -j "$(nproc)" >/dev/null
}

build_windows() {
  echo "[build] QV_Printer7.fmx, plughost.exe and the Wine tests in build/"
  cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake \
    -DQV_NATIVE_DIR="$PWD/build-native" >/dev/null
  cmake --build build -j "$(nproc)" 2>&1 | grep -E '(error|warning):|Error [0-9]' || true
  test -f build/QV_Printer7.fmx
}
