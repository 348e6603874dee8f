#include "fee/testing/slip_pages.h"

namespace tivel::gf::testing {

int64_t openRecordset(RpcSession& s, int64_t gf, const std::string& sql) {
  return handleOf(s.call(gf, "f_GetRecordset", {byRef(""), "", sql}));
}

SlipForms slipForms(RpcSession& s, int64_t gf, const std::string& jh, const std::string& scriptId, int details,
                    const Json& data, const std::vector<std::pair<std::string, Json>>& fields) {
  SlipForms f;
  f.header = openRecordset(s, gf, "SELECT * FROM T_Script WHERE 1 = 0");
  s.call(f.header, "AddNew");
  s.put(f.header, "Collect", jh, {"JH"});
  s.put(f.header, "Collect", scriptId, {"Script_Id"});
  s.put(f.header, "Collect", "稿件 " + scriptId, {"Title"});
  s.put(f.header, "Collect", "op1", {"Operator"});
  for (const auto& [name, value] : fields) s.put(f.header, "Collect", value, {name});
  f.details = openRecordset(s, gf, "SELECT * FROM T_ScrpDtl WHERE 1 = 0");
  for (int i = 1; i <= details; ++i) {
    s.call(f.details, "AddNew",
           {Json::array({"JH", "Script_Id", "S_NO", "IsExt", "Author_Id", "Percentage", "Amount"}),
            Json::array({"zz", "ignored", i, 0, "AUT" + std::to_string(i), 100.0 / details, 100.0 * i})});
  }
  f.file = openRecordset(s, gf, "SELECT * FROM T_ScrpFile WHERE 1 = 0");
  if (!data.is_null()) s.call(f.file, "AddNew", {Json::array({"DATA", "REMARK"}), Json::array({data, "附件"})});
  return f;
}

Json saveSlip(RpcSession& s, int64_t gf, int year, int month, const std::string& jh, const SlipForms& f) {
  return s.call(gf, "Save_Script", {byRef(""), year, month, jh, obj(f.header), obj(f.details), obj(f.file)});
}

}  // namespace tivel::gf::testing
