# Cross build of the plug-in library alone with MinGW-w64's win32 thread model, whose runtime
# imports nothing that Windows XP lacks.
set(QV_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-target.cmake)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
