# The cross build: the plug-in library, the bundled host and the test programs.
enable_language(RC)

# Everything goes to the top of the build folder, so tests and the bundled host find the
# library beside them.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The library itself is built with the win32 thread model of MinGW-w64 where that compiler is
# at hand: the posix model (which GoogleTest needs for std::mutex) brings in a thread runtime
# that imports functions Windows XP lacks, and the host versions this plug-in serves run there.
# The tests link the same code built here. The x86-64 test build, which never ships, makes its
# library here with the tests' own compiler.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  find_program(QV_WIN32_MODEL_COMPILER i686-w64-mingw32-g++-win32)
endif()
if(CMAKE_CROSSCOMPILING AND QV_WIN32_MODEL_COMPILER)
  set(QV_LIBRARY_BUILT_ELSEWHERE ON)
endif()
include(cmake/plugin_library.cmake)
if(QV_LIBRARY_BUILT_ELSEWHERE)
  include(ExternalProject)
  ExternalProject_Add(qv_printer_win32_model
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/library
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchain-mingw32-win32.cmake
      -DQV_LIBRARY_ONLY=ON -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    INSTALL_COMMAND ${CMAKE_COMMAND} -E copy_if_different
      <BINARY_DIR>/QV_Printer7.fmx ${CMAKE_BINARY_DIR}/QV_Printer7.fmx
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/QV_Printer7.fmx)
  add_custom_target(qv_printer DEPENDS qv_printer_win32_model)
endif()
set(QV_LIBRARY_FILE ${CMAKE_BINARY_DIR}/QV_Printer7.fmx)

# The host's side, shared by the bundled host and the tests.
add_library(host_side STATIC plughost/host_memory.cpp plughost/handle_services.cpp
  plughost/plugin_call.cpp plughost/dialog_driver.cpp)
target_include_directories(host_side PUBLIC plughost)
target_compile_options(host_side PRIVATE ${QV_WARNINGS})
target_link_libraries(host_side PUBLIC user32 gdi32 comdlg32 winspool)

add_executable(plughost plughost/main.cpp plughost/command_line.cpp plughost/dialog_answers.cpp
  plughost/terminal_text.cpp)
target_compile_options(plughost PRIVATE ${QV_WARNINGS})
target_link_libraries(plughost PRIVATE host_side)
target_link_options(plughost PRIVATE ${QV_STATIC_RUNTIME})
add_dependencies(plughost qv_printer)

# The plug-in against the bare platform calls it wraps (a benchmark program, never a test).
add_executable(wine_bench bench/wine_bench.cpp)
target_compile_options(wine_bench PRIVATE ${QV_WARNINGS} -O2)
target_link_libraries(wine_bench PRIVATE host_side advapi32 winspool)
target_link_options(wine_bench PRIVATE ${QV_STATIC_RUNTIME})

# Small Windows tools of the bundled host's kit (for example reading a printer's stored
# defaults back in the demonstration): one program per plughost/tool_*.cpp.
file(GLOB QV_TOOL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/plughost/tool_*.cpp)
foreach(source ${QV_TOOL_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  string(REPLACE "tool_" "" name ${name})
  add_executable(${name} ${source})
  target_compile_options(${name} PRIVATE ${QV_WARNINGS})
  target_link_libraries(${name} PRIVATE host_side advapi32)
  target_link_options(${name} PRIVATE ${QV_STATIC_RUNTIME})
endforeach()

# The tests need GoogleTest's sources (Debian's googletest package); a build on Windows
# without them makes the library and the bundled host only.
if(EXISTS ${GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  include(cmake/windows_tests.cmake)
endif()
