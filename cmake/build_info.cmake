# What `tivel --version` and the gateway's build_info metric report: the
# version of project(), the git revision of the checkout (read at build time,
# so a commit without a new configure still shows), and the libraries the
# build uses, as each directory names them with tivel_built_with().

# tivel_built_with(TEXT): names a library and its version ("SQLite 3.40.1").
function(tivel_built_with text)
  set_property(GLOBAL APPEND PROPERTY TIVEL_BUILT_WITH "${text}")
endfunction()

# tivel_pkg_built_with(NAME MODULE): the same from a pkg-config module's version.
function(tivel_pkg_built_with name module)
  execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --modversion ${module}
                  OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(version)
    tivel_built_with("${name} ${version}")
  endif()
endfunction()

# Writes generated/tivel/build_info.h once every directory has named its
# libraries; called at the end of the top-level CMakeLists.txt.
function(tivel_write_build_info)
  get_property(libs GLOBAL PROPERTY TIVEL_BUILT_WITH)
  list(REMOVE_DUPLICATES libs)
  list(JOIN libs "\", \"" TIVEL_BUILT_WITH_ITEMS)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/build_info.h.in ${CMAKE_BINARY_DIR}/generated/tivel/build_info.h @ONLY)
  add_custom_target(tivel_revision
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
            -DOUT=${CMAKE_BINARY_DIR}/generated/tivel/revision.h -P ${CMAKE_SOURCE_DIR}/cmake/revision.cmake
    BYPRODUCTS ${CMAKE_BINARY_DIR}/generated/tivel/revision.h
    COMMENT "Reading the git revision")
endfunction()
