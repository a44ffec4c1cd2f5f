# The native build: the plug-in's pure text routines under the sanitizers.
set(QV_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

add_library(qv_text STATIC ${QV_TEXT_SOURCES})
target_include_directories(qv_text PUBLIC host printer)
target_compile_options(qv_text PRIVATE ${QV_WARNINGS} ${QV_SANITIZE})
target_link_options(qv_text PUBLIC ${QV_SANITIZE})

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB QV_NATIVE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*_test.cpp)
add_executable(text_tests ${QV_NATIVE_TEST_SOURCES})
target_compile_options(text_tests PRIVATE ${QV_WARNINGS} ${QV_SANITIZE})
target_link_libraries(text_tests PRIVATE qv_text gtest_main)
add_test(NAME text_tests COMMAND text_tests)

# Fuzzers, one per pure routine (clang's libFuzzer): fuzz/fuzz_*.cpp, with seed corpora in
# fuzz/corpus/<name>/.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  file(GLOB QV_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/fuzz_*.cpp)
  foreach(source ${QV_FUZZ_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_compile_options(${name} PRIVATE ${QV_WARNINGS} -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE qv_text)
  endforeach()
endif()

# The scanner's speed against memchr (a benchmark program, never a test).
find_package(benchmark QUIET)
if(benchmark_FOUND)
  add_executable(argument_scan_bench bench/argument_scan_bench.cpp)
  target_include_directories(argument_scan_bench PRIVATE host)
  target_compile_options(argument_scan_bench PRIVATE -O2)
  target_sources(argument_scan_bench PRIVATE host/argument_scan.cpp)
  target_link_libraries(argument_scan_bench PRIVATE benchmark::benchmark)
endif()

# The services thunk as a static 32-bit Linux program (gcc -m32), run under user emulation.
include(cmake/service_thunk.cmake)
