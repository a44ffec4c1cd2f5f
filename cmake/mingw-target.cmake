# What the MinGW-w64 toolchain files share: the Windows target for QV_MINGW_PROCESSOR (i686, the
# plug-in that ships, or x86_64, the test build) and where its headers and libraries are.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QV_MINGW_PROCESSOR})
set(CMAKE_RC_COMPILER ${QV_MINGW_PROCESSOR}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QV_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
