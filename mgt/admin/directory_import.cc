#include "mgt/admin/directory_import.h"

#include <cctype>
#include <memory>

#include "mgt/admin/admin_mgt.h"
#include "mgt/admin/directory.h"
#include "mgt/admin/policy_state.h"
#include "mgt/admin/second_factor.h"
#include "mgt/common/helpers.h"
#include "mgt/common/password_rules.h"
#include "mgt/common/pattern.h"
#include "mgt/um/um_mgt.h"
#include "platform/codes/result_codes.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "records/record.h"

namespace tivel::mgt::directory {
namespace {

using com::Variant;

const char* const kLdapAcnt = "12";
const char* const kSource = "TivelMgt.directory.import";

[[noreturn]] void fail(const std::string& why) { com::raise(com::kObjectError, kSource, why); }

// The one value of the first column a statement reads, "" when none.
std::string firstValue(const std::string& sql) {
  auto rs = openRead(sql);
  std::string v = rs->recordCount() > 0 ? rs->value(0).toString() : "";
  rs->close();
  return v;
}

// The portal user whose LdapAcnt names a directory account, or null.
records::RecordPtr linkedUser(UmMgt& um, const std::string& account) {
  std::string usrNo = firstValue("select usr_no from umUsrSecInst where usa_no='" + std::string(kLdapAcnt) +
                                 "' and Usi_Value='" + QuoteSql(account) + "'");
  return usrNo.empty() ? nullptr : records::recordArg(um.getUsr(usrNo), "cUmUsr");
}

// True when the user is in the system (1) or security (2) administrators' group.
bool administrator(const std::string& usrNo) {
  return !firstValue("select usr_no from umGrp2Usr where grp_no in ('1','2') and usr_no='" + QuoteSql(usrNo) + "'")
              .empty();
}

bool member(const std::string& orgNo, const std::string& usrNo) {
  return !firstValue("select usr_no from umOrg2Usr where org_no='" + QuoteSql(orgNo) + "' and usr_no='" +
                     QuoteSql(usrNo) + "'")
              .empty();
}

// Sets a property when the directory says otherwise; true when it changed.
bool follow(records::Record& user, const char* property, const std::string& value) {
  const Variant& now = user.get(property);
  if (!now.isNull() && now.toString() == value) return false;
  if (now.isNull() && value.empty()) return false;
  user.set(property, Variant(value));
  return true;
}

// A random password of every kind of character, as long as the password
// rules ask: the directory decides the logins, so it is never used.
std::string unusablePassword() {
  const std::string secret = second_factor::newSecret();
  std::string pwd = secret + "-#";
  for (char c : secret) pwd += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (static_cast<int>(pwd.size()) < passwordRules().minLength) pwd += secret;
  return pwd;
}

// Makes the user a member of the organisation.
void joinOrganisation(UmMgt& um, const std::string& orgNo, const std::string& usrNo, bool main) {
  auto rec = records::newRecord("cUmOrg2usr");
  rec->set("Org_No", Variant(orgNo));
  rec->set("Usr_No", Variant(usrNo));
  rec->set("IsMain", Variant(int32_t{main ? 1 : 0}));
  Variant id("");
  std::string code = um.addOrg2Usr(rec, id);
  if (code != "0" && code != codes::kAddOrg2UsrExists)  // a member already
    fail("user " + usrNo + " cannot join organisation " + orgNo + " (" + code + ")");
}

// Brings an existing portal user in line with its directory entry; true when anything changed.
bool bringInLine(UmMgt& um, const records::RecordPtr& user, const Person& p, const std::string& orgNo, bool dryRun) {
  std::string usrNo = user->get("Usr_No").toString();
  bool changed = false;
  if (!p.name.empty()) changed |= follow(*user, "Name", p.name);
  changed |= follow(*user, "Email", p.mail);
  changed |= follow(*user, "Phone", p.phone);
  if (changed && !dryRun) {
    std::string code = um.updateUsr(user, usrNo);
    if (code != "0") fail("user " + p.account + " cannot be updated (" + code + ")");
  }
  if (um.getUsrSecValue("LdapAcnt", usrNo) != p.account) {
    if (!dryRun) policy::setUserValue(kLdapAcnt, usrNo, p.account);
    changed = true;
  }
  if (!member(orgNo, usrNo)) {
    if (!dryRun) joinOrganisation(um, orgNo, usrNo, false);
    changed = true;
  }
  return changed;
}

}  // namespace

ImportReport importPeople(const DirectoryOptions& options, const ImportRequest& request) {
  auto um = std::dynamic_pointer_cast<UmMgt>(com::CreateObject("TivelMgt.UmMgt"));
  auto admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
  if (!um || !admin) fail("the user components cannot be made");
  if (request.orgNo.empty() || !records::recordArg(um->getOrg(request.orgNo), "cUmOrg"))
    fail("no organisation " + request.orgNo);
  const std::vector<Person> listed = people(options, request.filter.empty() ? "(objectClass=person)" : request.filter,
                                            request.pageSize, request.onPage);
  std::set<std::string> unused = request.links;
  for (const Person& p : listed) unused.erase(p.account);
  if (!unused.empty()) fail("--link " + *unused.begin() + ": the directory lists no such account");

  ImportReport report;
  report.found = listed.size();
  for (const Person& p : listed) {
    if (records::RecordPtr user = linkedUser(*um, p.account)) {
      if (bringInLine(*um, user, p, request.orgNo, request.dryRun))
        report.updated.push_back(p.account);
      else
        ++report.unchanged;
      continue;
    }
    if (records::RecordPtr user = records::recordArg(um->getUsrByAccount(p.account), "cUmUsr")) {
      // Same account, never linked: a portal user of its own until told
      // otherwise, so a directory entry cannot take over an account (an
      // administrator's least of all) by its name alone.
      const bool isAdmin = administrator(user->get("Usr_No").toString());
      if (request.links.count(p.account) || (request.linkAll && !isAdmin)) {
        bringInLine(*um, user, p, request.orgNo, request.dryRun);
        report.linked.push_back(p.account);
      } else {
        report.conflicts.push_back(p.account);
        if (isAdmin) report.administrators.push_back(p.account);
      }
      continue;
    }
    report.added.push_back(p.account);
    if (request.dryRun) continue;
    // The stored password is never used while the directory decides; a
    // random one keeps it from opening the account if that ever changes.
    if (!admin->addUsr(p.account, unusablePassword(), p.name.empty() ? p.account : p.name, "", p.phone, "", p.mail, ""))
      fail("user " + p.account + " cannot be added");
    auto user = records::recordArg(um->getUsrByAccount(p.account), "cUmUsr");
    if (!user) fail("user " + p.account + " was added but cannot be read");
    std::string usrNo = user->get("Usr_No").toString();
    policy::setUserValue(kLdapAcnt, usrNo, p.account);
    joinOrganisation(*um, request.orgNo, usrNo, true);
  }
  return report;
}

}  // namespace tivel::mgt::directory
