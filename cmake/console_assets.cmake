# Writes OUTPUT, a C++ file holding the console's web files (every file below
# SOURCE_DIR except its tests/) as byte arrays with their content types and
# strong ETags, and the lookup findConsoleAsset() of console_assets.h.
# GENERATED, when given, is a list of files the build wrote (codes.js) that
# are served beside them under their own names.
# Run as: cmake -DSOURCE_DIR=... [-DGENERATED=...] -DOUTPUT=... -P console_assets.cmake
file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
list(FILTER files EXCLUDE REGEX "^tests/")
list(FILTER files EXCLUDE REGEX "(^|/)\\.")
foreach(g ${GENERATED})
  get_filename_component(name ${g} NAME)
  list(APPEND files ${name})
  set(path_${name} ${g})
endforeach()
list(SORT files)
set(arrays "")
set(entries "")
set(i 0)
foreach(f ${files})
  get_filename_component(ext ${f} LAST_EXT)
  if(ext STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(ext STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(ext STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(ext STREQUAL ".svg")
    set(type "image/svg+xml")
  elseif(ext STREQUAL ".png")
    set(type "image/png")
  elseif(ext STREQUAL ".txt" OR f MATCHES "LICENSE")
    set(type "text/plain; charset=utf-8")
  else()
    message(FATAL_ERROR "console asset of no known type: ${f}")
  endif()
  set(path ${SOURCE_DIR}/${f})
  if(DEFINED path_${f})
    set(path ${path_${f}})
  endif()
  file(READ ${path} hex HEX)
  file(SHA256 ${path} sha)
  string(SUBSTRING ${sha} 0 32 tag)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const unsigned char kFile${i}[] = {${bytes}0};\n")
  string(APPEND entries "    {\"${f}\", \"${type}\", \"\\\"${tag}\\\"\", {reinterpret_cast<const char*>(kFile${i}), ${size}}},\n")
  math(EXPR i "${i} + 1")
endforeach()
file(WRITE ${OUTPUT}.new "// Generated from console/ by cmake/console_assets.cmake; do not edit.
#include \"tools/tivel/serve/console/assets.h\"

namespace tivel::tool {
namespace {

${arrays}
const ConsoleAsset kAssets[] = {
${entries}};

}  // namespace

const ConsoleAsset* findConsoleAsset(std::string_view name) {
  for (const ConsoleAsset& a : kAssets)
    if (a.name == name) return &a;
  return nullptr;
}

}  // namespace tivel::tool
")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
