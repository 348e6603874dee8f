#include "tools/tivel/rpc_dump.h"

#include <string>

#include "platform/ado/recordset.h"
#include "platform/com/keyed_list.h"
#include "tools/tivel/rpc_error.h"

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

Json dumpKeyedList(const com::KeyedList& list, HandleTable& handles) {
  Json out = Json::array();
  for (const auto& [key, item] : list.entries()) out.push_back(Json{{"key", key}, {"item", toJson(item, handles)}});
  return out;
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

Json dumpProperties(com::Object& object, HandleTable& handles) {
  const com::ClassInfo& info = object.classInfo();
  Json out = Json::object();
  for (const std::string& name : info.memberNames())
    if (info.find(name, MemberKind::Get)) out[name] = toJson(object.getProperty(name), handles);
  return out;
}

}  // namespace

Json dumpObject(com::Object& object, HandleTable& handles) {
  if (auto* rs = dynamic_cast<ado::Recordset*>(&object)) return dumpRecordset(*rs, handles);
  if (auto* list = dynamic_cast<com::KeyedList*>(&object)) return dumpKeyedList(*list, handles);
  if (isPropertyBag(object.classInfo())) return dumpProperties(object, handles);
  badRequest("An object of class " + object.classInfo().className() +
             " has no plain form (only recordsets, keyed lists and records can be dumped)");
}

}  // namespace tivel::tool
