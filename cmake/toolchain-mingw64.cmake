# Cross build of the x86-64 test build: the same sources as the 32-bit plug-in, its bundled host
# and its tests, never shipped, run under 64-bit Wine in a win64 prefix.
set(QV_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-target.cmake)

# The posix thread model: GoogleTest needs std::mutex, which the win32 model lacks.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)

# ctest runs the test programs with 64-bit Wine's own loader: Debian's wine command would pick
# the 32-bit one wherever wine32 is installed.
find_program(WINE64_PROGRAM wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE64_PROGRAM})
