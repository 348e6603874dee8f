// Users: add checks and defaults, the two updates, reads, deletes, the
// password change and the login count, alone and under concurrent writers.
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>

#include "mgt/common/module.h"
#include "mgt/init/schema.h"
#include "mgt/testing/processes.h"
#include "mgt/um/um_test_fixture.h"

namespace tivel::mgt {
namespace {

using com::Variant;
using namespace um_testing;

class UsersTest : public UmTest {};

TEST_P(UsersTest, AddChecksNameThenAccountThenAccountUseThenKey) {
  Variant key;
  EXPECT_EQ(um->addUsr(user("U1", "", ""), key), "10023001") << "the name is tested first";
  EXPECT_EQ(um->addUsr(user("U1", "", "张三"), key), "10023002");
  ASSERT_EQ(um->addUsr(user("U1", "zhang"), key), "0");
  EXPECT_EQ(key.toString(), "U1");
  key = Variant();
  EXPECT_EQ(um->addUsr(user("U1", "zhang"), key), "10023003") << "the account wins over the key";
  EXPECT_EQ(um->addUsr(user("U1", "li"), key), "10023004");
  EXPECT_TRUE(key.isEmpty()) << "no key handed back on failure";
  EXPECT_EQ(portal().count("umUsr"), 1);
}

TEST_P(UsersTest, AddWritesNullForEmptyTextsAndDefaultsForNullCounters) {
  const com::DateTime before = com::DateTime::now();
  auto r = user("U1", "acc");  // login mode, count and account time null
  r->set("Phone", "123");
  addUser(r);
  const com::DateTime after = com::DateTime::now();
  EXPECT_TRUE(text("select pwd from umUsr").isNull());
  EXPECT_TRUE(text("select NetName from umUsr").isNull());
  EXPECT_TRUE(text("select Address from umUsr").isNull());
  EXPECT_EQ(text("select Phone from umUsr").toString(), "123");
  EXPECT_EQ(text("select login_mode from umUsr").toString(), "100000");
  EXPECT_EQ(text("select login_count from umUsr").toString(), "0");
  com::DateTime stored;
  ASSERT_TRUE(com::DateTime::parse(text("select account_time from umUsr").toString(), &stored));
  EXPECT_LE(before, stored);
  EXPECT_LE(stored, after);
}

TEST_P(UsersTest, EmptyCountersAreValuesNotDefaults) {
  auto r = user("U1", "acc");
  r->set("Login_Mode", "");
  r->set("Login_Count", Variant());
  r->set("Account_Time", "2020-01-02 03:04:05");
  r->set("Pwd", "p'w");
  addUser(r);
  EXPECT_EQ(text("select login_mode from umUsr").toString(), "") << "empty is written as ''";
  EXPECT_EQ(text("select login_count from umUsr").toString(), "");
  EXPECT_EQ(text("select account_time from umUsr").toString(), "2020-01-02 03:04:05");
  EXPECT_EQ(text("select pwd from umUsr").toString(), "p'w") << "stored exactly as passed";
}

TEST_P(UsersTest, ABlankOrNullLoginCountCountsFromZero) {
  auto r = user("U1", "a");
  r->set("Login_Count", Variant());  // never written: stored as an empty text
  addUser(r);
  ASSERT_EQ(text("select login_count from umUsr").toString(), "");
  EXPECT_TRUE(um->addUsrLogCount("U1"));
  EXPECT_EQ(text("select login_count from umUsr").toString(), "1");
  portal().exec("update umUsr set login_count=NULL");
  EXPECT_TRUE(um->addUsrLogCount("U1"));
  EXPECT_EQ(text("select login_count from umUsr").toString(), "1");
  portal().exec("update umUsr set login_count='  '");
  EXPECT_TRUE(um->addUsrLogCount("U1"));
  EXPECT_EQ(text("select login_count from umUsr").toString(), "1");
  portal().exec("update umUsr set login_count='1x'");
  EXPECT_ANY_THROW(um->addUsrLogCount("U1")) << "a count that is really not a number still fails";
  EXPECT_EQ(text("select login_count from umUsr").toString(), "1x");
}

TEST_P(UsersTest, AddGeneratesAUserKey) {
  Variant key;
  ASSERT_EQ(um->addUsr(user({}, "a"), key), "0");
  EXPECT_EQ(key.toString().rfind("USR_", 0), 0u) << key.toString();
  ASSERT_EQ(um->addUsr(user(Variant::null(), "b"), key), "0");
  EXPECT_EQ(portal().count("umUsr"), 2);
}

TEST_P(UsersTest, BadStateOrNullTextFailsWithoutARow) {
  Variant key;
  auto r = user("U1", "a");
  r->set("State", "");
  EXPECT_EQ(um->addUsr(r, key), "10023005");
  r->set("State", "0,'x','y'");
  EXPECT_EQ(um->addUsr(r, key), "10023005") << "a state written without quotes must be a number";
  r->set("State", Variant::null());
  EXPECT_EQ(um->addUsr(r, key), "10023005");
  r = user("U1", "a");
  r->set("Email", Variant::null());
  EXPECT_EQ(um->addUsr(r, key), "10023005");
  EXPECT_EQ(um->addUsr(nullptr, key), "10023005");
  EXPECT_EQ(portal().count("umUsr"), 0);
}

TEST_P(UsersTest, UpdateWritesAllFieldsAndCanMoveTheKey) {
  addUser(user("U1", "acc", "旧"));
  addUser(user("U2", "other", "别人"));
  EXPECT_EQ(um->updateUsr(user("U1", "x"), ""), "10023011");
  EXPECT_EQ(um->updateUsr(user("U1", "x"), "nobody"), "10023012");
  auto r = asRecord(um->getUsr("U1"));
  ASSERT_TRUE(r);
  r->set("Usr_No", "U9");
  r->set("Name", "新");
  r->set("Address", "地址");
  r->set("Login_Count", "7");
  EXPECT_EQ(um->updateUsr(r, "U1"), "0");
  EXPECT_EQ(portal().count("umUsr", "usr_no='U1'"), 0);
  EXPECT_EQ(text("select name from umUsr where usr_no='U9'").toString(), "新");
  EXPECT_EQ(text("select Address from umUsr where usr_no='U9'").toString(), "地址");
  EXPECT_EQ(text("select login_count from umUsr where usr_no='U9'").toString(), "7");
  EXPECT_EQ(text("select name from umUsr where usr_no='U2'").toString(), "别人");
}

TEST_P(UsersTest, UpdateByAccountLeavesAccountAddressAndAccountTime) {
  auto r = user("U1", "acc");
  r->set("Address", "旧地址");
  r->set("Account_Time", "2020-01-01 00:00:00");
  addUser(r);
  EXPECT_EQ(um->updateUsrByAccount(user("U1", "x"), ""), "10023014");
  EXPECT_EQ(um->updateUsrByAccount(user("U1", "x"), "nobody"), "10023015");

  auto change = user("U1", "newacc", "新名");
  change->set("Address", "新地址");
  change->set("Account_Time", "2030-01-01 00:00:00");
  change->set("Pwd", "pw");
  change->set("Login_Mode", "1");
  change->set("Login_Count", "3");
  EXPECT_EQ(um->updateUsrByAccount(change, "acc"), "0");
  EXPECT_EQ(text("select account from umUsr").toString(), "acc");
  EXPECT_EQ(text("select Address from umUsr").toString(), "旧地址");
  EXPECT_EQ(text("select account_time from umUsr").toString(), "2020-01-01 00:00:00");
  EXPECT_EQ(text("select name from umUsr").toString(), "新名");
  EXPECT_EQ(text("select pwd from umUsr").toString(), "pw");
  EXPECT_EQ(text("select login_count from umUsr").toString(), "3");
}

TEST_P(UsersTest, ReadsByKeyAndAccount) {
  auto r = user("U1", "acc", "名");
  r->set("Email", "a@b");
  addUser(r);
  auto byKey = asRecord(um->getUsr("U1"));
  ASSERT_TRUE(byKey);
  EXPECT_EQ(byKey->get("Account").toString(), "acc");
  EXPECT_EQ(byKey->get("Email").toString(), "a@b");
  EXPECT_TRUE(byKey->get("Pwd").isNull());
  EXPECT_EQ(byKey->get("Login_Mode").toString(), "100000");
  EXPECT_EQ(asRecord(um->getUsrByAccount("acc"))->get("Usr_No").toString(), "U1");
  EXPECT_EQ(asRecord(um->getUsrOfAccount("acc"))->get("Name").toString(), "名");
  EXPECT_TRUE(um->getUsr("").isNothing());
  EXPECT_TRUE(um->getUsrByAccount("nobody").isNothing());
  EXPECT_EQ(um->getUsrName("U1"), "名");
  EXPECT_EQ(um->getUsrAccount("U1"), "acc");
  EXPECT_EQ(um->getUsrName("nobody"), "");
}

TEST_P(UsersTest, AllUsersCarrySevenPropertiesOnly) {
  auto r = user("U1", "acc", "名");
  r->set("Address", "地址");
  r->set("Pwd", "pw");
  addUser(r);
  addUser(user("U2", "acc2"));
  auto list = asList(um->getAllUsr());
  ASSERT_TRUE(list);
  ASSERT_EQ(list->Count(), 2);
  auto first = asRecord(list->entries()[0].second);
  const std::string no = first->get("Usr_No").toString();
  EXPECT_EQ(list->entries()[0].first, "USR" + no);
  auto u1 = no == "U1" ? first : asRecord(list->entries()[1].second);
  EXPECT_TRUE(u1->get("Address").isEmpty()) << "not filled though the row has one";
  EXPECT_TRUE(u1->get("Account_Time").isEmpty());
  EXPECT_EQ(u1->get("Pwd").toString(), "pw");
  EXPECT_EQ(u1->get("Account").toString(), "acc");
  EXPECT_EQ(u1->get("Login_Mode").toString(), "100000");
  EXPECT_EQ(u1->get("State").toLong(), 0);
}

TEST_P(UsersTest, DeletesRemoveOnlyTheUserRow) {
  addUser(user("U1", "a"));
  addUser(user("U2", "b"));
  portal().exec("insert into umOrg2Usr(Org_no,Usr_no,isMain,priority) values('O','U1',0,1)");
  EXPECT_EQ(um->delUsr(""), "10023021");
  EXPECT_EQ(um->delUsrOfAccount(""), "10023023");
  EXPECT_EQ(um->delUsr("nobody"), "0");
  EXPECT_EQ(um->delUsr("U1"), "0");
  EXPECT_EQ(um->delUsrOfAccount("b"), "0");
  EXPECT_EQ(portal().count("umUsr"), 0);
  EXPECT_EQ(portal().count("umOrg2Usr"), 1) << "memberships stay";
}

TEST_P(UsersTest, ChangePasswordOfAUserAndOfNobody) {
  auto r = user("U1", "a");
  r->set("Pwd", "old");
  r->set("Address", "地址");
  addUser(r);
  EXPECT_TRUE(um->changePwd("U1", "n'ew"));
  EXPECT_EQ(text("select pwd from umUsr").toString(), "n'ew");
  EXPECT_EQ(text("select Address from umUsr").toString(), "地址");
  EXPECT_TRUE(um->changePwd("U1", "n'ew")) << "the same password again is no change and no failure";
  EXPECT_FALSE(um->changePwd("nobody", "x"));
  EXPECT_FALSE(um->changePwd("", "x"));
  EXPECT_EQ(portal().count("umUsr"), 1);
  EXPECT_EQ(text("select pwd from umUsr").toString(), "n'ew");
}

TEST_P(UsersTest, LoginCountRisesByOne) {
  addUser(user("U1", "a"));
  EXPECT_TRUE(um->addUsrLogCount("U1"));
  EXPECT_TRUE(um->addUsrLogCount("U1"));
  EXPECT_EQ(text("select login_count from umUsr").toString(), "2");
  EXPECT_FALSE(um->addUsrLogCount("nobody"));
  EXPECT_EQ(portal().count("umUsr"), 1);
  // A count that is not a number fails the call itself: no trap of its own.
  portal().exec("update umUsr set login_count='many'");
  EXPECT_ANY_THROW(um->addUsrLogCount("U1"));
  EXPECT_EQ(text("select login_count from umUsr").toString(), "many");
}

// The count from a row read before: one write while the row still holds what
// was read; a login counted meanwhile is never overwritten, and a row that is
// not the user's own counts as addUsrLogCount would.
TEST_P(UsersTest, LoginCountFromTheRowAsReadKeepsConcurrentLogins) {
  addUser(user("U1", "a"));
  RecordPtr before = asRecord(um->getUsr("U1"));
  ASSERT_TRUE(before);
  EXPECT_TRUE(um->addUsrLogCount("U1")) << "another login meanwhile";
  EXPECT_TRUE(um->addUsrLogCountAsRead("U1", *before));
  EXPECT_EQ(text("select login_count from umUsr").toString(), "2");
  EXPECT_TRUE(um->addUsrLogCountAsRead("U1", *asRecord(um->getUsr("U1"))));
  EXPECT_EQ(text("select login_count from umUsr").toString(), "3");
  portal().exec("update umUsr set login_count=NULL");
  EXPECT_TRUE(um->addUsrLogCountAsRead("U1", *asRecord(um->getUsr("U1"))));
  EXPECT_EQ(text("select login_count from umUsr").toString(), "1");
  EXPECT_FALSE(um->addUsrLogCountAsRead("nobody", *before));
  EXPECT_EQ(text("select login_count from umUsr").toString(), "1");
}

// A page reads a user, the user logs in elsewhere, the page changes the
// phone and writes the record back: the login stays counted. A change under a
// property the page changed is refused; a read record written onto another
// row writes every property; other record classes behave alike.
TEST_P(UsersTest, ReadRecordsWriteOnlyWhatTheCallerChanged) {
  addUser(user("U1", "one", "甲"));
  addUser(user("U2", "two", "乙"));
  auto page = asRecord(um->getUsr("U1"));
  ASSERT_TRUE(page);
  ASSERT_TRUE(um->addUsrLogCount("U1"));
  page->set("Phone", "555");
  EXPECT_EQ(um->updateUsr(page, "U1"), "0");
  EXPECT_EQ(text("select login_count from umUsr where usr_no='U1'").toString(), "1");
  EXPECT_EQ(text("select Phone from umUsr where usr_no='U1'").toString(), "555");
  page->set("Phone", "666");  // the same record, changed and written again
  EXPECT_EQ(um->updateUsr(page, "U1"), "0");
  portal().exec("update umUsr set Phone='777' where usr_no='U1'");
  page->set("Phone", "888");
  EXPECT_EQ(um->updateUsr(page, "U1"), "10023013") << "the phone changed since the page read it";
  EXPECT_EQ(text("select Phone from umUsr where usr_no='U1'").toString(), "777");
  // A user from the list (seven properties filled) no longer empties the others.
  RecordPtr listed;
  for (const auto& [k, item] : asList(um->getAllUsr())->entries())
    if (k == "USRU1") listed = asRecord(item);
  ASSERT_TRUE(listed);
  listed->set("Name", "丙");
  EXPECT_EQ(um->updateUsr(listed, "U1"), "0");
  EXPECT_EQ(text("select Phone from umUsr where usr_no='U1'").toString(), "777");
  // Onto another row, a read record writes every property.
  auto copy = asRecord(um->getUsr("U1"));
  copy->set("Usr_No", "U2");
  copy->set("Account", "two");
  EXPECT_EQ(um->updateUsr(copy, "U2"), "0");
  EXPECT_EQ(text("select name from umUsr where usr_no='U2'").toString(), "丙");
  EXPECT_EQ(text("select Phone from umUsr where usr_no='U2'").toString(), "777");
  // An organisation's stale copy keeps another writer's change of its description.
  Variant key;
  ASSERT_EQ(
      um->addOrg(rec("cUmOrg", {{"Org_No", "O1"}, {"Name", "总部"}, {"Top_Org_No", "0"}, {"Priority", "1"}}), key),
      "0");
  auto org = asRecord(um->getOrg("O1"));
  portal().exec("update umOrg set disc='别人写的' where org_no='O1'");
  org->set("Name", "本部");
  EXPECT_EQ(um->updateOrg(org, "O1"), "0");
  EXPECT_EQ(text("select disc from umOrg where org_no='O1'").toString(), "别人写的");
  EXPECT_EQ(text("select name from umOrg where org_no='O1'").toString(), "本部");
}

// Four processes add the same accounts at once: each account gets one row,
// and every other add answers "account already used" as a later one would.
TEST_P(UsersTest, AccountsStayUniqueUnderConcurrentAddsAndUpdates) {
  constexpr int kAccounts = 15;
  testing::runInProcesses(4, [](int) {
    auto mine = std::dynamic_pointer_cast<UmMgt>(com::CreateObject("TivelMgt.UmMgt"));
    int failures = 0;
    for (int i = 0; i < kAccounts; ++i) {
      Variant key;
      std::string code = mine->addUsr(user({}, "acc" + std::to_string(i)), key);
      if (code != "0" && code != "10023003") ++failures;
    }
    return failures;
  });
  EXPECT_EQ(portal().count("umUsr"), kAccounts);
  // The children shared this process's connection to a server and closed it
  // when they ended: start afresh.
  resetThreadState();
  um = std::dynamic_pointer_cast<UmMgt>(com::CreateObject("TivelMgt.UmMgt"));
  // An update may not move a user onto another user's account.
  addUser(user("U1", "one"));
  auto r = asRecord(um->getUsr("U1"));
  r->set("Account", "acc0");
  EXPECT_EQ(um->updateUsr(r, "U1"), "10023013");
  EXPECT_EQ(portal().count("umUsr", "account='acc0'"), 1);
  EXPECT_EQ(text("select account from umUsr where usr_no='U1'").toString(), "one");
}

// A database made before accounts were unique takes the unique index when
// it has no repeated account, and is refused, unchanged, with the accounts
// named, when it has.
TEST_P(UsersTest, TheSchemaMakesAccountsUniqueOnlyWhereNoneRepeat) {
  portal().exec("drop index umUsr_account_unique" + std::string(portal().engine() == "mariadb" ? " on umUsr" : ""));
  portal().exec("create index umUsr_account on umUsr(account)");
  portal().exec("insert into umUsr(usr_no,account,name,state) values('U1','twice','a',0)");
  portal().exec("insert into umUsr(usr_no,account,name,state) values('U2','twice','b',0)");
  try {
    applySchema(portal().db(), "mgt");
    ADD_FAILURE() << "repeated accounts must be refused";
  } catch (const com::ComError& e) {
    EXPECT_NE(e.description().find("'twice' (2 rows)"), std::string::npos) << e.description();
  }
  portal().exec("insert into umUsr(usr_no,account,name,state) values('U3','twice','c',0)");
  portal().exec("delete from umUsr where usr_no<>'U1'");
  applySchema(portal().db(), "mgt");
  EXPECT_ANY_THROW(portal().exec("insert into umUsr(usr_no,account,name,state) values('U4','twice','d',0)"));
  EXPECT_EQ(portal().count("umUsr"), 1);
}

// Another connection holds an open write transaction on the user's row: the
// count's write waits out the command time-out once and fails, and is not
// tried again and again. Once that writer is gone the login counts.
TEST_P(UsersTest, ALockHeldElsewhereFailsTheLoginCountOnceNotRepeatedly) {
  addUser(user("U1", "a"));
  sharedConnection()->commandTimeout = 1;
  portal().db().beginTrans();
  portal().exec("update umUsr set name='占' where usr_no='U1'");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(um->addUsrLogCount("U1"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
  portal().db().rollbackTrans();
  EXPECT_TRUE(um->addUsrLogCount("U1"));
  EXPECT_EQ(text("select login_count from umUsr").toString(), "1");
}

TEST_P(UsersTest, HostileKeysAndAccountsChangeNoOtherRow) {
  const std::string hostile = "x' or '1'='1";
  addUser(user("U1", "victim", "受害者"));
  addUser(user(hostile, hostile, "O'Brien"));
  EXPECT_EQ(um->getUsrName(hostile), "O'Brien");
  EXPECT_EQ(asRecord(um->getUsrByAccount(hostile))->get("Usr_No").toString(), hostile);
  EXPECT_EQ(um->updateUsr(user("U1", "x", "改"), "U1' or '1'='1"), "10023012");
  EXPECT_EQ(um->updateUsrByAccount(user("U1", "x", "改"), "v' or '1'='1"), "10023015");
  EXPECT_FALSE(um->changePwd("U1' or '1'='1", "pw"));
  EXPECT_EQ(um->delUsr("U1' or '1'='1"), "0");
  EXPECT_EQ(um->delUsrOfAccount("v' or 'a'='a"), "0");
  EXPECT_EQ(portal().count("umUsr"), 2);
  EXPECT_TRUE(um->changePwd(hostile, "pw"));
  EXPECT_TRUE(text("select pwd from umUsr where usr_no='U1'").isNull());
  EXPECT_EQ(um->delUsrOfAccount(hostile), "0");
  EXPECT_EQ(portal().count("umUsr"), 1);
  EXPECT_EQ(um->getUsrName("U1"), "受害者");
}

TEST_P(UsersTest, LateBoundCallsWriteKeysBackAndTakeOptionalArguments) {
  auto obj = [](const RecordPtr& r) { return Variant(std::static_pointer_cast<com::Object>(r)); };
  com::Args add{obj(user({}, "acc")), Variant()};
  ASSERT_EQ(um->invoke("addUsr", com::MemberKind::Method, add).toString(), "0");
  const std::string key = add[1].toString();
  EXPECT_EQ(key.rfind("USR_", 0), 0u) << "the key is written back: " << key;
  com::Args pwd{Variant(key), Variant("pw")};
  EXPECT_EQ(um->invoke("changePwd", com::MemberKind::Method, pwd), Variant(true));
  com::Args count{Variant(key)};
  EXPECT_EQ(um->invoke("addUsrLogCount", com::MemberKind::Method, count), Variant(true));
  EXPECT_EQ(count[0].toString(), key) << "by reference, not changed";
  EXPECT_EQ(text("select login_count from umUsr").toString(), "1");

  com::Args join{obj(rec("cUmOrg2usr", {{"Org_No", "O1"}, {"Usr_No", Variant(key)}, {"IsMain", "0"}}))};
  EXPECT_EQ(um->invoke("addOrg2Usr", com::MemberKind::Method, join).toString(), "0") << "the identifier is optional";
  com::Args none;
  EXPECT_EQ(um->invoke("delOrg2Usr", com::MemberKind::Method, none).toString(), "10024021");
  EXPECT_TRUE(um->invoke("getOrgOfUsr", com::MemberKind::Method, none).isObject());
  com::Args byUser{Variant(""), Variant(key)};
  EXPECT_EQ(um->invoke("delOrg2Usr", com::MemberKind::Method, byUser).toString(), "0");
  EXPECT_EQ(portal().count("umOrg2Usr"), 0);
  com::Args wrongClass{obj(rec("cUmGrp", {{"Name", "x"}})), Variant()};
  EXPECT_ANY_THROW(um->invoke("addUsr", com::MemberKind::Method, wrongClass));
}

// Three processes raise one user's login count 30 times each while one of
// them also changes the password after each of its logins: every increment
// arrives and the last password is not written over by a count read before it.
TEST_P(UsersTest, ConcurrentLoginCountsAndPasswordChange) {
  constexpr int kProcesses = 3, kEach = 30;
  auto r = user("U1", "a");
  r->set("Pwd", "old");
  r->set("Login_Count", "5");
  addUser(r);
  testing::runInProcesses(kProcesses, [](int p) {
    auto mine = std::dynamic_pointer_cast<UmMgt>(com::CreateObject("TivelMgt.UmMgt"));
    int failures = 0;
    for (int i = 0; i < kEach; ++i) {
      // Uneven pauses, so that the processes' reads and writes interleave
      // rather than run in lockstep.
      usleep(static_cast<useconds_t>(((i * 7 + p * 5) % 4) * 300));
      if (!mine->addUsrLogCount("U1")) ++failures;
      if (p == 0 && !mine->changePwd("U1", "new" + std::to_string(i))) failures += 50;
    }
    return failures;
  });
  EXPECT_EQ(text("select login_count from umUsr").toString(), std::to_string(5 + kProcesses * kEach));
  EXPECT_EQ(text("select pwd from umUsr").toString(), "new" + std::to_string(kEach - 1));
}

INSTANTIATE_TEST_SUITE_P(Engines, UsersTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
