# tivel_rooms(TARGET PUBLIC|PRIVATE room...)
# Gives TARGET an include directory that holds the given rooms alone (links
# build/rooms/TARGET/<room> to the source room), so `#include "room/x.h"`
# finds a header only in the rooms the target and what it links expose: an
# include of a room above fails to compile. With PUBLIC the targets that
# link TARGET see the rooms too.
function(tivel_rooms target scope)
  set(tree ${CMAKE_BINARY_DIR}/rooms/${target})
  foreach(room ${ARGN})
    get_filename_component(parent ${tree}/${room} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT IS_SYMLINK ${tree}/${room})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${room} ${tree}/${room} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} ${scope} ${tree})
endfunction()

# tivel_embed_sql(VAR DELIMITER NAMED file...)
# Sets VAR to the C++ initialisers of the SQL files, one a line:
# {"<dialect>", R"DELIMITER(<text>)DELIMITER"} with the file's directory as
# its dialect, and with NAMED true the file's name before the text. An
# edited file re-runs the configure step that embeds it.
function(tivel_embed_sql var delimiter named)
  set(entries "")
  foreach(f ${ARGN})
    get_filename_component(dialect_dir ${f} DIRECTORY)
    get_filename_component(dialect ${dialect_dir} NAME)
    get_filename_component(script ${f} NAME_WE)
    file(READ ${f} body)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${f})
    set(name "")
    if(named)
      set(name "\"${script}\", ")
    endif()
    string(APPEND entries "    {\"${dialect}\", ${name}R\"${delimiter}(${body})${delimiter}\"},\n")
  endforeach()
  set(${var} "${entries}" PARENT_SCOPE)
endfunction()

# tivel_component(NAME DIRS dir... [EXCLUDE dir...] [LIBS lib...] [TEST_LIBS lib...] [TEST_ROOMS room...])
# Builds the shared library NAME from every .cc below the given directories
# (tests and the EXCLUDE directories left out) and, when tests are on,
# NAME_tests from the *_test.cc files beside them. Globbing keeps each
# directory's own file list the only list. The library exposes its DIRS as
# rooms (of a directory with EXCLUDEs, each subdirectory left in, but its
# testing/); the suite also sees TEST_ROOMS.
function(tivel_component name)
  cmake_parse_arguments(TC "" "" "DIRS;EXCLUDE;LIBS;TEST_LIBS;TEST_ROOMS" ${ARGN})
  set(srcs)
  set(tests)
  set(rooms)
  foreach(dir ${TC_DIRS})
    set(split FALSE)
    foreach(skip ${TC_EXCLUDE})
      if(skip MATCHES "^${dir}/")
        set(split TRUE)
      endif()
    endforeach()
    if(split)
      file(GLOB subdirs LIST_DIRECTORIES true RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/${dir}/*)
      foreach(sub ${subdirs})
        if(IS_DIRECTORY ${CMAKE_SOURCE_DIR}/${sub} AND NOT sub IN_LIST TC_EXCLUDE AND NOT sub MATCHES "/testing$")
          list(APPEND rooms ${sub})
        endif()
      endforeach()
    else()
      list(APPEND rooms ${dir})
    endif()
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cc)
    foreach(skip ${TC_EXCLUDE})
      list(FILTER found EXCLUDE REGEX "^${CMAKE_SOURCE_DIR}/${skip}/")
    endforeach()
    foreach(f ${found})
      if(f MATCHES "_test\\.cc$" OR f MATCHES "/testing/")
        list(APPEND tests ${f})
      else()
        list(APPEND srcs ${f})
      endif()
    endforeach()
  endforeach()
  add_library(${name} SHARED ${srcs})
  tivel_rooms(${name} PUBLIC ${rooms})
  target_link_libraries(${name} PUBLIC ${TC_LIBS})
  if(TIVEL_TESTS AND tests)
    add_executable(${name}_tests ${tests})
    target_link_libraries(${name}_tests PRIVATE ${name} ${TC_TEST_LIBS} tivel_testing GTest::gtest GTest::gtest_main)
    if(TC_TEST_ROOMS)
      tivel_rooms(${name}_tests PRIVATE ${TC_TEST_ROOMS})
    endif()
    # Classes register themselves when their library loads; keep every
    # linked component loaded even when no symbol of it is referenced.
    target_link_options(${name}_tests PRIVATE -Wl,--no-as-needed)
    # Listed when ctest runs, not when the build links: which engines a
    # suite is instantiated for depends on the test run's environment.
    gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 DISCOVERY_MODE PRE_TEST
      PROPERTIES ENVIRONMENT "TIVEL_BIN=${CMAKE_BINARY_DIR}/bin;TIVEL_SOURCE=${CMAKE_SOURCE_DIR}")
  endif()
endfunction()
