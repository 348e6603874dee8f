# Run by the layers_compile test (cmake -P): for each library, a header of
# its own rooms compiles with the library's include directories and a header
# of a room above it does not. Variables: COMPILER, DIR (a scratch
# directory), CASES: "library|own header|header above|-Idir;-Idir..." joined by "@@".
string(REPLACE "@@" ";" cases "${CASES}")
file(MAKE_DIRECTORY ${DIR})
set(faults "")
foreach(c IN LISTS cases)
  string(REPLACE "|" ";" parts "${c}")
  list(GET parts 0 lib)
  list(GET parts 1 own)
  list(GET parts 2 above)
  list(GET parts 3 dirs)
  string(REPLACE "," ";" flags "${dirs}")
  foreach(kind own above)
    file(WRITE ${DIR}/${lib}_${kind}.cc "#include \"${${kind}}\"\n")
    execute_process(COMMAND ${COMPILER} -std=c++20 -E -o ${DIR}/out.ii ${flags} ${DIR}/${lib}_${kind}.cc
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    if(kind STREQUAL "own" AND NOT rc EQUAL 0)
      string(APPEND faults "${lib}: its own ${own} does not compile: ${err}\n")
    elseif(kind STREQUAL "above" AND rc EQUAL 0)
      string(APPEND faults "${lib}: ${above}, of a room above, compiles\n")
    endif()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "${faults}")
endif()
