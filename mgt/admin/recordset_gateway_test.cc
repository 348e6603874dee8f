#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/helpers.h"
#include "mgt/testing/portal.h"
#include "platform/ado/recordset.h"
#include "platform/com/registry.h"

namespace tivel::mgt {
namespace {

using com::Variant;
namespace fs = std::filesystem;

class GatewayTest : public testing::PortalTest {
 protected:
  void SetUp() override {
    PortalTest::SetUp();
    admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    ASSERT_TRUE(admin);
    portal().exec("insert into umOrg(Org_no,name,Priority) values('O1','总部',1)");
    portal().exec("insert into umOrg(Org_no,name,Priority) values('O2','财务部',2)");
  }
  // A recordset of the organisations through the gateway, row O1 current.
  ado::RecordsetPtr orgs() {
    Variant err("not yet");
    Variant rs = admin->getRecordset(err, Variant("select * from umOrg order by Org_no"));
    EXPECT_EQ(err, Variant(""));
    return std::dynamic_pointer_cast<ado::Recordset>(rs.toObject());
  }
  static Variant obj(const ado::RecordsetPtr& rs) { return Variant(std::static_pointer_cast<com::Object>(rs)); }
  std::string name(const std::string& org) {
    return portal().scalar("select name from umOrg where Org_no='" + org + "'").toString();
  }
  long logged(const std::string& disc) {
    return portal().count("SysLog", "Mod_no='0' and Mod_name='sys' and disc='" + QuoteSql(disc) + "'");
  }
  std::shared_ptr<AdminMgt> admin;
};

TEST_P(GatewayTest, RecordsetIsEditedAndWrittenBack) {
  auto rs = orgs();
  ASSERT_TRUE(rs);
  EXPECT_EQ(rs->cursorType(), ado::adOpenKeyset);
  EXPECT_EQ(rs->lockType(), ado::adLockBatchOptimistic);
  EXPECT_EQ(rs->recordCount(), 2);
  rs->setValue("name", Variant("总公司"));
  rs->moveNext();
  rs->deleteCurrent();
  rs->addNew();
  rs->setValue("Org_no", Variant("O3"));
  rs->setValue("name", Variant("人事部"));
  EXPECT_EQ(name("O1"), "总部") << "nothing is written before the gateway submits it";

  std::string err = "untouched";
  EXPECT_TRUE(admin->setRecordset(err, obj(rs)));
  EXPECT_EQ(err, "untouched");
  EXPECT_EQ(name("O1"), "总公司");
  EXPECT_EQ(portal().count("umOrg", "Org_no='O2'"), 0);
  EXPECT_EQ(name("O3"), "人事部");

  EXPECT_TRUE(admin->setRecordset(err, Variant("update umOrg set Priority=9 where Org_no='O1'")));
  EXPECT_EQ(portal().scalar("select Priority from umOrg where Org_no='O1'").toLong(), 9);
  EXPECT_EQ(portal().count("SysLog"), 0);
}

// A row someone changed after the read is never overwritten: alone, the
// write fails; in an array, the whole batch is undone.
TEST_P(GatewayTest, ChangedRowFailsTheWrite) {
  auto rs = orgs();
  rs->setValue("name", Variant("页面的"));
  portal().exec("update umOrg set name='别人的' where Org_no='O1'");

  std::string err;
  EXPECT_FALSE(admin->setRecordset(err, obj(rs)));
  EXPECT_EQ(err, ado::kRowNotLocatedText);
  EXPECT_EQ(name("O1"), "别人的");

  auto again = orgs();
  again->moveNext();
  again->setValue("name", Variant("页面的"));
  portal().exec("update umOrg set name='又一个' where Org_no='O2'");
  Variant batch(Variant::Array{Variant("insert into umOrg(Org_no,name) values('O4','新')"), obj(again)});
  err.clear();
  EXPECT_FALSE(admin->setRecordset(err, batch));
  EXPECT_EQ(err, ado::kRowNotLocatedText);
  EXPECT_EQ(portal().count("umOrg", "Org_no='O4'"), 0) << "the statement before is rolled back";
  EXPECT_EQ(name("O2"), "又一个");
  EXPECT_EQ(logged(ado::kRowNotLocatedText), 2);
}

TEST_P(GatewayTest, ArrayIsAllOrNothing) {
  auto rs = orgs();
  rs->setValue("name", Variant("改过的"));
  std::string err;
  Variant failing(Variant::Array{Variant("insert into umOrg(Org_no,name) values('O5','一')"), obj(rs),
                                 Variant("insert into noSuchTable values(1)")});
  EXPECT_FALSE(admin->setRecordset(err, failing));
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(portal().count("umOrg", "Org_no='O5'"), 0);
  EXPECT_EQ(name("O1"), "总部") << "the recordset element is rolled back too";
  EXPECT_EQ(portal().count("SysLog"), 1);
  EXPECT_EQ(logged(err), 1);

  auto fresh = orgs();
  fresh->setValue("name", Variant("改过的"));
  Variant passing(Variant::Array{Variant("insert into umOrg(Org_no,name) values('O5','一')"), obj(fresh),
                                 Variant("update umOrg set Priority=7 where Org_no='O5'")});
  EXPECT_TRUE(admin->setRecordset(err, passing));
  EXPECT_EQ(portal().scalar("select Priority from umOrg where Org_no='O5'").toLong(), 7);
  EXPECT_EQ(name("O1"), "改过的");
  EXPECT_EQ(portal().count("SysLog"), 1);
}

TEST_P(GatewayTest, FailuresAreLoggedOnceAndReported) {
  Variant err;
  Variant none = admin->getRecordset(err, Variant("select * from noSuchTable"));
  EXPECT_TRUE(none.isNothing());
  ASSERT_FALSE(err.toString().empty());
  EXPECT_EQ(logged(err.toString()), 1);

  std::string text;
  EXPECT_FALSE(admin->setRecordset(text, Variant("update noSuchTable set x=1")));
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(portal().count("SysLog"), 2);

  EXPECT_FALSE(admin->setRecordset(text, Variant(Variant::Array{})));
  EXPECT_EQ(text, "参数必须大于或等于1");
  EXPECT_EQ(portal().count("SysLog"), 2) << "an empty array runs and logs nothing";

  EXPECT_FALSE(admin->setRecordset(text, Variant::null()));
  EXPECT_FALSE(admin->setRecordset(text, Variant::nothing()));
  EXPECT_EQ(portal().count("SysLog"), 4);
}

// One call carries at most 32767 elements; one more fails and rolls back.
TEST_P(GatewayTest, ElementCounterLimit) {
  Variant::Array items(32767, Variant("update umOrg set Priority=Priority where Org_no='none'"));
  items.front() = Variant("insert into umOrg(Org_no,name) values('O6','六')");
  std::string err;
  EXPECT_TRUE(admin->setRecordset(err, Variant(items)));
  EXPECT_EQ(portal().count("umOrg", "Org_no='O6'"), 1);

  items.front() = Variant("insert into umOrg(Org_no,name) values('O7','七')");
  items.push_back(items.back());
  EXPECT_FALSE(admin->setRecordset(err, Variant(items)));
  EXPECT_EQ(err, "Overflow");
  EXPECT_EQ(portal().count("umOrg", "Org_no='O7'"), 0);
  EXPECT_EQ(logged("Overflow"), 1);
}

TEST_P(GatewayTest, LateBound) {
  com::Args get{Variant("before"), Variant("select * from umOrg order by Org_no")};
  Variant rs = admin->invoke("getRecordset", com::MemberKind::Method, get);
  EXPECT_EQ(get[0], Variant(""));
  ASSERT_TRUE(rs.isObject() && !rs.isNothing());
  rs.toObject()->putProperty("Collect", Variant("晚绑定"), {Variant("name")});

  com::Args set{Variant("before"), Variant(Variant::Array{rs, Variant("delete from umOrg where Org_no='O2'")})};
  EXPECT_TRUE(admin->invoke("setRecordset", com::MemberKind::Method, set).toBool());
  EXPECT_EQ(set[0], Variant("before"));
  EXPECT_EQ(name("O1"), "晚绑定");
  EXPECT_EQ(portal().count("umOrg"), 1);

  com::Args bad{Variant(), Variant("select from")};
  EXPECT_TRUE(admin->invoke("getRecordset", com::MemberKind::Method, bad).isNothing());
  EXPECT_FALSE(bad[0].toString().empty());
  com::Args empty{Variant(), Variant(Variant::Array{})};
  EXPECT_FALSE(admin->invoke("setRecordset", com::MemberKind::Method, empty).toBool());
  EXPECT_EQ(empty[0], Variant("参数必须大于或等于1"));
}

// The gateway runs any statement on the portal's database, and nothing
// beyond it: on the embedded engine no other file, no code and no crash
// through a tokenizer given as an address; on a server the portal's role
// neither writes nor reads the database host's files nor runs its programs.
TEST_P(GatewayTest, StatementsReachNothingBeyondThePortalsDatabase) {
  tivel::testing::TempDir dir;
  // Where the server's own user could write, so only the role's rights stop it.
  const std::string outside =
      (fs::temp_directory_path() / ("tivel-outside-" + fs::path(dir.path()).filename().string())).string();
  std::vector<std::string> attacks;
  if (GetParam() == "sqlite") {
    std::ofstream(dir.path() + "/other.db").close();
    attacks = {"select fts3_tokenizer('x', x'4141414141414141')",
               "create virtual table crash using fts3(body, tokenize=x)", "vacuum into '" + outside + "'",
               "attach '" + dir.path() + "/other.db' as other", "select load_extension('" + dir.path() + "/other.db')"};
  } else {
    attacks = {"copy (select 1) to '" + outside + "'", "copy (select 1) to program 'touch " + outside + "'",
               "select pg_read_file('/etc/hostname')"};
  }
  for (const std::string& sql : attacks) {
    Variant err;
    EXPECT_TRUE(admin->getRecordset(err, Variant(sql)).isNothing()) << sql;
    EXPECT_FALSE(err.toString().empty()) << sql;
  }
  EXPECT_FALSE(fs::exists(outside));
  fs::remove(outside);
  EXPECT_EQ(orgs()->recordCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(Engines, GatewayTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
