// The second factor through AdminMgt.loginAgain, on each engine: codes of
// RFC 6238's test secret at its test times, one step of drift, no replay
// (also when several processes use one code at once), users without the
// factor, the lock by wrong codes, enrolment.
#include <gtest/gtest.h>

#include <fstream>

#include "mgt/admin/admin_mgt.h"
#include "mgt/admin/second_factor.h"
#include "mgt/common/module.h"
#include "mgt/testing/portal.h"
#include "mgt/testing/processes.h"
#include "mgt/um/um_mgt.h"
#include "platform/com/registry.h"
#include "platform/profile/profile.h"

namespace tivel::mgt {
namespace {

namespace sf = second_factor;

// RFC 6238's SHA-1 secret, "12345678901234567890", in base32.
const char* const kSecret = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";

TEST(Totp, TestVectorsAndSecrets) {
  // RFC 6238 appendix B, SHA-1, the last six of its eight digits.
  const std::pair<int64_t, const char*> vectors[] = {{59, "287082"},         {1111111109, "081804"},
                                                     {1111111111, "050471"}, {1234567890, "005924"},
                                                     {2000000000, "279037"}, {20000000000, "353130"}};
  auto secret = sf::decodeBase32(kSecret);
  ASSERT_TRUE(secret);
  EXPECT_EQ(*secret, "12345678901234567890");
  for (auto [time, code] : vectors) EXPECT_EQ(sf::codeAt(*secret, time / 30), code) << time;
  EXPECT_EQ(sf::encodeBase32("12345678901234567890"), kSecret);
  EXPECT_EQ(sf::decodeBase32("gezd gnbv gy======"), "123456");
  EXPECT_FALSE(sf::decodeBase32("GEZ1"));
  EXPECT_FALSE(sf::decodeBase32(""));
  EXPECT_FALSE(sf::matchingStep(*secret, "28708", 59));
  EXPECT_FALSE(sf::matchingStep(*secret, "28708x", 59));
  EXPECT_EQ(sf::decodeBase32(sf::newSecret())->size(), 20u);
  EXPECT_NE(sf::newSecret(), sf::newSecret());
  EXPECT_EQ(sf::provisioningUri("Tivel", "张 三", "ABC"),
            "otpauth://totp/Tivel:%E5%BC%A0%20%E4%B8%89?secret=ABC&issuer=Tivel&algorithm=SHA1&digits=6&period=30");
}

class SecondFactorTest : public testing::PortalTest {
 protected:
  bool seed() const override { return true; }
  void SetUp() override {
    PortalTest::SetUp();
    setting("Security", "second_factor", "totp");
    admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    ASSERT_TRUE(admin->addUsr("Editor", "Secret", "编辑", "", "", "", "", ""));
    ASSERT_TRUE(admin->addUsr("Other", "Other pw", "其他", "", "", "", "", ""));
    no = portal().scalar("select usr_no from umUsr where account='Editor'").toString();
    value("5", "1");
    value("6", kSecret);
  }
  void TearDown() override {
    sf::setClockForTesting({});
    PortalTest::TearDown();
  }
  void at(int64_t unixTime) {
    sf::setClockForTesting([unixTime] { return unixTime; });
  }
  bool again(const std::string& code, const std::string& account = "Editor") {
    return admin->loginAgain(account, code);
  }
  void value(const std::string& usa, const std::string& v) {
    portal().exec("delete from umUsrSecInst where usa_no='" + usa + "' and usr_no='" + no + "'");
    portal().exec("insert into umUsrSecInst(Usa_no,usr_no,Usi_Value,isAvail) values('" + usa + "','" + no + "','" + v +
                  "',1)");
  }
  void setting(const char* section, const char* key, const char* v) {
    ASSERT_TRUE(profile::writePrivateProfileString(section, key, v, portal().root() + "/ini/SysTivel.ini"));
  }
  std::string errorCount() {
    return portal().scalar("select Usi_Value from umUsrSecInst where usa_no='3' and usr_no='" + no + "'").toString();
  }
  long secondLogins() { return portal().count("SysLog", "disc='Editor二次登录成功！'"); }

