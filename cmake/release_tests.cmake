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
# The installer under Wine's msiexec: in a win64 prefix everywhere (as on 64-bit Windows, where
# it is deployed today), and in a win32 one where this machine executes 32-bit code.
add_test(NAME release_msi COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/release_msi.py
  ${CMAKE_BINARY_DIR} Tables Win64Prefix)
add_test(NAME release_msi_win32 COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/release_msi.py
  ${CMAKE_BINARY_DIR} Win32Prefix)
if(QV_EXECUTES_I686)
  set_tests_properties(release_msi release_msi_win32 PROPERTIES ENVIRONMENT "QV_EXECUTES_I686=yes")
  set_tests_properties(release_msi_win32 PROPERTIES LABELS executes_i686)
else()
  set_tests_properties(release_msi release_msi_win32 PROPERTIES ENVIRONMENT "QV_EXECUTES_I686=no")
endif()
set_tests_properties(release_msi_win32 PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME release_signing COMMAND ${SYSTEM_PYTHON3}
  ${CMAKE_SOURCE_DIR}/tests/release_signing.py ${CMAKE_BINARY_DIR})
