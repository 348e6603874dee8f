// The published dispatch interfaces: member names and their order are what
// late-bound callers and pages rely on.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "mgt/common/helpers.h"
#include "mgt/common/member_table.h"
#include "mgt/common/module.h"
#include "platform/codes/result_codes.h"
#include "platform/com/registry.h"
#include "records/record.h"
#include "testing/engines.h"

namespace tivel::mgt {
namespace {

std::vector<std::string> split(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == ' ') {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

TEST(Interfaces, UmMgtListsItsSeventyOneMembersInOrder) {
  const auto expected = split(
      "addOrg addGrp addUsr addOrg2Usr addGrp2Usr addLogInfo addUaa addUsa addUsi addUai addOaa addOai updateOrg "
      "updateGrp updateUsrByAccount changePwd updateUsr updateOaa updateOai updateUaa updateUai updateUsa updateUsi "
      "delOrg delGrp delUsr delUsrOfAccount delOrg2Usr delGrp2Usr delUaa delUai delUsa delUsi delOaa delOai getOrg "
      "getTopOrgOfOrg getSonOrgOfOrg getOrgName getOrgOfUsr getGrp getGrpName getAllGrp getAllUsr getUsr "
      "getUsrByAccount getUsrName getUsrAccount getUsrOfAccount getUsrOfOrg getGrpOfUsr getUsrOfGrp getOaa getOai "
      "getUaa getUai getUsa getUsi getLogInfo getUaaOfUsr getUsrAddOfUsr getOrgAddOfOrg getUsaOfUsr getUsiOfUsr "
      "getUsrSecOfUsr getOaaOfOrg getOaiOfOrg getUaiOfUsr addUsrLogCount cleanUsrLogErrNum getUsrSecValue");
  ASSERT_EQ(expected.size(), 71u);
  const com::ClassInfo* c = com::findClass("TivelMgt.UmMgt");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->memberNames(), expected);
}

TEST(Interfaces, HelperClassesKeepTheirOrder) {
  EXPECT_EQ(com::findClass("TivelMgt.cCollection")->memberNames(), split("Add Item Count Remove NewEnum Clear"));
  EXPECT_EQ(com::findClass("TivelMgt.cPublic")->memberNames(),
            split("GetDBStr GetProductName GetVersionName GetAppPath GetWebPath"));
}

TEST(Interfaces, RecordClassesAreWriteThenReadPerProperty) {
  ASSERT_EQ(records::recordClasses().size(), 29u);
  const com::ClassInfo* usr = com::findClass("TivelPublicDB.cUmUsr");
  ASSERT_TRUE(usr);
  EXPECT_EQ(usr->memberNames(), split("Usr_No Account Pwd Name NetName Address Phone Mobile Email EmailOA State "
                                      "Login_Mode Login_Count Account_Time"));
  const auto& members = usr->members();
  ASSERT_EQ(members.size(), 28u);
  EXPECT_EQ(members[0].kind, com::MemberKind::Put);
  EXPECT_EQ(members[1].kind, com::MemberKind::Get);
  EXPECT_EQ(com::findClass("TivelPublicDB.cUmGrp2usr")->memberNames(), split("Grp_no Usr_No Priority"));
  EXPECT_EQ(com::findClass("TivelPublicDB.cUmUsrSec")->memberNames().back(), "Usi_IsAvail");
  EXPECT_EQ(com::findClass("TivelPublicDB.cAppAuthPK")->memberNames(), split("Res_no Uogr_Type Uogr_No"));
}

TEST(Records, HoldWhatWasWrittenLast) {
  auto r = com::CreateObject("TivelPublicDB.cSysLog");
  EXPECT_TRUE(r->getProperty("Disc").isEmpty());
  r->putProperty("Disc", com::Variant::null());
  EXPECT_TRUE(r->getProperty("disc").isNull());
  r->putProperty("Log_Type", com::Variant(int32_t{3}));
  r->putProperty("Log_Type", com::Variant("second"));
  EXPECT_EQ(r->getProperty("Log_Type").toString(), "second");
  EXPECT_THROW(r->getProperty("NoSuch"), com::ComError);
}

// cPublic reads the configuration file with the profile functions' rules.
TEST(Public, ReadsHandWrittenConfiguration) {
  tivel::testing::TempDir dir;
  std::filesystem::create_directories(dir.path() + "/bin");
  std::filesystem::create_directories(dir.path() + "/ini");
  std::filesystem::create_directories(dir.path() + "/db");
  std::ofstream(dir.path() + "/db/p.db");
  std::ofstream(dir.path() + "/ini/SysTivel.ini")
      << "[db]\r\nMODE=3\r\n[dbconn_MDB_drive]\r\nprovider = SQLite\r\ndatabase=p.db\r\n"
      << "[Product_Name]\r\n  Name  =   门户系统   \r\nVERSION=2.1\r\n[SETTING]\r\napppath= /srv/app \r\n";
  ::setenv("TIVEL_HOME", dir.path().c_str(), 1);
  resetThreadState();
  auto pub = com::CreateObject("TivelMgt.cPublic");
  EXPECT_EQ(pub->call("GetProductName").toString(), "门户系统");
  EXPECT_EQ(pub->call("GetVersionName").toString(), "2.1");
  EXPECT_EQ(pub->call("GetAppPath").toString(), "/srv/app");
  EXPECT_EQ(pub->call("GetWebPath").toString(), "");
  EXPECT_EQ(pub->call("GetDBStr").toString(), "PROVIDER=SQLite; Data Source=" + dir.path() + "/bin/../db/p.db;");
  resetThreadState();
  ::unsetenv("TIVEL_HOME");
}

// The member tables say which members change stored data: every add, update,
// delete and set is declared a change and no read or check is, whatever its
// name looks like; other classes and unknown members change nothing.
TEST(Interfaces, MemberTablesSayWhichMembersChangeData) {
  for (const char* progid : {"TivelMgt.UmMgt", "TivelMgt.AppMgt", "TivelMgt.SysMgt", "TivelMgt.AdminMgt"}) {
    for (const std::string& name : com::findClass(progid)->memberNames()) {
      std::string lower;
      for (char ch : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      const bool read = lower.starts_with("get") || lower.starts_with("is") || lower.starts_with("check") ||
                        (lower.starts_with("usr") && lower != "usrsuccess");
      const bool write = lower.starts_with("add") || lower.starts_with("update") || lower.starts_with("del") ||
                         lower.starts_with("set") || lower.starts_with("change") || lower == "writelog" ||
                         lower == "usrsuccess" || lower.starts_with("login") || lower == "cleanusrlogerrnum";
      EXPECT_NE(read, write) << progid << "." << name << " is neither a read nor a change";
      EXPECT_EQ(changesData(progid, name), write) << progid << "." << name;
    }
  }
  EXPECT_TRUE(changesData("tivelmgt.ummgt", "ADDORG")) << "any letter case";
  EXPECT_FALSE(changesData("TivelMgt.UmMgt", "noSuchMember"));
  EXPECT_FALSE(changesData("TivelPublicDB.cUmOrg", "Name"));
}

// Codes keep their values and the commands their texts, whichever name a code goes by.
TEST(ResultCodes, KeepTheirValuesAndTexts) {
  EXPECT_STREQ(codes::kAddOrgNameEmpty, "10021001");
  EXPECT_STREQ(codes::kUpdateRolKeyEmpty, codes::kUpdateResKeyEmpty) << "updateRol answers the resource's codes";
  EXPECT_STREQ(codes::kDelOaiNothingGiven, codes::kDelOaiFailed);
  EXPECT_STREQ(codes::kCheckAuthNone, codes::kLoginTimeRefused);
  EXPECT_EQ(codes::loginMeaning(codes::kLoginLocked), "refused by the login-error limit");
  EXPECT_EQ(codes::loginMeaning("0"), "login accepted");
  EXPECT_EQ(codes::loginMeaning("10004"), "unknown code");
  EXPECT_EQ(codes::commandText(codes::kUpdateUsrNotFound), "no such user");
  EXPECT_EQ(codes::commandText(codes::kAddOrg2UsrExists), "the user is a member of the organisation already");
  EXPECT_EQ(codes::commandText(codes::kCheckAuthNone), "") << "a login code's text is the login's only";
  EXPECT_EQ(codes::kConnectError, static_cast<int32_t>(0x80040001));
  EXPECT_EQ(codes::kNotRun, -2147467260);
  EXPECT_STREQ(codes::kConnectErrorText, "连接数据库出错！");
}

}  // namespace
}  // namespace tivel::mgt
