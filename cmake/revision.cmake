# Writes OUT with the git revision of SOURCE_DIR ("unknown" outside a
# checkout), "+changes" when the work tree differs from it. Rewrites the file
# only when the text changes, so an unchanged revision rebuilds nothing.
execute_process(COMMAND git -C ${SOURCE_DIR} rev-parse --short=12 HEAD
                OUTPUT_VARIABLE rev OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
if(failed OR NOT rev)
  set(rev "unknown")
else()
  execute_process(COMMAND git -C ${SOURCE_DIR} status --porcelain --untracked-files=no
                  OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(changes)
    string(APPEND rev "+changes")
  endif()
endif()
set(text "// Generated at build time (cmake/revision.cmake).\n#pragma once\n#define TIVEL_REVISION \"${rev}\"\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT "${old}" STREQUAL "${text}")
  file(WRITE ${OUT} "${text}")
endif()
