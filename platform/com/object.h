// Objects with an ordered dispatch interface: each class describes its
// members (methods, property reads and writes) in the order the system fixes,
// and late-bound calls go through that description.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/com/arena.h"
#include "platform/com/error.h"
#include "platform/com/variant.h"

namespace tivel::com {

// A parameter kind of VarType::Empty means "any Variant" (no coercion).
inline constexpr VarType kAny = VarType::Empty;

enum class MemberKind { Method, Get, Put };

struct ParamInfo {
  std::string name;
  VarType kind = kAny;
  bool byRef = false;
  bool optional = false;
};

// Parameter helpers for class descriptions: in("x", VarType::String), ref(...), opt(...).
ParamInfo in(std::string name, VarType kind = kAny);
ParamInfo ref(std::string name, VarType kind = kAny);
ParamInfo opt(ParamInfo p);

// Arguments by position; a handler may write by-reference arguments in place.
using Args = std::vector<Variant>;
class Object;
using Handler = std::function<Variant(Object& self, Args& args)>;

struct MemberInfo {
  std::string name;
  MemberKind kind;
  std::vector<ParamInfo> params;  // for Put, the last one is the value
  Handler fn;
};

// The description of one class: its ProgID, its name and its members in order.
class ClassInfo {
 public:
  ClassInfo(std::string progid, std::string className);

  ClassInfo& method(std::string name, std::vector<ParamInfo> params, Handler fn);
  ClassInfo& get(std::string name, std::vector<ParamInfo> params, Handler fn);
  ClassInfo& put(std::string name, std::vector<ParamInfo> params, Handler fn);

  const std::string& progid() const { return progid_; }
  const std::string& className() const { return className_; }
  const std::vector<MemberInfo>& members() const { return members_; }
  // Member names in dispatch order, each property once.
  std::vector<std::string> memberNames() const;
  // The member of that name (any letter case) and kind, or nullptr.
  const MemberInfo* find(std::string_view name, MemberKind kind) const;
  bool hasName(std::string_view name) const;

 private:
  std::string progid_, className_;
  std::vector<MemberInfo> members_;
};

// Base of every class the runtime can create and call late-bound. An object
// belongs to the thread that created it; late-bound calls from any other
// thread fail with kWrongThread.
class Object : public std::enable_shared_from_this<Object> {
 public:
  Object();
  virtual ~Object();
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  virtual const ClassInfo& classInfo() const = 0;

  // Lets go of every object this one holds (properties, items), so that a
  // cycle through it can be freed; the object stays usable, emptied of them.
  // Classes that can hold objects override it.
  virtual void dropReferences() {}

  // Late-bound call: checks thread, member, argument count and kinds, then
  // runs the member and writes coerced by-reference values back into args.
  // kind Method also finds a property read (a property with arguments).
  Variant invoke(std::string_view name, MemberKind kind, Args& args);
  Variant call(std::string_view name, Args args = {});
  Variant getProperty(std::string_view name, Args args = {});
  void putProperty(std::string_view name, Variant value, Args args = {});

  // Fails with kWrongThread unless called on the creating thread.
  void checkThread() const;
  std::thread::id ownerThread() const { return owner_; }

 private:
  friend class ObjectArena;
  std::thread::id owner_;
  ObjectArena* arena_;  // the arena that notes this object, or nullptr
};

// Wraps a typed member function as a Handler: [](T& self, Args& a) { ... }.
template <class T, class F>
Handler bind(F f) {
  return [f](Object& self, Args& a) -> Variant { return f(static_cast<T&>(self), a); };
}

// An argument that was omitted (Missing) reads as the given fallback.
inline const Variant& argOr(const Args& a, size_t i, const Variant& fallback) {
  return (i < a.size() && !a[i].isMissing()) ? a[i] : fallback;
}

}  // namespace tivel::com
