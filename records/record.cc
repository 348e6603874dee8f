#include "records/record.h"

#include <strings.h>

#include <cstdlib>

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
  // A record marks its properties in 64-bit sets (see Record).
  if (def.properties.size() > 64) std::abort();
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

int RecordClass::indexOf(std::string_view name) const {
  for (size_t i = 0; i < properties.size(); ++i) {
    const std::string& p = properties[i];
    if (p.size() == name.size() && strncasecmp(p.data(), name.data(), p.size()) == 0) return static_cast<int>(i);
  }
  return -1;
}

Record::Record(const RecordClass& cls, std::shared_ptr<const RowShape> shape, ado::PackedRow row)
    : cls_(cls), inRow_(shape->held), readShape_(std::move(shape)), readRow_(std::move(row)) {}

int Record::checkedIndex(std::string_view name) const {
  int i = indexOf(name);
  if (i < 0) com::raise(com::kUnknownName, cls_.name, "Unknown property: " + std::string(name));
  return i;
}

// A list's records are mostly read a few properties each, or not at all:
// a value is made from the shared row only when it is first wanted.
const com::Variant& Record::at(size_t i) const {
  if (values_.empty()) values_.resize(cls_.properties.size());
  const uint64_t bit = uint64_t{1} << i;
  if (inRow_ & bit) {
    values_[i] = readRow_.at(static_cast<size_t>(readShape_->columnOf[i]));
    inRow_ &= ~bit;
  }
  return values_[i];
}

const com::Variant& Record::get(std::string_view name) const { return at(static_cast<size_t>(checkedIndex(name))); }

com::Variant Record::value(std::string_view name) const { return valueAt(static_cast<size_t>(checkedIndex(name))); }

com::Variant Record::valueAt(size_t i) const {
  if (inRow_ & (uint64_t{1} << i)) return readRow_.at(static_cast<size_t>(readShape_->columnOf[i]));
  return values_.empty() ? com::Variant() : values_[i];
}

std::optional<std::string_view> Record::rowText(size_t i) const {
  if (!(inRow_ & (uint64_t{1} << i))) return std::nullopt;
  return readRow_.textAt(static_cast<size_t>(readShape_->columnOf[i]));
}

void Record::set(std::string_view name, com::Variant value) {
  setAt(static_cast<size_t>(checkedIndex(name)), std::move(value));
}

void Record::setAt(size_t i, com::Variant value) {
  keepReadValue(i);
  values_[i] = std::move(value);
}

// The value as read is kept aside only when the property is first replaced.
void Record::keepReadValue(size_t i) {
  at(i);
  const uint64_t bit = uint64_t{1} << i;
  if (!readShape_ || (changed_ & bit)) return;
  if (readValues_.empty()) readValues_.resize(cls_.properties.size());
  readValues_[i] = std::move(values_[i]);
  changed_ |= bit;
}

// Values still only in the row are never objects.
void Record::dropReferences() {
  for (size_t i = 0; i < values_.size(); ++i)
    if (values_[i].isObject() || values_[i].type() == com::VarType::Array) {
      keepReadValue(i);
      values_[i] = com::Variant();
    }
}

const com::Variant* Record::readValue(std::string_view name) const {
  const size_t i = static_cast<size_t>(checkedIndex(name));
  if (!readShape_) return nullptr;
  return (changed_ & (uint64_t{1} << i)) ? &readValues_[i] : &at(i);
}

void Record::markWritten(std::string_view property, std::string_view column) {
  const size_t p = static_cast<size_t>(checkedIndex(property));
  if (!readShape_) return;
  const com::Variant& now = at(p);
  changed_ &= ~(uint64_t{1} << p);
  // Rare (after a write), so the row is made again whole, as a row of its
  // own. A value that cannot be packed (an object) was never written to a
  // column. The values still only in the old row are made first, so they
  // keep what was read.
  if (now.isObject() || now.type() == com::VarType::Array) return;
  for (size_t i = 0; i < cls_.properties.size(); ++i) at(i);
  std::vector<com::Variant> row = readRow_.unpack();
  for (size_t i = 0; i < row.size(); ++i) {
    const std::string& name = readShape_->columns[i];
    if (name.size() == column.size() && strncasecmp(name.data(), column.data(), name.size()) == 0) row[i] = now;
  }
  readRow_ = ado::PackedRow(row);
}

bool Record::wasReadFrom(std::string_view column, std::string_view value) const {
  if (!readShape_) return false;
  for (size_t i = 0; i < readRow_.size(); ++i) {
    const std::string& name = readShape_->columns[i];
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
