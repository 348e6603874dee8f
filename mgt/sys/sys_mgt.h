// SysMgt: the portal's own system data in the management database
// (TivelMgt.SysMgt): system attributes, modules (a tree of menu entries),
// help topics with their cross-references, the error catalogue and the
// system log. Adds, updates and deletes answer with a result code ("0" or
// the code of the failing step); reads answer with a record or Nothing, or a
// cCollection or Nothing (never an empty collection). No operation fails to
// its caller: every failure becomes the operation's failure value.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/object.h"
#include "records/record.h"

namespace tivel::mgt {

using records::Record;
using records::RecordPtr;

class SysMgt : public com::Object {
 public:
  const com::ClassInfo& classInfo() const override;

  // ---- System attributes
  // Adds a cSysAttr (Name required; a null Attr_Type is stored as 0, any other
  // must be a number); strSatNo receives the key ("ATT_..." when none is given).
  std::string addSysAttr(const RecordPtr& oSysAttrRec, com::Variant& strSatNo);
  // Writes Attr_No, Name, Attr_Type, Attr_Value and Disc into the attribute strSysAttr_No.
  std::string updateSysAttr(const RecordPtr& oSysAttrRec, const std::string& strSysAttr_No);
  // Deletes the attribute; "0" whether or not it existed.
  std::string delSysAttr(const std::string& strSysAttr_No);
  // The cSysAttr of that key, or Nothing (also for an empty key).
  com::Variant getSysAttr(const std::string& strSysAttr_No);

  // ---- Modules
  // Adds a cSysModule (Name required; null IsInstall/IsVisibility are stored
  // as 1, others must be numbers); strModNo receives the key ("MOD_..." when none is given).
  std::string addMod(const RecordPtr& oModuleRec, com::Variant& strModNo);
  // Writes every field of the record into the module strMod_no.
  std::string updateMod(const RecordPtr& oModRec, const std::string& strMod_no);
  // Deletes the module row only; its children and help topics stay.
  std::string delMod(const std::string& strMod_no);
  // The cSysModule of that key, or Nothing (also for an empty key).
  com::Variant getMod(const std::string& strMod_no);
  // The children of a module ("" means "0", the top) by ascending priority,
  // keyed "Mod" + Mod_No; Nothing when there is none.
  com::Variant getSonModOfMod(const std::string& strMod_no);

  // ---- Help topics and references
  // Adds a cSysHlp (Hlp_Topic required); strHlpNo receives the key ("HLP_..." when none is given).
  std::string AddHlp(const RecordPtr& oHlpRec, com::Variant& strHlpNo);
  // Adds the reference Hlp_No -> Hlp_No_Ref (both required; duplicates are
  // stored again). strSysHlpRef_No is left as it was.
  std::string AddHlpRef(const RecordPtr& oHlpRefRec, com::Variant& strSysHlpRef_No);
  // Writes every field of the record into the topic strHlp_No.
  std::string updateHlp(const RecordPtr& oHlpRec, const std::string& strHlp_No);
  // Deletes the topic only; children, references and error entries stay.
  std::string delHlp(const std::string& strHlp_No);
  // The cSysHlp of that key, or Nothing (also for an empty key).
  com::Variant getHlp(const std::string& strHlp_No);
  // The child topics ("" means "0", the top), keyed "Hlp" + Hlp_No; Nothing when there is none.
  com::Variant getSonHlpOfHlp(const std::string& strHlp_No);
  // The topics strHlp_No refers to, keyed "Hlp" + Hlp_No; Nothing when there
  // is none or when one is referred to twice.
  com::Variant getHlpRefofHlp(const std::string& strHlp_No);

  // ---- Error catalogue
  // Adds a cSysErr (Hlp_No required); strSysErr_No receives the key ("Err_..." when none is given).
  std::string AddErr(const RecordPtr& oErrRec, com::Variant& strSysErr_No);
  // Writes every field of the record into the error entry strErr_No.
  std::string updateErr(const RecordPtr& oErrRec, const std::string& strErr_No);
  // Deletes the error entry; "0" whether or not it existed.
  std::string delErr(const std::string& strErr_No);
  // The cSysErr of that key, or Nothing (also for an empty key).
  com::Variant getErr(const std::string& strErr_No);
  // Every error entry, keyed "Err" + Err_No; Nothing when there is none.
  com::Variant getAllErr();

  // ---- System log
  // Adds a cSysLog (Disc required); strSysLog_No receives the key ("LOG_..."
  // when none is given; a generated key found used is drawn again).
  std::string addLog(const RecordPtr& oLogRec, com::Variant& strSysLog_No);
  // Writes every field of the record into the log entry strLog_No.
  std::string updateLog(const RecordPtr& oLogRec, const std::string& strLog_No);
  // Deletes the log entry; "0" whether or not it existed.
  std::string delLog(const std::string& strLog_No);
  // The cSysLog of that key, or Nothing (also for an empty key).
  com::Variant getLog(const std::string& strLog_No);
  // The whole log, keyed "Log" + Log_No; Nothing when it is empty.
  com::Variant getAllLog();
  // Appends a log entry stamped with the current date and time; true exactly
  // when it was stored (an empty strLogDisc gives false).
  bool WriteLog(const std::string& strModNo, const std::string& strModName, const std::string& strLogDisc,
                int16_t intLogType = 0, int16_t intMsgType = 0);
};

}  // namespace tivel::mgt
