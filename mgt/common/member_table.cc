#include "mgt/common/member_table.h"

namespace tivel::mgt {

void pendingMember(com::ClassInfo& c, const char* name, std::vector<com::ParamInfo> params) {
  std::string source = c.className() + "." + name;
  c.method(name, std::move(params), [source](com::Object&, com::Args&) -> com::Variant {
    com::raise(com::kNotImplemented, source, "Not implemented: " + source);
  });
}

}  // namespace tivel::mgt
