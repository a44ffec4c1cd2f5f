# The plug-in library's code and resources, and the library itself unless another build makes
# it (see windows_build.cmake).
set(QV_PLUGIN_SOURCES
  ${QV_TEXT_SOURCES}
  host/arguments.cpp
  host/code_page.cpp
  host/dispatch.cpp
  host/error_box.cpp
  host/format_preference.cpp
  host/host_services.cpp
  host/plugin_strings.cpp
  host/stack_guard.cpp
  host/version_text.cpp
  printer/host_printer.cpp
  printer/select_printer.cpp
  printer/printer_default.cpp
  ui/about_dialog.cpp
)
# The 32-bit host's services are called through one hand-written thunk; x86-64 calls them plainly.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  enable_language(ASM)
  list(APPEND QV_PLUGIN_SOURCES host/call_host_service_i686.S)
endif()
set(QV_SYSTEM_LIBRARIES user32 gdi32 advapi32 winspool comdlg32 kernel32)

# Nothing but Windows system libraries may be imported: the compiler's runtime goes inside.
set(QV_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

add_library(qv_objects OBJECT ${QV_PLUGIN_SOURCES})
# No exceptions: the plug-in keeps its texts in fixed buffers and its printer data in the
# platform's blocks, and takes nothing from the C runtime's heap, so nothing of it can throw, no
# exception can reach the host, and a failed allocation is a return value it checks. (The C++
# runtime's throw of an allocation failure allocates again, and with all memory gone recurses
# until the host's stack overflows.)
target_compile_options(qv_objects PRIVATE ${QV_WARNINGS} -fno-exceptions)
# Optimised as one at link time: the plug-in's small routines (the record's services, the
# string and result helpers) are inlined across files, which halves what the plug-in adds to a
# call. The objects also carry plain code, so the tests that link them directly need no LTO.
target_compile_options(qv_objects PRIVATE -flto -ffat-lto-objects)
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

if(NOT QV_LIBRARY_BUILT_ELSEWHERE)
  add_library(qv_printer SHARED
    $<TARGET_OBJECTS:qv_objects> $<TARGET_OBJECTS:qv_resources> host/QV_Printer7.def)
  set_target_properties(qv_printer PROPERTIES PREFIX "" OUTPUT_NAME "QV_Printer7" SUFFIX ".fmx")
  target_link_libraries(qv_printer PRIVATE ${QV_SYSTEM_LIBRARIES})
  # Stripped: the library that ships is the one the tests run.
  target_link_options(qv_printer PRIVATE ${QV_STATIC_RUNTIME} -s -flto=auto)

endif()

include(cmake/release_build.cmake)
