#include "mgt/common/helpers.h"

#include "mgt/common/module.h"
#include "mgt/common/trace.h"
#include "platform/ado/recordset.h"
#include "platform/com/error.h"
#include "platform/com/text.h"
#include "platform/profile/profile.h"

namespace tivel::mgt {

std::string GetConnectionString() { return component::connectionString(identity()); }

bool OpenDatabase(std::string* why) {
  if (component::connect(identity(), why)) return true;
  traceTrapped("False", __func__);
  return false;
}

std::string ReadIniString(const std::string& path, const std::string& section, const std::string& key) {
  return profile::readIniValue(path, section, key);
}

std::string TrimAtNull(std::string_view s) { return profile::textBeforeNul(s); }

std::string QuoteSql(std::string_view s) { return com::doubleSingleQuotes(s); }

bool RowExists(const std::string& table, const std::string& column, const std::string& value) {
  auto rs = sharedConnection()->execute("Select Count(*) from " + table + " where " + column + "='" + value + "' ");
  bool one = !rs->eof() && rs->value(0).looseEquals(com::Variant(int32_t{1}));
  rs->close();
  return one;
}

void WriteFileLog(const std::string& message) { component::writeLog(identity(), message); }

}  // namespace tivel::mgt
