# Tests of the release beyond the package's contents (package_test.py): the library rebuilt
# elsewhere, the installer under Wine's msiexec, and signing. The library's own toolchain is the
# one the reproduction must use.
if(QV_LIBRARY_BUILT_ELSEWHERE)
  set(QV_LIBRARY_TOOLCHAIN ${CMAKE_SOURCE_DIR}/cmake/toolchain-mingw32-win32.cmake)
else()
  set(QV_LIBRARY_TOOLCHAIN ${CMAKE_TOOLCHAIN_FILE})
endif()
add_test(NAME release_reproducible COMMAND ${SYSTEM_PYTHON3}
  ${CMAKE_SOURCE_DIR}/tests/release_reproducible.py ${CMAKE_BINARY_DIR} ${QV_LIBRARY_TOOLCHAIN}
  ${CMAKE_BUILD_TYPE})
add_test(NAME release_msi COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/release_msi.py
  ${CMAKE_BINARY_DIR})
add_test(NAME release_signing COMMAND ${SYSTEM_PYTHON3}
  ${CMAKE_SOURCE_DIR}/tests/release_signing.py ${CMAKE_BINARY_DIR})

# The stack guard's test smashes a frame of its own, so it is built with the protector too.
set_source_files_properties(${CMAKE_SOURCE_DIR}/tests/internal/stack_guard_test.cpp PROPERTIES
  COMPILE_OPTIONS -fstack-protector-strong)
