// The fee schema scripts compiled into the component, one per dialect.
#pragma once

#include <vector>

namespace tivel::gf::detail {

struct FeeScript {
  const char* dialect;  // "sqlite", "postgresql"
  const char* text;     // statements separated by ";" at the end of a line
};

// Generated from sql/<dialect>/fee.sql when the build is configured.
const std::vector<FeeScript>& feeScripts();

}  // namespace tivel::gf::detail
