# The i686 host-service thunk under test as a static 32-bit Linux program, which runs under
# user-mode emulation where the machine has no 32-bit x86 code. Built with gcc rather than the
# project's compiler, which may lack the 32-bit runtime. QV_SERVICE_THUNK_TEST names the program.
if(NOT DEFINED QV_SOURCE_DIR)
  set(QV_SOURCE_DIR ${CMAKE_SOURCE_DIR})
endif()

find_program(QV_THUNK_GCC gcc)
if(QV_THUNK_GCC)
  set(QV_SERVICE_THUNK_TEST ${CMAKE_BINARY_DIR}/service_thunk_test)
  set(QV_SERVICE_THUNK_SOURCES
      ${QV_SOURCE_DIR}/tests/thunk/service_thunk_test.c
      ${QV_SOURCE_DIR}/host/call_host_service_i686.S)
  add_custom_command(
    OUTPUT ${QV_SERVICE_THUNK_TEST}
    COMMAND ${QV_THUNK_GCC} -m32 -static -std=c11 -O2 -Wall -Wextra -Werror
            ${QV_SERVICE_THUNK_SOURCES} -o ${QV_SERVICE_THUNK_TEST}
    DEPENDS ${QV_SERVICE_THUNK_SOURCES} ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Building the 32-bit host-service thunk test"
    VERBATIM)
  # Not named service_thunk_test: a target may not share its name with a file it makes at the
  # top of the build tree (Ninja refuses, Make rebuilds it every time).
  add_custom_target(qv_service_thunk_test ALL DEPENDS ${QV_SERVICE_THUNK_TEST})
else()
  message(STATUS "service_thunk_test is not built: gcc was not found (it builds the 32-bit "
                 "thunk test with -m32 -static)")
endif()
