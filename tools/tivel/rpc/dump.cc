#include "tools/tivel/rpc/dump.h"

#include <set>
#include <string>

#include "platform/ado/recordset.h"
#include "platform/com/keyed_list.h"
#include "tools/tivel/rpc/error.h"

namespace tivel::tool {
namespace {

using com::MemberKind;

// Reads the rows without moving the cursor: a move would end an edit in
// progress and, outside batch mode, write it to the database.
Json dumpRecordset(const ado::Recordset& rs, HandleTable& handles) {
  if (!rs.isOpen()) badRequest("The recordset is closed");
  Json fields = Json::array();
  const int32_t count = rs.fieldCount();
  for (int32_t i = 0; i < count; ++i) fields.push_back(rs.fieldName(i));
  Json rows = Json::array();
  for (const ado::Row& r : rs.visibleRows()) {
    Json row = Json::array();
    for (const com::Variant& v : r) row.push_back(toJson(v, handles));
    rows.push_back(std::move(row));
  }
  return Json{{"fields", std::move(fields)}, {"rows", std::move(rows)}};
}

// A record class: nothing but property reads and writes without parameters.
bool isPropertyBag(const com::ClassInfo& info) {
  for (const auto& m : info.members()) {
    if (m.kind == MemberKind::Method) return false;
    if (m.kind == MemberKind::Get && !m.params.empty()) return false;
    if (m.kind == MemberKind::Put && m.params.size() != 1) return false;
  }
  return true;
}

// Records and keyed lists reached from a dumped list or record are written
// out as plain JSON too, so that a list of records comes back as data. An
// object met again on its own path (a cycle), one nested deeper than JSON
// is let nest, and any other object keep the handle form.
class Nester {
 public:
  explicit Nester(HandleTable& handles) : handles_(handles) {}

  Json value(const com::Variant& v) {
    if (v.type() == com::VarType::Array) {
      Json out = Json::array();
      for (const com::Variant& item : v.array()) out.push_back(value(item));
      return out;
    }
    if (!v.isObject() || v.isNothing()) return toJson(v, handles_);
    com::ObjectPtr obj = v.toObject();
    auto* list = dynamic_cast<com::KeyedList*>(obj.get());
    const bool record = !list && !dynamic_cast<ado::Recordset*>(obj.get()) && isPropertyBag(obj->classInfo());
    if ((!list && !record) || path_.size() >= kNestLimit || path_.count(obj.get())) return toJson(v, handles_);
    path_.insert(obj.get());
    Json out = list ? keyedList(*list) : properties(*obj);
    path_.erase(obj.get());
    return out;
  }

  Json keyedList(const com::KeyedList& list) {
    Json out = Json::array();
    for (const auto& [key, item] : list.entries()) out.push_back(Json{{"key", key}, {"item", value(item)}});
    return out;
  }

  Json properties(com::Object& object) {
    const com::ClassInfo& info = object.classInfo();
    Json out = Json::object();
    for (const std::string& name : info.memberNames())
      if (info.find(name, MemberKind::Get)) out[name] = value(object.getProperty(name));
    return out;
  }

 private:
  // Each nested object takes two JSON levels (its item entry and itself).
  static constexpr size_t kNestLimit = kMaxJsonNesting / 2 - 1;
  HandleTable& handles_;
  std::set<const com::Object*> path_;
};

}  // namespace

Json dumpObject(com::Object& object, HandleTable& handles) {
  if (auto* rs = dynamic_cast<ado::Recordset*>(&object)) return dumpRecordset(*rs, handles);
  if (auto* list = dynamic_cast<com::KeyedList*>(&object)) return Nester(handles).keyedList(*list);
  if (isPropertyBag(object.classInfo())) return Nester(handles).properties(object);
  badRequest("An object of class " + object.classInfo().className() +
             " has no plain form (only recordsets, keyed lists and records can be dumped)");
}

}  // namespace tivel::tool
