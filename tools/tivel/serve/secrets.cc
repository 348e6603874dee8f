#include "tools/tivel/serve/secrets.h"

#include <strings.h>

#include <string>
#include <vector>

#include "records/record.h"

namespace tivel::tool {
namespace {

bool same(std::string_view a, const char* b) {
  return a.size() == std::char_traits<char>::length(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

bool secretName(std::string_view name) { return same(name, "Pwd") || same(name, "PwdTwo") || same(name, "LdapPwd"); }

// The security attributes whose values are secrets: PwdTwo and LdapPwd.
bool secretAttribute(const com::Variant& usaNo) {
  if (usaNo.isNull() || usaNo.isEmpty()) return false;
  const std::string v = usaNo.toString();
  return v == "6" || v == "13";
}

bool secretAttribute(const Json& usaNo) {
  if (usaNo.is_string()) return usaNo == "6" || usaNo == "13";
  if (usaNo.is_number_integer()) return usaNo == 6 || usaNo == 13;
  return false;
}

// A security value's own columns, as rows and records name them.
bool valueColumn(std::string_view key) {
  return same(key, "Usi_Value") || same(key, "Default_Value") || same(key, "Value");
}

// A dumped recordset: {fields:[names], rows:[[values]]}.
bool scrubRecordset(Json& j) {
  if (!j.contains("fields") || !j.contains("rows") || !j["fields"].is_array() || !j["rows"].is_array()) return false;
  std::vector<size_t> secret, values, keys;
  const Json& fields = j["fields"];
  for (size_t i = 0; i < fields.size(); ++i) {
    if (!fields[i].is_string()) continue;
    const std::string f = fields[i].get<std::string>();
    if (secretName(f)) secret.push_back(i);
    if (valueColumn(f)) values.push_back(i);
    if (same(f, "Usa_No") || same(f, "Name")) keys.push_back(i);
  }
  for (Json& row : j["rows"]) {
    if (!row.is_array()) continue;
    for (size_t i : secret)
      if (i < row.size()) row[i] = nullptr;
    bool secretRow = false;
    for (size_t i : keys)
      if (i < row.size())
        secretRow =
            secretRow || secretAttribute(row[i]) || (row[i].is_string() && secretName(row[i].get<std::string>()));
    if (secretRow)
      for (size_t i : values)
        if (i < row.size()) row[i] = nullptr;
  }
  return true;
}

void scrub(Json& j) {
  if (j.is_array()) {
    for (Json& e : j) scrub(e);
    return;
  }
  if (!j.is_object() || scrubRecordset(j)) return;
  bool secretRow = false;
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (same(it.key(), "Usa_No") && secretAttribute(it.value())) secretRow = true;
    if (same(it.key(), "Name") && it.value().is_string() && secretName(it.value().get<std::string>())) secretRow = true;
  }
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (secretName(it.key()) || (secretRow && valueColumn(it.key())))
      it.value() = nullptr;
    else
      scrub(it.value());
  }
}

}  // namespace

bool reachesSecret(const com::Object& object, std::string_view member) {
  const auto* record = dynamic_cast<const records::Record*>(&object);
  if (!record) return false;
  if (secretName(member)) return true;
  if (!valueColumn(member) || record->indexOf("Usa_No") < 0) return false;
  return secretAttribute(record->value("Usa_No"));
}

void withholdSecrets(const Json& request, Json& answer) {
  if (request.is_object() && request.contains("call") && request["call"].is_string() &&
      same(request["call"].get<std::string>(), "getUsrSecValue") && request.contains("args") &&
      request["args"].is_array() && !request["args"].empty() && request["args"][0].is_string() &&
      secretName(request["args"][0].get<std::string>()) && answer.contains("result"))
    answer["result"] = nullptr;
  scrub(answer);
}

}  // namespace tivel::tool
