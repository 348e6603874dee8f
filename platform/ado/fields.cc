#include "platform/ado/fields.h"

namespace tivel::ado {
namespace {

constexpr const char* kItemNotFoundText =
    "Item cannot be found in the collection corresponding to the requested name or ordinal.";

class Field : public com::Object {
 public:
  Field(std::shared_ptr<Recordset> rs, int32_t index) : rs_(std::move(rs)), index_(index) {}
  const com::ClassInfo& classInfo() const override { return info(); }

  static const com::ClassInfo& info() {
    static const com::ClassInfo c = [] {
      com::ClassInfo i("ADODB.Field", "Field");
      i.get("Name", {},
            com::bind<Field>([](Field& f, com::Args&) { return com::Variant(f.rs_->fieldName(f.index_)); }));
      i.get("Value", {}, com::bind<Field>([](Field& f, com::Args&) { return f.rs_->value(f.index_); }));
      i.put("Value", {com::in("value")}, com::bind<Field>([](Field& f, com::Args& a) {
              f.rs_->setValue(f.index_, a[0]);
              return com::Variant();
            }));
      i.get("OriginalValue", {}, com::bind<Field>([](Field& f, com::Args&) { return f.rs_->originalValue(f.index_); }));
      return i;
    }();
    return c;
  }

 private:
  std::shared_ptr<Recordset> rs_;
  int32_t index_;
};

class Fields : public com::Object {
 public:
  explicit Fields(std::shared_ptr<Recordset> rs) : rs_(std::move(rs)) {}
  const com::ClassInfo& classInfo() const override { return info(); }

  static const com::ClassInfo& info() {
    static const com::ClassInfo c = [] {
      com::ClassInfo i("ADODB.Fields", "Fields");
      i.get("Count", {}, com::bind<Fields>([](Fields& f, com::Args&) { return com::Variant(f.rs_->fieldCount()); }));
      i.get("Item", {com::in("Index")},
            com::bind<Fields>([](Fields& f, com::Args& a) { return com::Variant(makeField(f.rs_, a[0])); }));
      return i;
    }();
    return c;
  }

 private:
  std::shared_ptr<Recordset> rs_;
};

}  // namespace

int32_t fieldPosition(const Recordset& rs, const com::Variant& index) {
  int32_t i = -1;
  if (index.isString()) {
    i = rs.fieldIndex(*index.get<std::string>());
  } else if (index.isNumeric()) {
    double d = index.toDouble();
    if (d >= 0 && d < rs.fieldCount()) i = static_cast<int32_t>(d);
  }
  if (i < 0 || i >= rs.fieldCount()) com::raise(kItemNotFound, "ADODB.Fields", kItemNotFoundText);
  return i;
}

com::ObjectPtr makeFields(std::shared_ptr<Recordset> rs) { return std::make_shared<Fields>(std::move(rs)); }

com::ObjectPtr makeField(std::shared_ptr<Recordset> rs, const com::Variant& index) {
  int32_t i = fieldPosition(*rs, index);
  return std::make_shared<Field>(std::move(rs), i);
}

}  // namespace tivel::ado
