// Errors of the tivel host itself (as opposed to errors the called objects
// raise): a request it cannot read or carry out.
#pragma once

#include <string>

namespace tivel::tool {

// The source text of errors the host raises.
inline constexpr const char* kHostSource = "tivel";

// Fails with E_INVALIDARG, source "tivel" and the given description: a line
// that is not a request, a value that has no meaning, an unknown handle.
[[noreturn]] void badRequest(const std::string& description);

}  // namespace tivel::tool
