#include "fee/statements.h"

#include <exception>

#include "fee/module.h"
#include "platform/com/error.h"
#include "platform/com/text.h"

namespace tivel::gf {

std::string QuoteSql(std::string_view s) { return com::doubleSingleQuotes(s); }

std::string slipCondition(const std::string& jh, const std::string& scriptId) {
  return " WHERE JH = '" + QuoteSql(jh) + "' AND Script_Id = '" + QuoteSql(scriptId) + "'";
}

ado::RecordsetPtr openBatch(const std::string& sql) {
  auto rs = std::make_shared<ado::Recordset>();
  rs->setActiveConnection(connectionPtr());
  rs->setLockType(ado::adLockBatchOptimistic);
  rs->open(sql, nullptr);
  return rs;
}

ado::RecordsetPtr recordsetArg(const com::Variant& v) {
  com::ObjectPtr o = v.toObject();
  if (!o) return nullptr;
  auto rs = std::dynamic_pointer_cast<ado::Recordset>(o);
  if (!rs) com::raise(com::kTypeMismatch, "TivelGF", "Type mismatch");
  return rs;
}

ado::Recordset& deref(const ado::RecordsetPtr& rs) {
  if (!rs) com::raise(com::kObjectNotSet, "TivelGF", com::kObjectNotSetText);
  return *rs;
}

std::string failureDescription() { return com::currentFailureDescription("Unknown failure"); }

size_t characterCount(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

}  // namespace tivel::gf
