#include "mgt/common/member_table.h"

#include <cctype>
#include <mutex>
#include <set>

namespace tivel::mgt {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The changing members, as "progid:member" in lower case. Classes describe
// themselves when their library loads; the lock covers a description built
// later, on first use.
std::mutex changesLock;
std::set<std::string, std::less<>>& changes() {
  static std::set<std::string, std::less<>> set;
  return set;
}

}  // namespace

void changeMember(com::ClassInfo& c, std::string name, std::vector<com::ParamInfo> params, com::Handler fn) {
  {
    std::lock_guard<std::mutex> hold(changesLock);
    changes().insert(lower(c.progid()) + ":" + lower(name));
  }
  c.method(std::move(name), std::move(params), std::move(fn));
}

bool changesData(std::string_view progid, std::string_view member) {
  const std::string key = lower(progid) + ":" + lower(member);
  std::lock_guard<std::mutex> hold(changesLock);
  return changes().count(key) > 0;
}

void pendingMember(com::ClassInfo& c, const char* name, std::vector<com::ParamInfo> params) {
  std::string source = c.className() + "." + name;
  c.method(name, std::move(params), [source](com::Object&, com::Args&) -> com::Variant {
    com::raise(com::kNotImplemented, source, "Not implemented: " + source);
  });
}

}  // namespace tivel::mgt
