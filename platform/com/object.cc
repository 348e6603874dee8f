#include "platform/com/object.h"

#include <strings.h>

#include "platform/com/call_scope.h"

namespace tivel::com {
namespace {

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string describe(const ClassInfo& c, std::string_view member) { return c.className() + "." + std::string(member); }

}  // namespace

ParamInfo in(std::string name, VarType kind) { return ParamInfo{std::move(name), kind, false, false}; }
ParamInfo ref(std::string name, VarType kind) { return ParamInfo{std::move(name), kind, true, false}; }
ParamInfo opt(ParamInfo p) {
  p.optional = true;
  return p;
}

ClassInfo::ClassInfo(std::string progid, std::string className)
    : progid_(std::move(progid)), className_(std::move(className)) {}

ClassInfo& ClassInfo::method(std::string name, std::vector<ParamInfo> params, Handler fn) {
  members_.push_back({std::move(name), MemberKind::Method, std::move(params), std::move(fn)});
  return *this;
}

ClassInfo& ClassInfo::get(std::string name, std::vector<ParamInfo> params, Handler fn) {
  members_.push_back({std::move(name), MemberKind::Get, std::move(params), std::move(fn)});
  return *this;
}

ClassInfo& ClassInfo::put(std::string name, std::vector<ParamInfo> params, Handler fn) {
  members_.push_back({std::move(name), MemberKind::Put, std::move(params), std::move(fn)});
  return *this;
}

std::vector<std::string> ClassInfo::memberNames() const {
  std::vector<std::string> names;
  for (const auto& m : members_) {
    bool seen = false;
    for (const auto& n : names) seen = seen || sameName(n, m.name);
    if (!seen) names.push_back(m.name);
  }
  return names;
}

const MemberInfo* ClassInfo::find(std::string_view name, MemberKind kind) const {
  for (const auto& m : members_)
    if (m.kind == kind && sameName(m.name, name)) return &m;
  return nullptr;
}

bool ClassInfo::hasName(std::string_view name) const {
  for (const auto& m : members_)
    if (sameName(m.name, name)) return true;
  return false;
}

Object::Object() : owner_(std::this_thread::get_id()), arena_(ObjectArena::current()) {
  if (arena_) arena_->add(this);
}

Object::~Object() {
  if (arena_) arena_->remove(this);
}

void Object::checkThread() const {
  if (std::this_thread::get_id() != owner_)
    raise(kWrongThread, classInfo().className(),
          "The application called an interface that was marshalled for a different thread.");
}

Variant Object::invoke(std::string_view name, MemberKind kind, Args& args) {
  checkThread();
  const ClassInfo& info = classInfo();
  const MemberInfo* m = info.find(name, kind);
  if (!m && kind == MemberKind::Method) m = info.find(name, MemberKind::Get);
  if (!m) {
    if (kind == MemberKind::Get) m = info.find(name, MemberKind::Method);
    if (!m) raise(kUnknownName, describe(info, name), "Unknown name: " + std::string(name));
  }
  size_t total = m->params.size();
  size_t required = 0;
  for (size_t i = 0; i < total; ++i)
    if (!m->params[i].optional) required = i + 1;
  if (args.size() < required || args.size() > total)
    raise(kBadParamCount, describe(info, m->name),
          "Invalid number of parameters: " + m->name + " takes " +
              (required == total ? std::to_string(total) : std::to_string(required) + " to " + std::to_string(total)) +
              ", got " + std::to_string(args.size()));
  Args coerced;
  coerced.reserve(total);
  for (size_t i = 0; i < total; ++i) {
    const ParamInfo& p = m->params[i];
    if (i >= args.size() || args[i].isMissing()) {
      if (!p.optional) raise(kParamNotOptional, describe(info, m->name), "Parameter not optional: " + p.name);
      coerced.push_back(Variant::missing());
      continue;
    }
    try {
      coerced.push_back(args[i].coerce(p.kind));
    } catch (const ComError&) {
      raise(kTypeMismatchArg, describe(info, m->name),
            "Type mismatch: argument " + std::to_string(i + 1) + " (" + p.name + ") cannot be " + typeName(p.kind) +
                ", got " + typeName(args[i].type()));
    }
  }
  Variant result;
  {
    CallScope running(info.className(), m->name);
    result = m->fn(*this, coerced);
  }
  for (size_t i = 0; i < args.size() && i < total; ++i)
    if (m->params[i].byRef && !args[i].isMissing()) args[i] = coerced[i];
  return result;
}

Variant Object::call(std::string_view name, Args args) { return invoke(name, MemberKind::Method, args); }

Variant Object::getProperty(std::string_view name, Args args) { return invoke(name, MemberKind::Get, args); }

void Object::putProperty(std::string_view name, Variant value, Args args) {
  args.push_back(std::move(value));
  invoke(name, MemberKind::Put, args);
}

}  // namespace tivel::com
