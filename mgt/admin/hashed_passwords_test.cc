// Passwords stored as Argon2id hashes, on each engine: every operation that
// writes a password hashes it, logins verify hashed and still-plain users,
// and the migration hashes what is left as text, once.
#include <gtest/gtest.h>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/password_hash.h"
#include "mgt/common/password_migration.h"
#include "mgt/testing/portal.h"
#include "mgt/um/um_mgt.h"
#include "platform/com/registry.h"
#include "platform/profile/profile.h"

namespace tivel::mgt {
namespace {

using com::Variant;

class HashedPasswordsTest : public testing::PortalTest {
 protected:
  bool seed() const override { return true; }
  void SetUp() override {
    PortalTest::SetUp();
    hashing(true);
    admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    um = std::dynamic_pointer_cast<UmMgt>(com::CreateObject("TivelMgt.UmMgt"));
  }
  void hashing(bool on) {
    ASSERT_TRUE(profile::writePrivateProfileString("Security", "password_hash", on ? "Argon2id" : "none",
                                                   portal().root() + "/ini/SysTivel.ini"));
  }
  Variant stored(const std::string& account) {
    return portal().scalar("select pwd from umUsr where account='" + account + "'");
  }
  // The stored password is a hash that the password opens and its own text does not.
  void expectHashOf(const std::string& account, const std::string& pwd) {
    std::string s = stored(account).toString();
    EXPECT_TRUE(isPasswordHash(s)) << account << ": " << s;
    EXPECT_TRUE(passwordMatches(Variant(s), pwd)) << account;
    EXPECT_FALSE(passwordMatches(Variant(s), s)) << account;
  }
  void plainUser(const std::string& no, const std::string& account, const std::string& pwd) {
    portal().exec("insert into umUsr(usr_no,account,pwd,name,state,login_mode,login_count,account_time) values('" + no +
                  "','" + account + "'," + pwd + ",'旧用户',0,'100000','0','2026-01-01 00:00:00')");
  }
  std::shared_ptr<AdminMgt> admin;
  std::shared_ptr<UmMgt> um;
};

TEST_P(HashedPasswordsTest, EveryPasswordWriteStoresAHash) {
  auto rec = records::newRecord("cUmUsr");
  rec->set("Account", Variant("u1"));
  rec->set("Name", Variant("甲"));
  rec->set("Pwd", Variant("p1"));
  rec->set("State", Variant(int32_t{0}));
  Variant key("");
  ASSERT_EQ(um->addUsr(rec, key), "0");
  expectHashOf("u1", "p1");
  EXPECT_EQ(rec->get("Pwd").toString(), "p1") << "the caller's record is only read";

  rec->set("Usr_No", key);
  rec->set("Pwd", Variant("p2"));
  ASSERT_EQ(um->updateUsr(rec, key.toString()), "0");
  expectHashOf("u1", "p2");
  EXPECT_EQ(rec->get("Pwd").toString(), "p2");

  rec->set("Pwd", Variant("p3"));
  ASSERT_EQ(um->updateUsrByAccount(rec, "u1"), "0");
  expectHashOf("u1", "p3");

  ASSERT_TRUE(um->changePwd(key.toString(), "p4"));
  expectHashOf("u1", "p4");

  // A value that is a hash already is stored as it is, not hashed again.
  auto read = records::recordArg(um->getUsr(key.toString()), "cUmUsr");
  std::string hash = read->get("Pwd").toString();
  ASSERT_EQ(um->updateUsr(read, key.toString()), "0");
  EXPECT_EQ(stored("u1").toString(), hash);

  ASSERT_TRUE(admin->addUsr("u2", "q1", "乙", "", "", "", "", ""));
  expectHashOf("u2", "q1");
  ASSERT_TRUE(admin->changePwd("u2", "q1", "q2"));
  expectHashOf("u2", "q2");
  EXPECT_EQ(admin->loginByPwd("u2", "q2", ""), "0");

  ASSERT_TRUE(admin->addUsr("u3", "", "丙", "", "", "", "", ""));
  EXPECT_TRUE(stored("u3").isNull()) << "no password stays no password";
  EXPECT_EQ(admin->loginByPwd("u3", "", ""), "0");
}

TEST_P(HashedPasswordsTest, LoginsAgainstHashedAndPlainUsers) {
  ASSERT_TRUE(admin->addUsr("Hashed", "Secret", "甲", "", "", "", "", ""));
  plainUser("USR_plain", "Plain", "'Old Pwd'");
  EXPECT_EQ(admin->loginByPwd("Hashed", "Secret", ""), "0");
  EXPECT_EQ(admin->loginByPwd("Hashed", "secret", ""), "10003");
  EXPECT_EQ(admin->loginByPwd("Hashed", stored("Hashed").toString(), ""), "10003") << "the hash itself opens nothing";
  EXPECT_EQ(admin->loginByPwd("Plain", "Old Pwd", ""), "0") << "not yet migrated: compared as text";
  EXPECT_EQ(admin->loginByPwd("Plain", "old pwd", ""), "10003");
  EXPECT_EQ(stored("Plain").toString(), "Old Pwd") << "a login does not rewrite the password";
  // Turned off again, hashes already stored still open.
  hashing(false);
  EXPECT_EQ(admin->loginByPwd("Hashed", "Secret", ""), "0");
  ASSERT_TRUE(admin->changePwd("Hashed", "Secret", "Plain again"));
  EXPECT_EQ(stored("Hashed").toString(), "Plain again");
}

TEST_P(HashedPasswordsTest, MigrationHashesEachPlainPasswordOnce) {
  hashing(false);
  plainUser("USR_a", "A", "'pa'");
  plainUser("USR_b", "B", "'it''s b'");
  plainUser("USR_n", "N", "NULL");
  plainUser("USR_e", "E", "''");
  plainUser("USR_h", "H", "'" + hashPassword("ph") + "'");
  std::string before = stored("H").toString();
  PasswordMigration first = hashStoredPasswords();
  EXPECT_EQ(first.hashed, 2);
  EXPECT_EQ(first.alreadyHashed, 1);
  EXPECT_EQ(first.withoutPassword, 2);
  expectHashOf("A", "pa");
  expectHashOf("B", "it's b");
  EXPECT_EQ(stored("H").toString(), before);
  EXPECT_TRUE(stored("N").isNull());
  EXPECT_EQ(stored("E").toString(), "");
  PasswordMigration again = hashStoredPasswords();
  EXPECT_EQ(again.hashed, 0);
  EXPECT_EQ(again.alreadyHashed, 3);
  EXPECT_EQ(admin->loginByPwd("B", "it's b", ""), "0");
  EXPECT_EQ(admin->loginByPwd("H", "ph", ""), "0");
  EXPECT_EQ(admin->loginByPwd("N", "x", ""), "10003");
}

INSTANTIATE_TEST_SUITE_P(Engines, HashedPasswordsTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
