// Small helpers for writing a management class's dispatch interface: one
// line per member, in the order the class publishes them.
#pragma once

#include <string>

#include "mgt/common/collection.h"
#include "platform/com/object.h"
#include "records/record.h"

namespace tivel::mgt {

// The words of a member line (in, opt, ref, Variant), for `using namespace members;`.
namespace members {
using com::in;
using com::opt;
using com::ref;
using com::Variant;
}  // namespace members

// The handler of a member of T: op(f) with f(T&, com::Args&) giving the call's value.
template <class T>
struct MemberOf {
  template <class F>
  com::Handler operator()(F f) const {
    return com::bind<T>(f);
  }
};

// T's dispatch interface, built once, on first use, by describe(c) on a new
// ClassInfo(progId, name); the same one every time after.
template <class T, class Describe>
const com::ClassInfo& dispatchInterface(const char* progId, const char* name, Describe describe) {
  static const com::ClassInfo c = [&] {
    com::ClassInfo info(progId, name);
    describe(info);
    return info;
  }();
  return c;
}

inline constexpr com::VarType kStr = com::VarType::String;
inline constexpr com::VarType kObj = com::VarType::Object;
inline constexpr com::VarType kInt = com::VarType::Integer;
inline constexpr com::VarType kLong = com::VarType::Long;

// A record parameter passed by value.
inline com::ParamInfo recParam(const char* name) { return com::in(name, kObj); }

// Argument i as text; an omitted optional argument reads as "".
inline std::string textArg(const com::Args& a, size_t i) {
  return i < a.size() && !a[i].isMissing() ? a[i].toString() : std::string();
}

// Argument i as a record of the class (Nothing gives nullptr; another class
// fails the call with a type mismatch).
inline records::RecordPtr recArg(const com::Args& a, size_t i, const char* cls) {
  return records::recordArg(a[i], cls);
}

// A member whose operations are not built yet: the call fails with
// 0x80004001 (not implemented).
void pendingMember(com::ClassInfo& c, const char* name, std::vector<com::ParamInfo> params);

}  // namespace tivel::mgt
