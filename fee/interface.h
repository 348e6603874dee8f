// TivelGF.interface: the fee application's server class. Generic recordset
// reading and transactional writing, the operator's menu, and the numbering,
// saving and deleting of fee slips, all on the thread's fee-database
// connection.
#pragma once

#include <string>

#include "platform/ado/recordset.h"
#include "platform/com/object.h"

namespace tivel::gf {

class Interface : public com::Object {
 public:
  const com::ClassInfo& classInfo() const override;

  // A batch-optimistic keyset recordset for pSQL, or Nothing with the
  // failure's description in pErr (pErr untouched on success).
  com::Variant f_GetRecordset(com::Variant& pErr, const com::Variant& pSessionId, const com::Variant& pSQL);
  // Runs one statement, writes one recordset's pending changes, or runs an
  // array of them in one transaction; false with the description in pErr.
  bool f_SetRs(std::string& pErr, const std::string& msessionid, const com::Variant& pVar);
  // The menu rows the operator may use (each right's item and every item
  // above it), or Nothing when the reading fails; pErr is set to "".
  com::Variant GetUserMenu(const std::string& pUserId, const std::string& pJH, com::Variant& pErr);
  // Saves a slip in one transaction (number, header, details, attachment,
  // snapshot); true with the number in pErr, else false with the failure.
  bool Save_Script(std::string& pErr, int32_t pYear, int16_t pMonth, const std::string& pJH,
                   const ado::RecordsetPtr& pScript, const ado::RecordsetPtr& pDtl, const ado::RecordsetPtr& pFile);
  // Deletes an unsigned slip with all its rows; a signed one is refused.
  bool Delete_Script(std::string& pErr, const std::string& pID, const std::string& pJH);

 private:
  // Issues the next slip number of the JH code, year and month inside the
  // caller's transaction; "" with the failure in pErr.
  std::string New_ScriptId(std::string& pErr, int32_t pYear, int16_t pMonth, const std::string& pJH);
};

}  // namespace tivel::gf
