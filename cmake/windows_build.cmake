# The cross build: the plug-in library, the bundled host and the test programs.
enable_language(RC)

set(QV_PLUGIN_SOURCES
  ${QV_TEXT_SOURCES}
  host/arguments.cpp
  host/dispatch.cpp
  host/error_box.cpp
  host/format_preference.cpp
  host/plugin_strings.cpp
  host/version_text.cpp
  printer/host_printer.cpp
  printer/select_printer.cpp
  printer/printer_default.cpp
  ui/about_dialog.cpp
)
set(QV_SYSTEM_LIBRARIES user32 gdi32 advapi32 winspool comdlg32 kernel32)

# Nothing but Windows system libraries may be imported: the compiler's runtime goes inside.
set(QV_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# Everything goes to the top of the build folder, so tests and the bundled host find the
# library beside them.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

add_library(qv_objects OBJECT ${QV_PLUGIN_SOURCES})
target_compile_options(qv_objects PRIVATE ${QV_WARNINGS})
target_include_directories(qv_objects PUBLIC host printer ui resources)

# The about box's picture and icon are drawn by code at build time.
set(QV_ARTWORK_DIR ${CMAKE_BINARY_DIR}/artwork)
add_custom_command(
  OUTPUT ${QV_ARTWORK_DIR}/about.bmp ${QV_ARTWORK_DIR}/plugin.ico
  COMMAND ${PYTHON3} ${CMAKE_SOURCE_DIR}/resources/make_artwork.py ${QV_ARTWORK_DIR}
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/make_artwork.py
  COMMENT "Drawing the about box picture and the icon")
add_custom_target(qv_artwork DEPENDS ${QV_ARTWORK_DIR}/about.bmp ${QV_ARTWORK_DIR}/plugin.ico)
set_source_files_properties(resources/plugin.rc PROPERTIES
  OBJECT_DEPENDS "${QV_ARTWORK_DIR}/about.bmp;${QV_ARTWORK_DIR}/plugin.ico;${CMAKE_SOURCE_DIR}/resources/resource_ids.h")

add_library(qv_resources OBJECT resources/plugin.rc)
target_include_directories(qv_resources PRIVATE resources ${QV_ARTWORK_DIR})
add_dependencies(qv_resources qv_artwork)

add_library(qv_printer SHARED
  $<TARGET_OBJECTS:qv_objects> $<TARGET_OBJECTS:qv_resources> host/QV_Printer7.def)
set_target_properties(qv_printer PROPERTIES PREFIX "" OUTPUT_NAME "QV_Printer7" SUFFIX ".fmx")
target_link_libraries(qv_printer PRIVATE ${QV_SYSTEM_LIBRARIES})
# Stripped: the library that ships is the one the tests run.
target_link_options(qv_printer PRIVATE ${QV_STATIC_RUNTIME} -s)

# The host's side, shared by the bundled host and the tests.
add_library(host_side STATIC plughost/host_side.cpp plughost/dialog_driver.cpp)
target_include_directories(host_side PUBLIC plughost)
target_compile_options(host_side PRIVATE ${QV_WARNINGS})
target_link_libraries(host_side PUBLIC user32 gdi32 comdlg32 winspool)

add_executable(plughost plughost/main.cpp)
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
