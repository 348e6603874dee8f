// Directory login against a throwaway slapd, on each engine: the directory
// decides for the users it covers, accounts are escaped, a directory that
// does not answer fails the login in time and no password reaches a log,
// wrong directory passwords lock the account, and the import of people.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "mgt/admin/admin_mgt.h"
#include "mgt/admin/directory.h"
#include "mgt/admin/directory_import.h"
#include "mgt/common/module.h"
#include "mgt/common/security_options.h"
#include "mgt/testing/directory.h"
#include "mgt/testing/portal.h"
#include "platform/ado/recordset.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "platform/profile/profile.h"
#include "testing/errors.h"
#include "testing/faults.h"

namespace tivel::mgt {
namespace {

using testing::TestDirectory;

TEST(DirectoryEscaping, SpecialCharactersAreEscaped) {
  EXPECT_EQ(directory::escapeDnValue("a,b+c\"d\\e<f>g;h=i"), "a\\,b\\+c\\\"d\\\\e\\<f\\>g\\;h\\=i");
  EXPECT_EQ(directory::escapeDnValue("#x y "), "\\#x y\\ ");
  EXPECT_EQ(directory::escapeDnValue(std::string("a\0b\n", 4)), "a\\00b\\0a");
  EXPECT_EQ(directory::escapeFilterValue("*)(uid=*\\"), "\\2a\\29\\28uid=\\2a\\5c");
  EXPECT_EQ(directory::escapeFilterValue(std::string("a\0", 2)), "a\\00");
  EXPECT_EQ(directory::escapeFilterValue("鲍勃"), "鲍勃");
}

// A directory that never answers holds at most max_binds checks at once;
// the others wait for a place within their own time-out, then fail.
TEST(DirectoryBinds, AtMostMaxBindsWaitOnTheDirectory) {
  testing::BlackHole hole;
  DirectoryOptions holding;
  holding.url = hole.url();
  holding.userDn = "uid={account},dc=example,dc=org";
  holding.timeoutMs = 3000;
  holding.maxBinds = 2;
  DirectoryOptions waiting = holding;
  waiting.timeoutMs = 500;
  std::vector<directory::Check> checks(5);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < checks.size(); ++i) {
    if (i == 2) std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the first two hold the places
    threads.emplace_back([&, i] { checks[i] = directory::verify(i < 2 ? holding : waiting, "alice", "pw"); });
  }
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < checks.size(); ++i) {
    EXPECT_EQ(checks[i].outcome, directory::Outcome::Unavailable);
    EXPECT_EQ(checks[i].cause.find("max_binds") != std::string::npos, i >= 2) << i << ": " << checks[i].cause;
  }
  // The places are free again.
  EXPECT_EQ(directory::verify(waiting, "alice", "pw").cause.find("max_binds"), std::string::npos);
}

