# tivel_component(NAME DIRS dir... [EXCLUDE dir...] [LIBS lib...] [TEST_LIBS lib...])
# Builds the shared library NAME from every .cc below the given directories
# (tests and the EXCLUDE directories left out) and, when tests are on,
# NAME_tests from the *_test.cc files beside them. Globbing keeps each
# directory's own file list the only list.
function(tivel_component name)
  cmake_parse_arguments(TC "" "" "DIRS;EXCLUDE;LIBS;TEST_LIBS" ${ARGN})
  set(srcs)
  set(tests)
  foreach(dir ${TC_DIRS})
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
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${TC_LIBS})
  if(TIVEL_TESTS AND tests)
    add_executable(${name}_tests ${tests})
    target_link_libraries(${name}_tests PRIVATE ${name} ${TC_TEST_LIBS} tivel_testing GTest::gtest GTest::gtest_main)
    # Classes register themselves when their library loads; keep every
    # linked component loaded even when no symbol of it is referenced.
    target_link_options(${name}_tests PRIVATE -Wl,--no-as-needed)
    # Listed when ctest runs, not when the build links: which engines a
    # suite is instantiated for depends on the test run's environment.
    gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 DISCOVERY_MODE PRE_TEST
      PROPERTIES ENVIRONMENT "TIVEL_BIN=${CMAKE_BINARY_DIR}/bin;TIVEL_SOURCE=${CMAKE_SOURCE_DIR}")
  endif()
endfunction()
