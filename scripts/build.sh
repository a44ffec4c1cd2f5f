# Sourced by the run scripts: configures and builds the cross build in build/, the x86_64 test
# build in build-x64/ and the native build in build-native/. A failed build stops the run,
# showing the end of its log.

# yes or no, as set-up found out (scripts/setup.sh writes build/executes-i686).
machine_executes_i686() {
  cat build/executes-i686 2>/dev/null || echo yes
}

run_build_step() {
  local log=$1
  shift
  if ! "$@" >"$log" 2>&1; then
    grep -E -B2 -A8 '(error|warning):|Error ' "$log" | head -n 80 || tail -n 40 "$log"
    echo "[build] failed: $*" >&2
    return 1
  fi
}

build_native() {
  echo "[build] native text routines (sanitizers, fuzzers, benchmark) in build-native/"
  mkdir -p build-native
  run_build_step build-native/configure.log \
    env CC=clang CXX=clang++ cmake -S . -B build-native -DCMAKE_BUILD_TYPE=RelWithDebInfo
  run_build_step build-native/build.log cmake --build build-native -j "$(nproc)"
}

build_windows() {
  echo "[build] QV_Printer7.fmx, plughost.exe and the Wine tests in build/"
  mkdir -p build
  # The tests that execute 32-bit code are registered for real on every machine: where this
  # one cannot run them, the run scripts take them to the emulated machine.
  run_build_step build/configure.log \
    cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake \
    -DQV_NATIVE_DIR="$PWD/build-native" -DQV_EXECUTES_I686=ON
  run_build_step build/build.log cmake --build build -j "$(nproc)"
}

build_windows_x64() {
  echo "[build] the x86_64 test build (library, plughost.exe, tools, Wine tests) in build-x64/"
  mkdir -p build-x64
  run_build_step build-x64/configure.log \
    cmake -S . -B build-x64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
  run_build_step build-x64/build.log cmake --build build-x64 -j "$(nproc)"
}
