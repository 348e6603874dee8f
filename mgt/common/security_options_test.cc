// The security settings: switches in their three spellings, and every
// value that is not understood named with what is allowed.
#include "mgt/common/security_options.h"

#include <gtest/gtest.h>

#include <fstream>

#include "testing/engines.h"

namespace tivel::mgt {
namespace {

TEST(SecuritySettingsTest, SwitchesAndValuesNotUnderstood) {
  tivel::testing::TempDir dir;
  const std::string ini = dir.path() + "/SysTivel.ini";
  std::ofstream(ini) << "[Policy]\nenforce=Yes\nlock_minutes=10\n[Security]\nsecond_factor=TOTP\n"
                        "[LDAP]\nurl=ldaps://h\nall_users=true\nfallback_local=0\n";
  SecurityOptions o = readSecurityOptions(ini);
  EXPECT_TRUE(o.enforcePolicy);
  EXPECT_TRUE(o.totp);
  EXPECT_TRUE(o.directory.allUsers);
  EXPECT_FALSE(o.directory.fallbackLocal);
  EXPECT_TRUE(securitySettingProblems(ini).empty());

  std::ofstream(ini) << "[Policy]\nenforce=y\nlock_minutes=-1\n[Security]\npassword_hash=bcrypt\nsecond_factor=sms\n"
                        "[LDAP]\nurl=http://h\nstarttls=on\ntimeout_ms=0\nmax_binds=x\n";
  const std::vector<std::string> problems = securitySettingProblems(ini);
  ASSERT_EQ(problems.size(), 8u);
  EXPECT_EQ(problems[0], "[Policy] enforce=y is not understood; allowed: 1/0, yes/no, true/false");
  EXPECT_NE(problems[2].find("[Security] password_hash=bcrypt"), std::string::npos);
  EXPECT_NE(problems[4].find("[LDAP] url=http://h"), std::string::npos);
  EXPECT_FALSE(readSecurityOptions(ini).enforcePolicy);
}

}  // namespace
}  // namespace tivel::mgt