  std::shared_ptr<AdminMgt> admin;
  std::string no;
};

TEST_P(SecondFactorTest, CodesOpenOnceWithinOneStepOfDrift) {
  at(59);
  EXPECT_TRUE(again("287082"));
  EXPECT_FALSE(again("287082")) << "the same code twice";
  at(1111111109);
  EXPECT_FALSE(again("000000"));
  EXPECT_FALSE(again("08180"));
  EXPECT_TRUE(again("050 471")) << "the next step's code, blanks as an app shows them";
  EXPECT_FALSE(again("081804")) << "a step before the last one used";
  at(2000000000 + 60);
  EXPECT_FALSE(again("279037")) << "a code from two steps ago";
  at(2000000000 + 30);
  EXPECT_TRUE(again("279037")) << "the step before";
  EXPECT_EQ(secondLogins(), 3) << "only accepted codes are logged as second logins";
  EXPECT_TRUE(again("any", "Other")) << "a user without the factor";
  EXPECT_TRUE(again("any", "Nobody")) << "no such account: as before";
  setting("Security", "second_factor", "");
  EXPECT_TRUE(again("any")) << "the factor off for the root";
  setting("Security", "second_factor", "totp");
  value("6", "not base32!");
  EXPECT_FALSE(again("279037"));
}

TEST_P(SecondFactorTest, WrongCodesCountTowardsTheLock) {
  setting("Policy", "enforce", "1");
  portal().exec("update umUsrSecAttr set default_value='3', isAvail=1 where usa_no='4'");
  at(59);
  EXPECT_EQ(admin->loginByPwd("Editor", "Secret", ""), "0");
  EXPECT_FALSE(again("111111"));
  EXPECT_FALSE(again("222222"));
  EXPECT_EQ(errorCount(), "2");
  EXPECT_EQ(admin->loginByPwd("Editor", "Secret", ""), "0");
  EXPECT_EQ(errorCount(), "2") << "the password alone does not end the count of wrong codes";
  EXPECT_FALSE(again("333333"));
  EXPECT_EQ(portal().count("SysLog", "disc='Editor登录错误次数已达上限，帐号已锁定！'"), 1);
  EXPECT_FALSE(again("287082")) << "locked: the right code is not even compared";
  EXPECT_EQ(admin->loginByPwd("Editor", "Secret", ""), "10012");
  auto um = std::dynamic_pointer_cast<UmMgt>(com::CreateObject("TivelMgt.UmMgt"));
  EXPECT_TRUE(um->cleanUsrLogErrNum(no));
  EXPECT_EQ(admin->loginByPwd("Editor", "Secret", ""), "0");
  EXPECT_FALSE(again("444444"));
  EXPECT_TRUE(again("287082"));
  EXPECT_EQ(errorCount(), "0") << "an accepted code ends the count";

  // Without the enforced policy and without a threshold, five wrong codes lock all the same.
  setting("Policy", "enforce", "");
  portal().exec("update umUsrSecAttr set isAvail=0 where usa_no='4'");
  at(120);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(again("000000"));
  EXPECT_FALSE(again(sf::codeAt(*sf::decodeBase32(kSecret), 4))) << "locked: the right code is refused";
  EXPECT_EQ(admin->loginByPwd("Editor", "Secret", ""), "0") << "the password step answers as before";
}

// Several processes give the same code at once: it opens exactly once.
TEST_P(SecondFactorTest, ConcurrentUsesOfOneCodeOpenOnce) {
  constexpr int kProcesses = 4;
  const std::string root = portal().root();
  at(1234567890);
  testing::runInProcesses(kProcesses, [&root](int index) {
    auto mine = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    std::ofstream(root + "/opened" + std::to_string(index)) << (mine->loginAgain("Editor", "005924") ? 1 : 0);
    return 0;
  });
  int opened = 0;
  for (int p = 0; p < kProcesses; ++p) {
    int one = 0;
    std::ifstream(root + "/opened" + std::to_string(p)) >> one;
    opened += one;
  }
  EXPECT_EQ(opened, 1);
}

TEST_P(SecondFactorTest, EnrolAndDisable) {
  std::string secret = sf::enroll(no);
  EXPECT_EQ(portal().scalar("select Usi_Value from umUsrSecInst where usa_no='6' and usr_no='" + no + "'").toString(),
            secret);
  at(1700000000);
  EXPECT_FALSE(again("287082"));
  EXPECT_TRUE(again(sf::codeAt(*sf::decodeBase32(secret), 1700000000 / 30)));
  sf::disable(no);
  EXPECT_EQ(portal().count("umUsrSecInst", "usa_no='6' and usr_no='" + no + "'"), 0);
  EXPECT_TRUE(again("000000"));
}

INSTANTIATE_TEST_SUITE_P(Engines, SecondFactorTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
