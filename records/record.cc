#include "records/record.h"

#include <strings.h>

#include "platform/com/registry.h"

namespace tivel::records {
namespace {

struct Definition {
  const char* name;
  std::vector<std::string> properties;
};

// Class names, property names, their letter case and their order are the
// library's published interface; pages and the management component rely on them.
const std::vector<Definition>& definitions() {
  static const std::vector<Definition> s = {
      {"cUmOrg", {"Org_No", "Name", "Disc", "Top_Org_No", "Priority"}},
      {"cUmGrp", {"Grp_no", "Name", "Disc"}},
      {"cUmUsr",
       {"Usr_No", "Account", "Pwd", "Name", "NetName", "Address", "Phone", "Mobile", "Email", "EmailOA", "State",
        "Login_Mode", "Login_Count", "Account_Time"}},
      {"cUmOrg2usr", {"Org_No", "Usr_No", "IsMain", "Priority"}},
      {"cUmGrp2usr", {"Grp_no", "Usr_No", "Priority"}},
      {"cUmOrgAddAttr",
       {"Oaa_No", "Org_No", "Name", "Parse", "Default_Value", "Data_type", "IsNull", "Position", "IsGobal"}},
      {"cUmOrgAddInst", {"Oaa_No", "Org_No", "Oai_Value"}},
      {"cUmUsrAddAttr",
       {"Uaa_No", "Usr_No", "Name", "Parse", "Default_Value", "Data_type", "IsNull", "Position", "IsGobal"}},
      {"cUmUsrAddInst", {"Uaa_No", "Usr_No", "Uai_Value"}},
      {"cUmUsrSecAttr",
       {"Usa_No", "Usr_No", "Name", "Parse", "Default_Value", "Data_type", "IsAvail", "IsNull", "Disc", "IsGobal"}},
      {"cUmUsrSecInst", {"Usa_No", "Usr_No", "IsAvail", "Usi_Value"}},
      {"cUmLogInfo", {"Usr_No", "Token", "Login_Datetime", "Login_Ip", "IsAvail"}},
      {"cApp", {"App_No", "Name", "Disc"}},
      {"cAppRes", {"Res_no", "App_No", "Name", "Disc", "Top_Res_No", "IsRes"}},
      {"cAppRgt", {"Bit_Nod", "Res_no", "Name", "Disc"}},
      {"cAppAuth", {"Res_no", "OGRU_Type", "OGRU_No", "Res_Auth", "IsAvail"}},
      {"cAppRol", {"Rol_No", "App_No", "Name", "Disc"}},
      {"cAppRol2Usr", {"Rol_No", "Usr_No", "Priority"}},
      {"cSysAttr", {"Attr_No", "Name", "Attr_Type", "Attr_Value", "Disc"}},
      {"cSysModule",
       {"Mod_No", "Top_Mod_No", "Name", "En_Name", "Logo", "Priority", "IsInstall", "IsVisibility", "Url_Link", "Param",
        "Disc"}},
      {"cSysHlp",
       {"Hlp_No", "Mod_No", "Mod_Name", "Top_Hlp_No", "Hlp_Topic", "Hlp_Context", "Hlp_Example", "WdateTime"}},
      {"cSysHlpRef", {"Hlp_No", "Hlp_No_Ref"}},
      {"cSysErr", {"Err_No", "Hlp_No", "Err_Type", "Disc", "IsLog", "IsVisibility"}},
      {"cSysLog", {"Log_No", "WdateTime", "Mod_No", "Mod_Name", "Disc", "Log_Type", "Msg_Type"}},
      {"cAppAuthPK", {"Res_no", "Uogr_Type", "Uogr_No"}},
      {"cAppRgtPK", {"Bit_Nod", "Res_no"}},
      {"cUmOrgAddress",
       {"Oaa_No", "Org_No", "Name", "Parse", "Default_Value", "Data_type", "IsNull", "Position", "Oai_Value",
        "IsGobal"}},
      {"cUmUsrAddress",
       {"Uaa_No", "Usr_No", "Name", "Parse", "Default_Value", "Data_type", "IsNull", "Position", "Uai_Value",
        "IsGobal"}},
      {"cUmUsrSec",
       {"Usa_No", "Usr_No", "Name", "Parse", "Default_Value", "Data_type", "IsAvail", "IsNull", "Disc", "IsGobal",
        "Usi_Value", "Usi_IsAvail"}},
  };
  return s;
}

RecordClass makeClass(const Definition& def) {
  RecordClass cls{def.name, def.properties, com::ClassInfo(std::string("TivelPublicDB.") + def.name, def.name)};
  for (size_t i = 0; i < def.properties.size(); ++i) {
    const std::string& p = def.properties[i];
    cls.info.put(p, {com::in("value")}, [i](com::Object& self, com::Args& a) {
      auto& rec = static_cast<Record&>(self);
      rec.set(rec.recordClass().properties[i], a[0]);
      return com::Variant();
    });
    cls.info.get(p, {}, [i](com::Object& self, com::Args&) {
      auto& rec = static_cast<Record&>(self);
      return rec.get(rec.recordClass().properties[i]);
    });
  }
  return cls;
}

std::vector<RecordClass>& classes() {
  static std::vector<RecordClass> c = [] {
    std::vector<RecordClass> out;
    out.reserve(definitions().size());
    for (const auto& s : definitions()) out.push_back(makeClass(s));
    return out;
  }();
  return c;
}

const bool registered = [] {
  for (const auto& cls : classes()) {
    const RecordClass* c = &cls;
    com::registerClass(cls.info, [c] { return std::make_shared<Record>(*c); });
  }
  return true;
}();

}  // namespace

Record::Record(const RecordClass& cls) : cls_(cls), values_(cls.properties.size()) {}

int Record::indexOf(std::string_view name) const {
  for (size_t i = 0; i < cls_.properties.size(); ++i) {
    const std::string& p = cls_.properties[i];
    if (p.size() == name.size() && strncasecmp(p.data(), name.data(), p.size()) == 0) return static_cast<int>(i);
  }
  return -1;
}

const com::Variant& Record::get(std::string_view name) const {
  int i = indexOf(name);
  if (i < 0) com::raise(com::kUnknownName, cls_.name, "Unknown property: " + std::string(name));
  return values_[static_cast<size_t>(i)];
}

void Record::set(std::string_view name, com::Variant value) {
  int i = indexOf(name);
  if (i < 0) com::raise(com::kUnknownName, cls_.name, "Unknown property: " + std::string(name));
  setAt(static_cast<size_t>(i), std::move(value));
}

void Record::setAt(size_t i, com::Variant value) {
  keepReadValues();
  values_[i] = std::move(value);
}

void Record::keepReadValues() {
  if (read_ && readValues_.empty()) readValues_ = values_;
}

void Record::dropReferences() {
  for (com::Variant& v : values_)
    if (v.isObject() || v.type() == com::VarType::Array) {
      keepReadValues();
      v = com::Variant();
    }
}

// A record is mostly read and never changed: the values as read are copied
// only when a property first changes.
void Record::rememberRead(std::shared_ptr<const std::vector<std::string>> columns, ado::PackedRow row) {
  read_ = true;
  readValues_.clear();
  readColumns_ = std::move(columns);
  readRow_ = std::move(row);
}

const com::Variant* Record::readValue(std::string_view name) const {
  const com::Variant& now = get(name);  // fails for an unknown name
  if (!read_) return nullptr;
  return readValues_.empty() ? &now : &readValues_[static_cast<size_t>(&now - values_.data())];
}

void Record::markWritten(std::string_view property, std::string_view column) {
  const com::Variant& now = get(property);
  if (!read_) return;
  if (!readValues_.empty()) readValues_[static_cast<size_t>(&now - values_.data())] = now;
  // Rare (after a write), so the packed row is made again whole. A value
  // that cannot be packed (an object) was never written to a column.
  if (now.isObject() || now.type() == com::VarType::Array) return;
  std::vector<com::Variant> row = readRow_.unpack();
  for (size_t i = 0; i < row.size(); ++i) {
    const std::string& name = (*readColumns_)[i];
    if (name.size() == column.size() && strncasecmp(name.data(), column.data(), name.size()) == 0) row[i] = now;
  }
  readRow_ = ado::PackedRow(row);
}

bool Record::wasReadFrom(std::string_view column, std::string_view value) const {
  if (!read_) return false;
  for (size_t i = 0; i < readRow_.size(); ++i) {
    const std::string& name = (*readColumns_)[i];
    if (name.size() == column.size() && strncasecmp(name.data(), column.data(), name.size()) == 0) {
      const com::Variant held = readRow_.at(i);
      return held.isString() || held.isNumeric() ? held.toString() == value : false;
    }
  }
  return false;
}

const std::vector<RecordClass>& recordClasses() { return classes(); }

const RecordClass* findRecordClass(std::string_view name) {
  for (const auto& c : classes())
    if (c.name == name) return &c;
  return nullptr;
}

RecordPtr newRecord(std::string_view className) {
  const RecordClass* c = findRecordClass(className);
  if (!c) com::raise(com::kInvalidClassString, "TivelPublicDB", "No record class " + std::string(className));
  return std::make_shared<Record>(*c);
}

RecordPtr recordArg(const com::Variant& v, std::string_view className) {
  com::ObjectPtr obj = v.toObject();
  if (!obj) return nullptr;
  auto rec = std::dynamic_pointer_cast<Record>(obj);
  if (!rec || (!className.empty() && rec->recordClass().name != className))
    com::raise(com::kTypeMismatchArg, "TivelPublicDB",
               "Type mismatch: expected a record of class " +
                   std::string(className.empty() ? "TivelPublicDB" : className) + ", got " +
                   obj->classInfo().className());
  return rec;
}

}  // namespace tivel::records
