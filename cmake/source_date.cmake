# Writes the time that the library's PE time stamps take, in seconds since 1970, to
# QV_EPOCH_FILE: SOURCE_DATE_EPOCH when the caller sets one, otherwise the time of the commit
# in QV_SOURCE_DIR, otherwise nothing (a source tree without its history).
#   cmake -DQV_SOURCE_DIR=... -DQV_EPOCH_FILE=... -P source_date.cmake
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C "${QV_SOURCE_DIR}" log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    set(epoch "")
  endif()
endif()
# Rewritten only when the time changes: the file's date is what tells make to relink.
file(WRITE "${QV_EPOCH_FILE}.new" "${epoch}\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${QV_EPOCH_FILE}.new" "${QV_EPOCH_FILE}")
file(REMOVE "${QV_EPOCH_FILE}.new")
