#include "tools/tivel/rpc_dump.h"

#include <string>

#include "platform/ado/recordset.h"
#include "platform/com/keyed_list.h"
#include "tools/tivel/rpc_error.h"

namespace tivel::tool {
namespace {

using com::MemberKind;

// Where a recordset stands, so that it can be put back after a walk.
struct Position {
  enum { Nowhere, BeforeFirst, AfterLast, OnRow } where = Nowhere;
  long row = 0;  // visible rows before the current one, for OnRow
};

Position positionOf(ado::Recordset& rs) {
  Position p;
  if (rs.recordCount() == 0) return p;
  if (rs.bof()) {
    p.where = Position::BeforeFirst;
  } else if (rs.eof()) {
    p.where = Position::AfterLast;
  } else {
    p.where = Position::OnRow;
    for (rs.movePrevious(); !rs.bof(); rs.movePrevious()) ++p.row;
  }
  return p;
}

void restore(ado::Recordset& rs, const Position& p) {
  switch (p.where) {
    case Position::Nowhere: return;
    case Position::BeforeFirst:
      rs.moveFirst();
      rs.movePrevious();
      return;
    case Position::AfterLast:
      rs.moveLast();
      rs.moveNext();
      return;
    case Position::OnRow:
      rs.moveFirst();
      for (long i = 0; i < p.row; ++i) rs.moveNext();
      return;
  }
}

Json dumpRecordset(ado::Recordset& rs, HandleTable& handles) {
  if (!rs.isOpen()) badRequest("The recordset is closed");
  Json fields = Json::array();
  const int32_t count = rs.fieldCount();
  for (int32_t i = 0; i < count; ++i) fields.push_back(rs.fieldName(i));
  Json rows = Json::array();
  Position p = positionOf(rs);
  try {
    if (p.where != Position::Nowhere) {
      for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        Json row = Json::array();
        for (int32_t i = 0; i < count; ++i) row.push_back(toJson(rs.value(i), handles));
        rows.push_back(std::move(row));
      }
    }
  } catch (...) {
    // The walk's failure is the one to report; put the cursor back as best we can.
    try {
      restore(rs, p);
    } catch (...) {
    }
    throw;
  }
  restore(rs, p);
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
