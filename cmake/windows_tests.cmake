# The test programs under Wine and the checks of the built files.
# GoogleTest from Debian's sources, compiled by the cross compiler.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Two builds run these: the i686 one, whose library ships, and the x86-64 test build, which
# runs the same tests under 64-bit Wine. Configured with QV_EXECUTES_I686 off (where neither
# this machine nor an emulated one will run 32-bit code), the i686 build's Wine tests are
# reported as skipped with that reason, and everything that needs no 32-bit code still runs.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QV_X8664 ON)
else()
  set(QV_X8664 OFF)
endif()
# The i686 build's tests that execute 32-bit code carry the label executes_i686: where this
# machine cannot, the run scripts run them inside an emulated x86-64 machine that can
# (scripts/emulated_machine.sh) and the rest here (ctest -L / -LE executes_i686).
option(QV_EXECUTES_I686 "This machine, or the emulated one the run scripts start, executes 32-bit x86 code" ON)
if(QV_X8664 OR QV_EXECUTES_I686)
  set(QV_RUNS_WINE ON)
else()
  set(QV_RUNS_WINE OFF)
endif()
set(QV_CANNOT_RUN_I686 "this machine cannot execute 32-bit x86 code (tested on the x86_64 build)")

# add_test for a test that runs Windows code; where it cannot run, a test that says so and skips.
function(qv_add_wine_test name)
  if(QV_RUNS_WINE)
    add_test(NAME ${name} ${ARGN})
    if(NOT QV_X8664)
      set_tests_properties(${name} PROPERTIES LABELS executes_i686)
    endif()
  else()
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "skipped: ${QV_CANNOT_RUN_I686}")
    set_tests_properties(${name} PROPERTIES SKIP_REGULAR_EXPRESSION "^skipped: ")
  endif()
endfunction()

find_program(SYSTEM_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)

