#include "mgt/admin/directory_import.h"

#include "mgt/admin/admin_mgt.h"
#include "mgt/admin/directory.h"
#include "mgt/admin/policy_state.h"
#include "mgt/admin/second_factor.h"
#include "mgt/common/helpers.h"
#include "mgt/common/pattern.h"
#include "mgt/common/result_codes.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "records/record.h"

namespace tivel::mgt::directory {
namespace {

using com::Args;
using com::MemberKind;
using com::Variant;

const char* const kLdapAcnt = "12";
const char* const kSource = "TivelMgt.directory.import";

[[noreturn]] void fail(const std::string& why) { com::raise(com::kObjectError, kSource, why); }

Variant recordValue(const records::RecordPtr& r) { return Variant(std::static_pointer_cast<com::Object>(r)); }

// The portal user a directory account belongs to: the one whose LdapAcnt
// names it, else the one with that account.
records::RecordPtr portalUser(com::Object& um, const std::string& account) {
  auto rs = openRead("select usr_no from umUsrSecInst where usa_no='" + std::string(kLdapAcnt) + "' and Usi_Value='" +
                     QuoteSql(account) + "'");
  std::string usrNo = rs->recordCount() > 0 ? rs->value(0).toString() : "";
  rs->close();
  Args a{Variant(usrNo.empty() ? account : usrNo)};
  Variant user = um.invoke(usrNo.empty() ? "getUsrByAccount" : "getUsr", MemberKind::Method, a);
  return records::recordArg(user, "cUmUsr");
}

// Sets a property when the directory says otherwise; true when it changed.
bool follow(records::Record& user, const char* property, const std::string& value) {
  const Variant& now = user.get(property);
  if (!now.isNull() && now.toString() == value) return false;
  if (now.isNull() && value.empty()) return false;
  user.set(property, Variant(value));
  return true;
}

// Makes the user a member of the organisation; true when it was not one yet.
bool joinOrganisation(com::Object& um, const std::string& orgNo, const std::string& usrNo, bool main) {
  auto member = records::newRecord("cUmOrg2usr");
  member->set("Org_No", Variant(orgNo));
  member->set("Usr_No", Variant(usrNo));
  member->set("IsMain", Variant(int32_t{main ? 1 : 0}));
  Args add{recordValue(member), Variant("")};
  std::string code = um.invoke("addOrg2Usr", MemberKind::Method, add).toString();
  if (code == codes::kAddOrg2UsrExists) return false;  // a member already
  if (code != "0") fail("user " + usrNo + " cannot join organisation " + orgNo + " (" + code + ")");
  return true;
}

}  // namespace

ImportReport importPeople(const DirectoryOptions& options, const std::string& orgNo, const std::string& filter) {
  com::ObjectPtr um = com::CreateObject("TivelMgt.UmMgt");
  auto admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
  Args org{Variant(orgNo)};
  if (orgNo.empty() || !records::recordArg(um->invoke("getOrg", MemberKind::Method, org), "cUmOrg"))
    fail("no organisation " + orgNo);
  ImportReport report;
  for (const Person& p : people(options, filter.empty() ? "(objectClass=person)" : filter)) {
    records::RecordPtr user = portalUser(*um, p.account);
    if (!user) {
      // The stored password is never used while the directory decides; a
      // random one keeps it from opening the account if that ever changes.
      if (!admin->addUsr(p.account, second_factor::newSecret(), p.name.empty() ? p.account : p.name, "", p.phone, "",
                         p.mail, ""))
        fail("user " + p.account + " cannot be added");
      user = portalUser(*um, p.account);
      if (!user) fail("user " + p.account + " was added but cannot be read");
      std::string usrNo = user->get("Usr_No").toString();
      policy::setUserValue(kLdapAcnt, usrNo, p.account);
      joinOrganisation(*um, orgNo, usrNo, true);
      report.added.push_back(p.account);
      continue;
    }
    std::string usrNo = user->get("Usr_No").toString();
    bool changed = false;
    if (!p.name.empty()) changed |= follow(*user, "Name", p.name);
    changed |= follow(*user, "Email", p.mail);
    changed |= follow(*user, "Phone", p.phone);
    if (changed) {
      Args update{recordValue(user), Variant(usrNo)};
      std::string code = um->invoke("updateUsr", MemberKind::Method, update).toString();
      if (code != "0") fail("user " + p.account + " cannot be updated (" + code + ")");
    }
    Args ldapAcnt{Variant("LdapAcnt"), Variant(usrNo)};
    if (um->invoke("getUsrSecValue", MemberKind::Method, ldapAcnt).toString() != p.account) {
      policy::setUserValue(kLdapAcnt, usrNo, p.account);
      changed = true;
    }
    changed |= joinOrganisation(*um, orgNo, usrNo, false);
    if (changed)
      report.updated.push_back(p.account);
    else
      ++report.unchanged;
  }
  return report;
}

}  // namespace tivel::mgt::directory
