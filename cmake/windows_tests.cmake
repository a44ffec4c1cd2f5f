# The test programs under Wine and the checks of the built files.
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
  add_test(NAME ${name} COMMAND ${SYSTEM_PYTHON3} ${check} ${QV_LIBRARY_FILE})
endforeach()
add_test(NAME artwork COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/resources/test_artwork.py)

# The title tests again in code page 932.
# Wine takes the ANSI code page from the Unix locale, so this run's titles are code page 932
# text; the test fails if the process did not get that code page. The double-byte case must
# have run and passed: a filter that matches nothing would pass in silence.
add_test(NAME host_printer_titles_cp932
  COMMAND host_printer_test --gtest_filter=HostPrinter.Title*)
set_tests_properties(host_printer_titles_cp932 PROPERTIES
  ENVIRONMENT "LC_ALL=ja_JP.UTF-8;LANG=ja_JP.UTF-8;QV_EXPECT_ACP=932"
  PASS_REGULAR_EXPRESSION "\\[       OK \\] HostPrinter\\.TitleSearchKeepsToDoubleByteCharacters"
  FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]|\\[  SKIPPED \\]")

# The bundled host's command line, with a library that lacks the entry point and one that
# refuses start-up after showing a box.
foreach(fixture no_entry refusing_startup)
  add_library(${fixture} SHARED tests/fixtures/${fixture}.cpp)
  set_target_properties(${fixture} PROPERTIES PREFIX "")
  target_link_options(${fixture} PRIVATE ${QV_STATIC_RUNTIME})
  add_dependencies(plughost ${fixture})
endforeach()
add_test(NAME plughost_cli COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/plughost_cli.py
  ${CMAKE_BINARY_DIR})

# Pictures of the about box and the print-setup dialog as the display draws them.
add_test(NAME screenshots COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/screenshots.sh ${CMAKE_BINARY_DIR})

# The release package, built from the library that the tests above ran.
add_test(NAME package COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/package_test.py
  ${CMAKE_BINARY_DIR})
include(cmake/release_tests.cmake)

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
