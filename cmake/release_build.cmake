# What the shipped library gets beyond its code: hardening that Windows XP's loader still
# accepts, and PE time stamps taken from the commit, so that two builds of one commit are the
# same bytes wherever and whenever they run. Included once the library's targets exist.

# The stack protector's guard and failure routine are the plug-in's own (host/stack_guard.cpp),
# so nothing links libssp. No build folder or source folder may reach the binary.
target_compile_options(qv_objects PRIVATE -fstack-protector-strong
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)

if(TARGET qv_printer AND NOT QV_LIBRARY_BUILT_ELSEWHERE)
  # ASLR and DEP, stated rather than left to the linker's defaults, which older binutils did
  # not set. No code of the library installs a frame-based exception handler (i686 MinGW
  # unwinds with DWARF tables), so the image can say it has none: the closest MinGW comes to
  # SafeSEH, whose handler tables its linker cannot write. tests/check_binary.py holds that.
  target_link_options(qv_printer PRIVATE -Wl,--dynamicbase -Wl,--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(qv_printer PRIVATE -Wl,--no-seh)
  endif()

  # ld writes SOURCE_DATE_EPOCH into the file header's and the export directory's time stamps.
  # The time is read at every build, and the library relinked only when it changes, so an
  # incremental build of a commit gives what a clean one does.
  set(QV_EPOCH_FILE ${CMAKE_BINARY_DIR}/source_date_epoch)
  set(QV_SOURCE_DATE_COMMAND ${CMAKE_COMMAND} -DQV_SOURCE_DIR=${CMAKE_SOURCE_DIR}
    -DQV_EPOCH_FILE=${QV_EPOCH_FILE} -P ${CMAKE_SOURCE_DIR}/cmake/source_date.cmake)
  execute_process(COMMAND ${QV_SOURCE_DATE_COMMAND})
  add_custom_target(qv_source_date COMMAND ${QV_SOURCE_DATE_COMMAND} BYPRODUCTS ${QV_EPOCH_FILE})
  add_dependencies(qv_printer qv_source_date)
  set_target_properties(qv_printer PROPERTIES
    LINK_DEPENDS ${QV_EPOCH_FILE}
    CXX_LINKER_LAUNCHER "bash;${CMAKE_SOURCE_DIR}/cmake/link_at_source_date.sh;${QV_EPOCH_FILE}")
endif()
