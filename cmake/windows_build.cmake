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
target_link_options(qv_printer PRIVATE ${QV_STATIC_RUNTIME})

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

# GoogleTest from Debian's sources, compiled by the cross compiler.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_library(test_harness STATIC tests/harness.cpp tests/import_patch.cpp tests/registry_helpers.cpp)
target_include_directories(test_harness PUBLIC tests)
target_compile_options(test_harness PRIVATE ${QV_WARNINGS})
target_link_libraries(test_harness PUBLIC host_side gtest advapi32 psapi)

# One test program per subsystem; each loads build/QV_Printer7.fmx from beside itself.
function(qv_wine_test name)
  add_executable(${name} ${ARGN})
  target_compile_options(${name} PRIVATE ${QV_WARNINGS})
  target_link_libraries(${name} PRIVATE test_harness gtest_main)
  target_link_options(${name} PRIVATE ${QV_STATIC_RUNTIME})
  add_dependencies(${name} qv_printer plughost)
  add_test(NAME ${name} COMMAND ${name})
endfunction()

file(GLOB QV_WINE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.cpp)
foreach(source ${QV_WINE_TEST_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  qv_wine_test(${name} ${source})
endforeach()

# The plug-in's own code linked straight into a test program, for what the host cannot see.
add_library(qv_plugin_static STATIC $<TARGET_OBJECTS:qv_objects>)
target_include_directories(qv_plugin_static PUBLIC host printer ui resources)
target_link_libraries(qv_plugin_static PUBLIC ${QV_SYSTEM_LIBRARIES})
file(GLOB QV_INTERNAL_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/internal/*_test.cpp)
foreach(source ${QV_INTERNAL_TEST_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  # The resources go in as objects: nothing would pull them out of a static library.
  qv_wine_test(${name} ${source} $<TARGET_OBJECTS:qv_resources>)
  target_link_libraries(${name} PRIVATE qv_plugin_static)
endforeach()

# Checks of the built binary itself (exports, imports, resources), one per tests/check_*.py,
# each given the library's path. Debian's pefile lives with the system's Python.
find_program(SYSTEM_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
file(GLOB QV_BINARY_CHECKS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/check_*.py)
foreach(check ${QV_BINARY_CHECKS})
  get_filename_component(name ${check} NAME_WE)
  add_test(NAME ${name} COMMAND ${SYSTEM_PYTHON3} ${check} $<TARGET_FILE:qv_printer>)
endforeach()
add_test(NAME artwork COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/resources/test_artwork.py)

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

# --- Title tests in code page 932 (owned by the registry-side work) ---
# Wine takes the ANSI code page from the Unix locale, so this run's titles are code page 932
# text; the test fails if the process did not get that code page. The double-byte case must
# have run and passed: a filter that matches nothing would pass in silence.
add_test(NAME host_printer_titles_cp932
  COMMAND host_printer_test --gtest_filter=HostPrinter.Title*)
set_tests_properties(host_printer_titles_cp932 PROPERTIES
  ENVIRONMENT "LC_ALL=ja_JP.UTF-8;LANG=ja_JP.UTF-8;QV_EXPECT_ACP=932"
  PASS_REGULAR_EXPRESSION "\\[       OK \\] HostPrinter\\.TitleSearchKeepsToDoubleByteCharacters"
  FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]|\\[  SKIPPED \\]")
# --- end ---

# The bundled host's command line, with a library that lacks the entry point.
add_library(no_entry SHARED tests/fixtures/no_entry.cpp)
set_target_properties(no_entry PROPERTIES PREFIX "")
target_link_options(no_entry PRIVATE ${QV_STATIC_RUNTIME})
add_test(NAME plughost_cli COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/plughost_cli.py
  ${CMAKE_BINARY_DIR})
add_dependencies(plughost no_entry)

# Pictures of the about box and the print-setup dialog as the display draws them.
add_test(NAME screenshots COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/screenshots.sh ${CMAKE_BINARY_DIR})

# The release package, built from the library that the tests above ran.
add_test(NAME package COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/package_test.py
  ${CMAKE_BINARY_DIR})

# The native build's tests, run from here so one ctest run covers everything.
set(QV_NATIVE_DIR "" CACHE PATH "Native build folder whose tests this run includes")
set(QV_FUZZ_SECONDS 20 CACHE STRING "How long each fuzzer runs in the tests")
if(QV_NATIVE_DIR)
  add_test(NAME native_text_tests COMMAND ${QV_NATIVE_DIR}/text_tests)
  file(GLOB QV_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/fuzz_*.cpp)
  foreach(source ${QV_FUZZ_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    string(REPLACE "fuzz_" "" name ${name})
    add_test(NAME fuzz_${name} COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/fuzz.sh ${QV_NATIVE_DIR}
      ${name} ${QV_FUZZ_SECONDS})
  endforeach()
endif()