class DirectoryLoginTest : public testing::PortalTest {
 protected:
  bool seed() const override { return true; }
  void SetUp() override {
    std::string why;
    auto found = TestDirectory::fromEnvironment(&why);
    if (!found) {
      if (testing::directoryRequired()) FAIL() << why;
      GTEST_SKIP() << why;
    }
    dir = *found;
    PortalTest::SetUp();
    admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    ASSERT_TRUE(admin->addUsr("Editor", "Secret", "编辑", "", "", "", "", ""));
    ASSERT_TRUE(admin->addUsr("Plain", "Plain pw", "普通", "", "", "", "", ""));
    no = portal().scalar("select usr_no from umUsr where account='Editor'").toString();
    ldapAccount("alice");
    byDn(dir.url);
  }
  // The user_dn way, over StartTLS (ldap://) or ldaps://.
  void byDn(const std::string& url) {
    testing::writeDirectoryConfig(portal().root(), {{"url", url},
                                                    {"starttls", url.rfind("ldaps", 0) == 0 ? "0" : "1"},
                                                    {"ca_file", dir.ca},
                                                    {"user_dn", "uid={account},ou=people," + dir.base},
                                                    {"base", ""},
                                                    {"filter", ""},
                                                    {"timeout_ms", "3000"}});
  }
  // The search way, as the reader account, over ldaps://.
  void byFilter() {
    testing::writeDirectoryConfig(portal().root(), {{"url", dir.ldapsUrl},
                                                    {"starttls", "0"},
                                                    {"ca_file", dir.ca},
                                                    {"user_dn", ""},
                                                    {"base", dir.base},
                                                    {"filter", "(&(objectClass=inetOrgPerson)(uid={account}))"},
                                                    {"bind_dn", dir.bindDn},
                                                    {"bind_password_file", dir.bindPasswordFile},
                                                    {"timeout_ms", "3000"}});
  }
  void ldapAccount(const std::string& account) { value("12", account); }
  void value(const std::string& usa, const std::string& v) {
    portal().exec("delete from umUsrSecInst where usa_no='" + usa + "' and usr_no='" + no + "'");
    portal().exec("insert into umUsrSecInst(Usa_no,usr_no,Usi_Value,isAvail) values('" + usa + "','" + no + "','" + v +
                  "',1)");
  }
  void setting(const char* section, const char* key, const std::string& v) {
    ASSERT_TRUE(profile::writePrivateProfileString(section, key, v, portal().root() + "/ini/SysTivel.ini"));
  }
  std::string login(const std::string& account, const std::string& pwd) { return admin->loginByPwd(account, pwd, ""); }
  std::string errorCount() {
    return portal().scalar("select Usi_Value from umUsrSecInst where usa_no='3' and usr_no='" + no + "'").toString();
  }
  std::string fileLog() {
    std::string text;
    for (const auto& f : std::filesystem::directory_iterator(portal().root() + "/log")) {
      std::stringstream s;
      s << std::ifstream(f.path()).rdbuf();
      text += s.str();
    }
    return text;
  }
  DirectoryOptions options() { return readSecurityOptions(portal().root() + "/ini/SysTivel.ini").directory; }
  directory::ImportReport import(directory::ImportRequest r = {}) {
    if (r.orgNo.empty()) r.orgNo = "ORG_1";
    return directory::importPeople(options(), r);
  }

  TestDirectory dir;
  std::shared_ptr<AdminMgt> admin;
  std::string no;
};

TEST_P(DirectoryLoginTest, TheDirectoryDecidesForTheUsersItCovers) {
  EXPECT_EQ(login("Editor", "Alice pw 1"), "0");
  EXPECT_EQ(login("Editor", "Secret"), "10003") << "the stored password no longer opens";
  EXPECT_EQ(login("Editor", "alice pw 1"), "10003");
  EXPECT_EQ(login("Editor", ""), "10003") << "this directory takes a name without password as an unauthenticated bind";
  EXPECT_EQ(login("Plain", "Plain pw"), "0") << "a user without LdapAcnt keeps the stored password";
  EXPECT_EQ(portal().count("SysLog", "disc='Editor登录成功！'"), 1);
  EXPECT_EQ(portal().count("umLogInfo", "usr_no='" + no + "'"), 1);
  byDn(dir.ldapsUrl);
  EXPECT_EQ(login("Editor", "Alice pw 1"), "0") << "ldaps://";
  // all_users=1: a user without LdapAcnt binds as its own account.
  ASSERT_TRUE(admin->addUsr("bob", "local", "鲍勃", "", "", "", "", ""));
  EXPECT_EQ(login("bob", "local"), "0");
  testing::writeDirectoryConfig(portal().root(), {{"all_users", "1"}});
  EXPECT_EQ(login("bob", "Bob pw 2"), "0");
  EXPECT_EQ(login("bob", "local"), "10003");
  // Without a url the stored password decides again.
  testing::writeDirectoryConfig(portal().root(), {{"url", ""}});
  EXPECT_EQ(login("Editor", "Secret"), "0");
}

