#include "tools/tivel/rpc/host.h"

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <istream>
#include <ostream>
#include <string_view>

#include "platform/codes/result_codes.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "tools/tivel/rpc/dump.h"
#include "tools/tivel/rpc/error.h"

namespace tivel::tool {
namespace {

using com::MemberKind;
using com::Variant;

constexpr const char* kVerbs[] = {"new", "call", "get", "put", "release", "members", "dump"};

Json errorAnswer(const Json& id, int32_t number, const std::string& source, const std::string& description,
                 const std::string& detail = {}) {
  Json error{{"number", number}, {"source", source}, {"description", description}};
  if (!detail.empty()) error["detail"] = detail;
  return Json{{"id", id}, {"error", std::move(error)}};
}


bool isBlank(const std::string& line) { return line.find_first_not_of(" \t\r\n") == std::string::npos; }

// The one verb a request names; fails unless exactly one is there.
std::string verbOf(const Json& request) {
  std::string verb;
  for (const char* v : kVerbs) {
    if (!request.contains(v)) continue;
    if (!verb.empty()) badRequest("A request names one operation, this one names \"" + verb + "\" and \"" + v + "\"");
    verb = v;
  }
  if (verb.empty())
    badRequest("Not a request (no new, call, get, put, release, members or dump): " + jsonText(request));
  return verb;
}

// Refuses members the operation does not take, so that a misspelt "args"
// is an error and not a call without arguments.
void onlyKeys(const Json& request, const std::string& verb, std::initializer_list<std::string_view> allowed) {
  for (const auto& [key, value] : request.items()) {
    bool ok = key == "id" || key == verb;
    for (std::string_view a : allowed) ok = ok || key == a;
    if (!ok) badRequest("Unexpected \"" + key + "\" in a " + verb + " request");
  }
}

const std::string& textMember(const Json& request, const std::string& key) {
  const Json& v = request.at(key);
  if (!v.is_string() || v.get_ref<const std::string&>().empty())
    badRequest("\"" + key + "\" must be a non-empty text, got " + jsonText(v));
  return v.get_ref<const std::string&>();
}

int64_t handleMember(const Json& request, const std::string& key, const HandleTable& handles) {
  auto it = request.find(key);
  if (it == request.end()) badRequest("\"" + key + "\" (an object handle) is missing");
  return handleFromJson(*it, handles);
}

// The decoded arguments of a request and which of them go by reference.
struct Arguments {
  com::Args values;
  std::vector<bool> byRef;
};

Arguments argumentsOf(const Json& request, const HandleTable& handles) {
  Arguments out;
  auto it = request.find("args");
  if (it == request.end()) return out;
  if (!it->is_array()) badRequest("\"args\" must be an array, got " + jsonText(*it));
  for (const Json& a : *it) {
    bool ref = false;
    out.values.push_back(argumentFromJson(a, handles, &ref));
    out.byRef.push_back(ref);
  }
  return out;
}

// {"0":V,...}: the by-reference arguments as the call left them; null when there were none.
Json refsOf(const Arguments& args, HandleTable& handles) {
  Json refs;
  for (size_t i = 0; i < args.byRef.size(); ++i)
    if (args.byRef[i]) refs[std::to_string(i)] = toJson(args.values[i], handles);
  return refs;
}

// call, get or put: one late-bound invocation. *refs receives the
// by-reference arguments as the member left them.
Json invokeMember(const Json& request, const std::string& verb, HandleTable& handles, RequestGate* gate, Json* refs) {
  const bool put = verb == "put";
  if (put) {
    onlyKeys(request, verb, {"object", "value", "args"});
    if (!request.contains("value")) badRequest("A put request needs a \"value\"");
  } else {
    onlyKeys(request, verb, {"object", "args"});
  }
  com::ObjectPtr object = handles.find(handleMember(request, "object", handles));
  const std::string& member = textMember(request, verb);
  if (gate) gate->call(*object, member);
  Arguments args = argumentsOf(request, handles);
  Variant result;
  if (put) {
    // The value goes last, after the property's own parameters.
    args.values.push_back(fromJson(request["value"], handles));
    object->invoke(member, MemberKind::Put, args.values);
    args.values.pop_back();
  } else {
    result = object->invoke(member, verb == "call" ? MemberKind::Method : MemberKind::Get, args.values);
  }
  Json out = toJson(result, handles);
  *refs = refsOf(args, handles);
  return out;
}

// The member names of a registered class, in dispatch order.
Json memberNames(const std::string& progid) {
  const com::ClassInfo* info = com::findClass(progid);
  if (!info) com::raise(com::kInvalidClassString, "CreateObject", "Invalid class string: " + progid);
  Json names = Json::array();
  for (const std::string& name : info->memberNames()) names.push_back(name);
  return names;
}

}  // namespace

void RpcHost::nameValue(const std::string& id, const Json& result) {
  try {
    handles_.nameValue(id, fromJson(result, handles_));
  } catch (const com::ComError&) {
    handles_.unname(id);  // a form no value reads back as: it names nothing
  }
}

Json RpcHost::answer(const Json& request) {
  com::ObjectArena::Scope session(arena_);
  Json id = request.is_object() && request.contains("id") ? request["id"] : Json(nullptr);
  try {
    if (!request.is_object()) badRequest("A request is a JSON object, got " + jsonText(request));
    const std::string verb = verbOf(request);
    Json result;
    Json refs;
    if (verb == "new") {
      onlyKeys(request, verb, {});
      const std::string& progid = textMember(request, "new");
      if (gate_) gate_->create(progid);
      result = toJson(Variant(com::CreateObject(progid)), handles_);
    } else if (verb == "call" || verb == "get" || verb == "put") {
      result = invokeMember(request, verb, handles_, gate_, &refs);
    } else if (verb == "release") {
      onlyKeys(request, verb, {});
      handles_.release(handleMember(request, "release", handles_));
      result = toJson(Variant(), handles_);
    } else if (verb == "members") {
      onlyKeys(request, verb, {});
      const std::string& progid = textMember(request, "members");
      if (gate_) gate_->create(progid);
      result = memberNames(progid);
    } else {  // dump
      onlyKeys(request, verb, {});
      com::ObjectPtr object = handles_.find(handleMember(request, "dump", handles_));
      result = dumpObject(*object, handles_);
    }
    // An answered object can be named by later requests as {"from":id}, and
    // so can the value a call or a read answered, in a value's place.
    if (result.is_object() && result.contains("object") && result["object"].is_number_integer())
      handles_.name(jsonText(id), result["object"].get<int64_t>());
    else if (verb == "call" || verb == "get")
      nameValue(jsonText(id), result);
    else
      handles_.unname(jsonText(id));
    Json out{{"id", id}, {"result", std::move(result)}};
    if (!refs.is_null()) out["refs"] = std::move(refs);
    return out;
  } catch (const com::ComError& e) {
    handles_.unname(jsonText(id));
    return errorAnswer(id, e.number(), e.source(), e.description(), e.detail());
  } catch (const std::exception& e) {
    handles_.unname(jsonText(id));
    return errorAnswer(id, codes::kFail, kHostSource, e.what());
  } catch (...) {
    handles_.unname(jsonText(id));
    return errorAnswer(id, codes::kFail, kHostSource, "Unknown failure");
  }
}

std::string RpcHost::handle(const std::string& line) {
  if (isBlank(line)) return {};
  if (jsonNesting(line) > kMaxJsonNesting)
    return jsonText(
        errorAnswer(nullptr, com::kInvalidArgument, kHostSource,
                    "Malformed request line: nested deeper than " + std::to_string(kMaxJsonNesting) + " levels"));
  Json request;
  try {
    request = Json::parse(line);
  } catch (const Json::exception& e) {
    // Not only syntax: a number beyond the range of a double fails the parse
    // with an out-of-range error, and is as much a bad line.
    return jsonText(
        errorAnswer(nullptr, com::kInvalidArgument, kHostSource, std::string("Malformed request line: ") + e.what()));
  }
  return jsonText(answer(request));
}

void RpcHost::serve(std::istream& in, std::ostream& out) {
  std::string line;
  while (std::getline(in, line)) {
    std::string reply = handle(line);
    if (reply.empty()) continue;
    out << reply << '\n' << std::flush;
  }
}

}  // namespace tivel::tool
