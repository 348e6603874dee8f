// Small helpers for writing a management class's dispatch interface: one
// line per member, in the order the class publishes them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

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

// Adds a method that changes stored data, as c.method does, and notes it as a
// change in the class's table, so callers (the console's change log) ask
// changesData instead of guessing from the member's name.
void changeMember(com::ClassInfo& c, std::string name, std::vector<com::ParamInfo> params, com::Handler fn);

// Whether the member (any letter case) of the class of that ProgID (any
// letter case) changes stored data; false for a member or class not declared so.
bool changesData(std::string_view progid, std::string_view member);

// A parameter of a member line: its published description and, for a
// record parameter, the record class an argument must be.
struct MemberParam {
  MemberParam(com::ParamInfo p) : info(std::move(p)) {}  // NOLINT: a plain parameter converts implicitly
  MemberParam(com::ParamInfo p, const char* cls) : info(std::move(p)), recordClass(cls) {}
  com::ParamInfo info;
  const char* recordClass = nullptr;
};

// A record parameter of class cls passed by value.
inline MemberParam rec(const char* name, const char* cls) { return {com::in(name, kObj), cls}; }

namespace detail {

template <class P>
constexpr bool kUnsupported = false;

// Argument i converted to the C++ parameter type P of the member: text
// ("" for an omitted optional one), a record of its class, the argument itself
// (a by-reference Variant), a small integer (0 for an omitted optional one).
template <class P>
decltype(auto) argumentAs(com::Args& a, size_t i, const MemberParam& p) {
  using U = std::remove_cvref_t<P>;
  if constexpr (std::is_same_v<U, std::string>) {
    return p.info.optional ? textArg(a, i) : a[i].toString();
  } else if constexpr (std::is_same_v<U, records::RecordPtr>) {
    return recArg(a, i, p.recordClass);
  } else if constexpr (std::is_same_v<U, com::Variant>) {
    return (a[i]);
  } else if constexpr (std::is_same_v<U, int16_t>) {
    return p.info.optional ? com::argOr(a, i, com::Variant(int16_t{0})).toInteger() : a[i].toInteger();
  } else {
    static_assert(kUnsupported<P>, "a member parameter of a type member lines do not convert");
  }
}

template <class T, class R, class... P, size_t... I>
com::Variant callMember(R (T::*fn)(P...), T& self, com::Args& a, const std::vector<MemberParam>& ps,
                        std::index_sequence<I...>) {
  if constexpr (std::is_same_v<R, com::Variant>)
    return (self.*fn)(argumentAs<P>(a, I, ps[I])...);
  else
    return com::Variant((self.*fn)(argumentAs<P>(a, I, ps[I])...));
}

template <class T, class R, class... P>
constexpr size_t parameterCount(R (T::*)(P...)) {
  return sizeof...(P);
}

// Which of the member's parameters are records (they need the record class).
template <class T, class R, class... P>
std::vector<bool> recordParameters(R (T::*)(P...)) {
  return {std::is_same_v<std::remove_cvref_t<P>, records::RecordPtr>...};
}

}  // namespace detail

// The member lines of T's dispatch table. Each line names a typed member
// function and its published parameters; the call's arguments are converted
// by the function's own parameter types and its answer becomes the call's
// value, so the C++ declaration is the one description of the member. Use
// TIVEL_READ and TIVEL_CHANGE, which publish the member under its C++ name.
template <class T>
class MemberLines {
 public:
  using Class = T;
  explicit MemberLines(com::ClassInfo& c) : c_(c) {}

  // A member that only reads.
  template <auto Fn>
  void read(const char* name, std::vector<MemberParam> params) {
    add<Fn>(name, std::move(params), false);
  }
  // A member that changes stored data (see changeMember).
  template <auto Fn>
  void change(const char* name, std::vector<MemberParam> params) {
    add<Fn>(name, std::move(params), true);
  }

 private:
  template <auto Fn>
  void add(const char* name, std::vector<MemberParam> params, bool changes) {
    if (detail::parameterCount(Fn) != params.size())
      throw std::logic_error(c_.className() + "." + name + ": the line's parameters differ from the function's");
    const std::vector<bool> records = detail::recordParameters(Fn);
    for (size_t i = 0; i < params.size(); ++i)
      if (records[i] != (params[i].recordClass != nullptr))
        throw std::logic_error(c_.className() + "." + name + ": a record parameter needs rec(name, class)");
    std::vector<com::ParamInfo> infos;
    for (const MemberParam& p : params) infos.push_back(p.info);
    com::Handler handler = com::bind<T>([params = std::move(params)](T& self, com::Args& a) {
      return detail::callMember(Fn, self, a, params, std::make_index_sequence<detail::parameterCount(Fn)>());
    });
    if (changes)
      changeMember(c_, name, std::move(infos), std::move(handler));
    else
      c_.method(name, std::move(infos), std::move(handler));
  }

  com::ClassInfo& c_;
};

// A member line of the MemberLines `lines` whose published name is the C++
// member's own: TIVEL_READ(table, getOrg, {ref("strOrg_No", kStr)}).
#define TIVEL_READ(lines, fn, ...) (lines).template read<&decltype(lines)::Class::fn>(#fn, __VA_ARGS__)
#define TIVEL_CHANGE(lines, fn, ...) (lines).template change<&decltype(lines)::Class::fn>(#fn, __VA_ARGS__)

// A member whose operations are not built yet: the call fails with
// com::kNotImplemented.
void pendingMember(com::ClassInfo& c, const char* name, std::vector<com::ParamInfo> params);

}  // namespace tivel::mgt
