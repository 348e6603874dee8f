#include "tools/tivel/rpc/error.h"

#include "platform/com/error.h"

namespace tivel::tool {

void badRequest(const std::string& description) { com::raise(com::kInvalidArgument, kHostSource, description); }

}  // namespace tivel::tool