# A GoogleTest case that means something on i686 only: on x86-64 it skips with its reason, and
# the ctest entry `name` runs it alone, so the summary shows the skip. tests/expect_case.py
# counts it as skipped only when that very case reports its skip and the program ends well; a
# failure, a crash or a filter that matches nothing fails. Programs of such cases alone get no
# entry of their own there.
set(QV_I686_ONLY_PROGRAMS service_convention_test)
function(qv_i686_only_case name program case)
  add_test(NAME ${name} COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/expect_case.py skips
    ${case} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${program}>)
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()

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
  if(QV_X8664 AND name IN_LIST QV_I686_ONLY_PROGRAMS)
    return()
  endif()
  # The exit status alone would pass a program that ended early with 0 or ran no case.
  qv_add_wine_test(${name} COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/expect_case.py runs
    ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
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
# The stack guard's test smashes a frame of its own, so it is built with the protector too.
set_source_files_properties(${CMAKE_SOURCE_DIR}/tests/internal/stack_guard_test.cpp PROPERTIES
  COMPILE_OPTIONS -fstack-protector-strong)
file(GLOB QV_INTERNAL_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/internal/*_test.cpp)
foreach(source ${QV_INTERNAL_TEST_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  # The resources go in as objects: nothing would pull them out of a static library.
  qv_wine_test(${name} ${source} $<TARGET_OBJECTS:qv_resources>)
  target_link_libraries(${name} PRIVATE qv_plugin_static)
endforeach()

# Only a 32-bit host's services can follow another convention, and only there can an entry
# point remove its own argument.
if(QV_X8664)
  qv_i686_only_case(service_convention_test service_convention_test
    ServiceConventions.EveryFunctionAnswersTheSameThroughCdeclServices)
  set(QV_ENTRY_STACK_CASE EntryPoint.LeavesItsArgumentToTheCaller)
  qv_i686_only_case(frame_test_i686_only frame_test ${QV_ENTRY_STACK_CASE})
  set_tests_properties(frame_test PROPERTIES ENVIRONMENT "GTEST_FILTER=-${QV_ENTRY_STACK_CASE}")
endif()

# Cases of a test program run again in a process with another ANSI code page. Wine takes the
# code page from the Unix locale, so the texts of such a run are text of that code page; the
# cases fail if the process did not get the code page that QV_EXPECT_ACP names.
# tests/expect_case.py passes the run only when the program ended with 0, no case failed or
# skipped, and the case `must_pass` ran and passed: a filter that matches nothing, or a crash
# after the last case, fails.
function(qv_code_page_run name program filter locale code_page must_pass)
  qv_add_wine_test(${name} COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/expect_case.py
    passes ${must_pass} ${filter} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${program}>)
  if(QV_RUNS_WINE)
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "LC_ALL=${locale};LANG=${locale};QV_EXPECT_ACP=${code_page}")
  endif()
endfunction()

# Code page 932: the title searches, a "|" that is the second byte of a double-byte character
# in the arguments of functions 1, 2, 4 and 5, and a version that ends in a lead byte.
qv_code_page_run(host_printer_titles_cp932 host_printer_test "HostPrinter.Title*" ja_JP.UTF-8 932
  HostPrinter.TitleSearchKeepsToDoubleByteCharacters)
qv_code_page_run(host_printer_arguments_cp932 host_printer_test "HostPrinter.DoubleByte*"
  ja_JP.UTF-8 932 HostPrinter.DoubleByteArgumentsStayWhole)
qv_code_page_run(printer_default_names_cp932 printer_default_test "PrinterName.*" ja_JP.UTF-8 932
  PrinterName.DoubleByteNameReachesTheSpoolerWhole)
qv_code_page_run(select_printer_text_cp932 select_printer_test "SelectPrinter.DoubleByte*"
  ja_JP.UTF-8 932 SelectPrinter.DoubleByteTextComesBackWhole)
# Code page 65001 (UTF-8): Wine 8 gives it to a locale that has no ANSI code page of its own,
# such as Hindi; the registry's Nls CodePage ACP value is not read.
qv_code_page_run(host_printer_titles_utf8 host_printer_test "HostPrinter.Utf8*" hi_IN.UTF-8 65001
  HostPrinter.Utf8TitleCutTakesWholeCharacters)

# The bundled host's command line, with a library that lacks the entry point and one that
# refuses start-up after showing a box. The scripts run Windows programs with the build's Wine.
foreach(fixture no_entry refusing_startup)
  add_library(${fixture} SHARED tests/fixtures/${fixture}.cpp)
  set_target_properties(${fixture} PROPERTIES PREFIX "")
  target_link_options(${fixture} PRIVATE ${QV_STATIC_RUNTIME})
  add_dependencies(plughost ${fixture})
endforeach()
qv_add_wine_test(plughost_cli COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/plughost_cli.py
  ${CMAKE_BINARY_DIR})

# Pictures of the about box and the print-setup dialog as the display draws them.
qv_add_wine_test(screenshots
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/screenshots.sh ${CMAKE_BINARY_DIR})
if(QV_RUNS_WINE)
  set_tests_properties(plughost_cli screenshots PROPERTIES
    ENVIRONMENT "QV_WINE=${CMAKE_CROSSCOMPILING_EMULATOR}")
endif()

# What follows checks the i686 library that ships, and needs no 32-bit code to run.
if(QV_X8664)
  return()
endif()

# Checks of the built binary itself (exports, imports, resources), one per tests/check_*.py,
# each given the library's path. Debian's pefile lives with the system's Python.
file(GLOB QV_BINARY_CHECKS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/check_*.py)
foreach(check ${QV_BINARY_CHECKS})
  get_filename_component(name ${check} NAME_WE)
  add_test(NAME ${name} COMMAND ${SYSTEM_PYTHON3} ${check} ${QV_LIBRARY_FILE})
endforeach()
add_test(NAME artwork COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/resources/test_artwork.py)

# The release package, built from the library that the tests above ran.
add_test(NAME package COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/package_test.py
  ${CMAKE_BINARY_DIR})
include(cmake/release_tests.cmake)

# The native build's tests, run from here so one ctest run covers everything.
set(QV_NATIVE_DIR "" CACHE PATH "Native build folder whose tests this run includes")
set(QV_FUZZ_SECONDS 20 CACHE STRING "How long each fuzzer runs in the tests")
if(QV_NATIVE_DIR)
  add_test(NAME native_text_tests COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/expect_case.py
    runs ${QV_NATIVE_DIR}/text_tests)
  file(GLOB QV_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/fuzz_*.cpp)
  foreach(source ${QV_FUZZ_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    string(REPLACE "fuzz_" "" name ${name})
    add_test(NAME fuzz_${name} COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/fuzz.sh ${QV_NATIVE_DIR}
      ${name} ${QV_FUZZ_SECONDS})
  endforeach()
  # The services thunk, the one piece of hand-written i686 code, as a static 32-bit Linux
  # program: under user emulation on every machine, and natively where the machine can.
  find_program(QEMU_I386 qemu-i386-static)
  if(QEMU_I386)
    add_test(NAME service_thunk_emulated COMMAND ${QEMU_I386} ${QV_NATIVE_DIR}/service_thunk_test)
  endif()
  if(QV_EXECUTES_I686)
    add_test(NAME service_thunk_native COMMAND ${QV_NATIVE_DIR}/service_thunk_test)
    set_tests_properties(service_thunk_native PROPERTIES LABELS executes_i686)
  else()
    add_test(NAME service_thunk_native COMMAND ${CMAKE_COMMAND} -E echo
      "skipped: this machine cannot execute 32-bit x86 code (run under user emulation instead)")
    set_tests_properties(service_thunk_native PROPERTIES SKIP_REGULAR_EXPRESSION "^skipped: ")
  endif()
endif()

# The emulated machine that runs the tests labelled executes_i686 where this machine cannot:
# its failures are loud and it leaves nothing running. Skipped where no such machine is made.
add_test(NAME emulated_machine
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/emulated_machine_test.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(emulated_machine PROPERTIES SKIP_RETURN_CODE 77)
