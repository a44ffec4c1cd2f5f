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