TEST_P(DirectoryLoginTest, AccountsAreEscapedInDnAndFilter) {
  struct Person {
    const char *account, *password;
  };
  const Person own[] = {
      {"*", "Star pw 3"}, {"x)(y", "Paren pw 4"}, {"comma,name", "Comma pw 5"}, {"eq=ual", "Equal pw 6"}};
  for (bool filter : {false, true}) {
    SCOPED_TRACE(filter ? "base and filter" : "user_dn");
    if (filter) byFilter();
    for (const Person& p : own) {
      ldapAccount(p.account);
      EXPECT_EQ(login("Editor", p.password), "0") << p.account;
      EXPECT_EQ(login("Editor", "Alice pw 1"), "10003") << p.account;
    }
    // Accounts that would name another entry (alice's) if they were not escaped.
    for (const char* a : {"a*", "alice)(|(uid=*", "al\\69ce"}) {
      ldapAccount(a);
      EXPECT_EQ(login("Editor", "Alice pw 1"), "10003") << a;
    }
  }
}

TEST_P(DirectoryLoginTest, AnUnansweringDirectoryFailsInTimeAndNoPasswordIsLogged) {
  setting("LOG", "trace", "1");
  setting("Policy", "enforce", "1");
  value("4", "2");  // two wrong passwords lock
  testing::OwnDirectory own(dir);
  testing::BlackHole hole;
  byDn(own.url());
  testing::writeDirectoryConfig(portal().root(), {{"timeout_ms", "1000"}});
  {
    // A step that fails after the directory's yes leaves a trace.
    tivel::testing::Faults faults;
    faults.failStatement(1, "insert into umLogInfo", false);
    EXPECT_EQ(login("Editor", "Alice pw 1"), "0");
  }
  own.pause();
  struct Case {
    const char* what;
    std::string url;
    const char* starttls;
  };
  const Case cases[] = {{"StartTLS, server stopped", own.url(), "1"},
                        {"ldaps://, server stopped", own.ldapsUrl(), "0"},
                        {"ldap://, server stopped", own.url(), "0"},
                        {"connection never completed", hole.url(), "0"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::writeDirectoryConfig(portal().root(), {{"url", c.url}, {"starttls", c.starttls}});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(login("Editor", "Alice pw 1"), "10005");
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(ms, 1000 + 1500) << "the login outlasted its time-out";
  }
  EXPECT_EQ(errorCount(), "0") << "no answer is no wrong password";
  EXPECT_NE(fileLog().find("directory: login of Editor (directory account alice) at " + hole.url() + " failed after"),
            std::string::npos);
  EXPECT_NE(fileLog().find("no answer within 1000 ms; login refused"), std::string::npos);
  // A certificate from another authority, and a service account that cannot bind.
  byDn(dir.url);
  testing::writeDirectoryConfig(portal().root(), {{"ca_file", dir.wrongCa}});
  EXPECT_EQ(login("Editor", "Alice pw 1"), "10005");
  byFilter();
  std::string shared = portal().root() + "/reader.password";
  std::filesystem::copy_file(dir.bindPasswordFile, shared);
  std::filesystem::permissions(shared, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
  testing::writeDirectoryConfig(portal().root(), {{"bind_password_file", shared}});
  EXPECT_EQ(login("Editor", "Alice pw 1"), "10005");
  EXPECT_NE(fileLog().find("may be read by others"), std::string::npos);
  testing::writeDirectoryConfig(portal().root(),
                                {{"bind_dn", "cn=nobody," + dir.base}, {"bind_password_file", dir.bindPasswordFile}});
  EXPECT_EQ(login("Editor", "Alice pw 1"), "10005");
  // fallback_local=1: the stored password decides while the directory does not answer.
  byDn(own.url());
  testing::writeDirectoryConfig(portal().root(), {{"timeout_ms", "500"}, {"fallback_local", "1"}});
  EXPECT_EQ(login("Editor", "Secret"), "0");
  EXPECT_EQ(login("Editor", ""), "10003") << "an empty password never opens a directory user";
  own.resume();
  EXPECT_EQ(login("Editor", "Secret"), "10003") << "a directory that answers is never overruled";
  EXPECT_EQ(login("Editor", "Alice pw 1"), "10012") << "two wrong passwords locked the account";
  // No password, the users' or the service account's, in the file log or the system log.
  std::string service;
  std::getline(std::ifstream(dir.bindPasswordFile), service);
  std::string logs = fileLog();
  auto rs = portal().db().execute("select disc from SysLog");
  for (; !rs->eof(); rs->moveNext()) logs += rs->value(0).toString() + "\n";
  EXPECT_NE(logs.find("TRACE UmMgt.addLogInfo"), std::string::npos) << "tracing was on";
  for (const std::string& secret : {std::string("Alice pw 1"), std::string("Secret"), service})
    EXPECT_EQ(logs.find(secret), std::string::npos) << "a password in the logs";
}

TEST_P(DirectoryLoginTest, WrongDirectoryPasswordsLockTheAccount) {
  setting("Policy", "enforce", "1");
  value("4", "3");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(login("Editor", "guess"), "10003");
  EXPECT_EQ(errorCount(), "3");
  EXPECT_EQ(portal().count("SysLog", "disc='Editor登录错误次数已达上限，帐号已锁定！'"), 1);
  EXPECT_EQ(login("Editor", "Alice pw 1"), "10012");
}

TEST_P(DirectoryLoginTest, ImportAddsPeopleOnceAndFollowsTheDirectory) {
  portal().exec("insert into umOrg(Org_no,name,Priority,top_org_no) values('ORG_1','部门',1,'0')");
  byFilter();
  directory::ImportReport r = import();
  std::sort(r.added.begin(), r.added.end());
  EXPECT_EQ(r.added, (std::vector<std::string>{"*", "bob", "comma,name", "eq=ual", "x)(y"}));
  EXPECT_EQ(r.updated, std::vector<std::string>{"alice"}) << "Editor is alice (LdapAcnt)";
  EXPECT_EQ(portal().scalar("select name from umUsr where usr_no='" + no + "'").toString(), "Alice Liddell");
  EXPECT_EQ(portal().scalar("select email from umUsr where usr_no='" + no + "'").toString(), "alice@tivel.test");
  std::string bob = portal().scalar("select usr_no from umUsr where account='bob'").toString();
  EXPECT_EQ(portal().scalar("select name from umUsr where usr_no='" + bob + "'").toString(), "鲍勃");
  EXPECT_EQ(portal().scalar("select phone from umUsr where usr_no='" + bob + "'").toString(), "+86 10 5550 0102");
  EXPECT_EQ(portal().count("umGrp2Usr", "grp_no='3' and usr_no='" + bob + "'"), 1);
  EXPECT_EQ(portal().count("umOrg2Usr", "org_no='ORG_1'"), 6);
  EXPECT_EQ(portal().count("umUsr", "account='comma,name' and pwd is not null and pwd<>''"), 1)
      << "a password nobody knows, never an empty one";
  EXPECT_EQ(login("bob", "Bob pw 2"), "0");
  EXPECT_EQ(login("x)(y", "Paren pw 4"), "0");
  EXPECT_EQ(login("bob", ""), "10003");

  r = import();
  EXPECT_TRUE(r.added.empty());
  EXPECT_TRUE(r.updated.empty());
  EXPECT_EQ(r.unchanged, 6);
  portal().exec("update umUsr set email='old@tivel.test' where account='bob'");
  r = import({.filter = "(uid=bob)"});
  EXPECT_EQ(r.updated, std::vector<std::string>{"bob"});
  EXPECT_EQ(portal().count("umUsr", "account='bob' and email='bob@tivel.test'"), 1);
  EXPECT_NE(tivel::testing::errorOf([&] { import({.orgNo = "ORG_none"}); }), 0);
}

// An existing portal account of the same name is linked only when told,
// an administrator only by name; a dry run writes nothing.
TEST_P(DirectoryLoginTest, ImportLinksExistingAccountsOnlyWhenTold) {
  portal().exec("insert into umOrg(Org_no,name,Priority,top_org_no) values('ORG_1','部门',1,'0')");
  byFilter();
  ASSERT_TRUE(admin->addUsr("bob", "Boss pw", "管理员", "", "", "", "", ""));
  ASSERT_TRUE(admin->addUsr("eq=ual", "Own pw", "本地", "", "", "", "", ""));
  std::string bob = portal().scalar("select usr_no from umUsr where account='bob'").toString();
  portal().exec("insert into umGrp2Usr(grp_no,usr_no,priority) values('1','" + bob + "','1')");
  const auto ldapAcnt = [&](const char* account) {
    return portal().count("umUsrSecInst", "usa_no='12' and usr_no=(select usr_no from umUsr where account='" +
                                              std::string(account) + "')");
  };
  const long users = portal().count("umUsr", "1=1");

  directory::ImportReport r = import({.linkAll = true, .dryRun = true});
  EXPECT_EQ(r.linked, std::vector<std::string>{"eq=ual"});
  EXPECT_EQ(r.conflicts, std::vector<std::string>{"bob"});
  EXPECT_EQ(r.administrators, std::vector<std::string>{"bob"});
  EXPECT_EQ(r.added.size(), 3u);
  EXPECT_EQ(r.found, 6u);
  EXPECT_EQ(portal().count("umUsr", "1=1"), users) << "a dry run writes nothing";
  EXPECT_EQ(ldapAcnt("eq=ual"), 0);
  EXPECT_EQ(portal().count("umOrg2Usr", "org_no='ORG_1'"), 0);

  r = import();
  std::sort(r.conflicts.begin(), r.conflicts.end());
  EXPECT_EQ(r.conflicts, (std::vector<std::string>{"bob", "eq=ual"}));
  EXPECT_TRUE(r.linked.empty());
  EXPECT_EQ(ldapAcnt("bob") + ldapAcnt("eq=ual"), 0);
  testing::writeDirectoryConfig(portal().root(), {{"all_users", "0"}});
  EXPECT_EQ(login("bob", "Boss pw"), "0") << "the administrator keeps its own password";
  EXPECT_EQ(login("bob", "Bob pw 2"), "10003") << "the directory entry does not take the administrator over";

  r = import({.linkAll = true});
  EXPECT_EQ(r.linked, std::vector<std::string>{"eq=ual"});
  EXPECT_EQ(ldapAcnt("bob"), 0) << "--link-all passes administrators over";
  EXPECT_EQ(login("eq=ual", "Equal pw 6"), "0");
  EXPECT_NE(tivel::testing::errorOf([&] { import({.links = { "nobody" }}); }), 0);
  r = import({.links = {"bob"}});
  EXPECT_EQ(r.linked, std::vector<std::string>{"bob"});
  EXPECT_TRUE(r.conflicts.empty());
  EXPECT_EQ(login("bob", "Bob pw 2"), "0");
}

// The directory matches names loosely; distinct portal accounts that only
// differ in letter case or blanks do not open with another's password.
TEST_P(DirectoryLoginTest, TheEntryMustNameTheAccountExactly) {
  testing::writeDirectoryConfig(portal().root(), {{"all_users", "1"}});
  for (const char* a : {"alice", " alice", "alice ", "ALICE"})
    ASSERT_TRUE(admin->addUsr(a, "local", "名", "", "", "", "", "")) << a;
  for (bool filter : {false, true}) {
    SCOPED_TRACE(filter ? "base and filter" : "user_dn");
    if (filter) {
      byFilter();
      testing::writeDirectoryConfig(portal().root(), {{"all_users", "1"}});
    }
    EXPECT_EQ(login("alice", "Alice pw 1"), "0");
    for (const char* a : {" alice", "alice ", "ALICE"}) EXPECT_EQ(login(a, "Alice pw 1"), "10003") << "'" << a << "'";
    ldapAccount("ALICE");
    EXPECT_EQ(login("Editor", "Alice pw 1"), "10003") << "LdapAcnt names the entry exactly too";
    ldapAccount("alice");
    EXPECT_EQ(login("Editor", "Alice pw 1"), "0");
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, DirectoryLoginTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
