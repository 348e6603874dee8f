#include "mgt/console/console_mgt.h"

#include <gtest/gtest.h>

#include "mgt/admin/admin_mgt.h"
#include "mgt/console/log_export.h"
#include "mgt/testing/portal.h"
#include "platform/ado/statement_hook.h"
#include "platform/com/registry.h"

namespace tivel::mgt {
namespace {

// The most statements a console sign-in may cost: the user, its policy
// values and groups read once each, the login's bookkeeping (login count 1,
// login-error count 1, login record 1, log entry 2) and the session's row,
// with the hourly pruning of old activity rows.
constexpr int kMostStatements = 10;

class ConsoleMgtTest : public testing::PortalTest {
 protected:
  bool seed() const override { return true; }
  void SetUp() override {
    PortalTest::SetUp();
    auto admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    ASSERT_TRUE(admin);
    ASSERT_TRUE(admin->addUsr("boss", "Secret", "主管", "", "", "", "", ""));
    ASSERT_TRUE(admin->addUsr("clerk", "Secret", "职员", "", "", "", "", ""));
    portal().exec("insert into umGrp2Usr(Grp_no,Usr_no,priority) values('1','" + usrNo("boss") + "','1')");
    console = std::dynamic_pointer_cast<ConsoleMgt>(com::CreateObject("TivelMgt.ConsoleMgt"));
    ASSERT_TRUE(console);
  }
  std::string usrNo(const std::string& account) {
    return portal().scalar("select usr_no from umUsr where account='" + account + "'").toString();
  }
  // The sign-in, and the statements it ran on this thread.
  ConsoleSignIn countedSignIn(const std::string& account, const std::string& pwd, int* statements) {
    *statements = 0;
    auto previous = ado::setStatementHook([statements](ado::HookStep step, const std::string&) {
      if (step == ado::HookStep::Statement) ++*statements;
    });
    ConsoleSignIn in = console->signIn(account, pwd, "127.0.0.1", 8 * 3600);
    ado::setStatementHook(previous);
    return in;
  }
  std::shared_ptr<ConsoleMgt> console;
};

// A sign-in reads the user, its policy values and groups once each, and
// costs the login's bookkeeping and the session's row; the first sign-in of a
// user (no policy values of its own yet) costs no more than a later one.
TEST_P(ConsoleMgtTest, SignInOpensASessionInFewStatements) {
  int first = 0, later = 0;
  const ConsoleSignIn in = countedSignIn("boss", "Secret", &first);
  ASSERT_EQ(in.code, "0");
  EXPECT_FALSE(in.denied);
  EXPECT_EQ(in.level, 1);
  EXPECT_EQ(in.usrNo, usrNo("boss"));
  EXPECT_EQ(in.storedPassword, "Secret");
  ASSERT_TRUE(console->sessionExists(in.token));
  const std::optional<ConsoleSessionRow> row = console->sessionRow(in.token);
  ASSERT_TRUE(row);
  EXPECT_EQ(row->account, "boss");
  EXPECT_EQ(row->avail.toLong(), 1);
  ASSERT_EQ(countedSignIn("boss", "Secret", &later).code, "0");
  RecordProperty("first_sign_in_statements", first);
  RecordProperty("later_sign_in_statements", later);
  EXPECT_LE(first, kMostStatements) << "first sign-in";
  EXPECT_LE(later, kMostStatements) << "later sign-in";

  console->endSession(in.token);
  EXPECT_FALSE(console->sessionExists(in.token));
  EXPECT_FALSE(console->sessionRow(in.token));
  EXPECT_EQ(portal().scalar("select isAvail from umLogInfo where token='" + in.token + "'").toLong(), 0);
}

// A right password of a user who is no administrator opens nothing: the
// login record is ended at once and the refusal logged; a wrong password
// writes no record at all.
TEST_P(ConsoleMgtTest, RefusedSignInsLeaveNoSession) {
  const ConsoleSignIn clerk = console->signIn("clerk", "Secret", "127.0.0.1", 3600);
  EXPECT_EQ(clerk.code, "0");
  EXPECT_TRUE(clerk.denied);
  EXPECT_FALSE(console->sessionExists(clerk.token));
  EXPECT_EQ(portal().scalar("select isAvail from umLogInfo where token='" + clerk.token + "'").toLong(), 0);
  EXPECT_EQ(portal().count("SysLog", "disc='clerk无权使用管理控制台，登录被拒绝！'"), 1);

  const long records = portal().count("umLogInfo");
  EXPECT_EQ(console->signIn("boss", "wrong", "127.0.0.1", 3600).code, "10003");
  EXPECT_EQ(console->signIn("nobody", "Secret", "127.0.0.1", 3600).code, "10002");
  EXPECT_EQ(portal().count("umLogInfo"), records);
  EXPECT_EQ(portal().count("consoleSession"), 0);
}

// The reads take their search text literally and refuse pages out of range.
TEST_P(ConsoleMgtTest, ReadsMatchLiterallyAndRefuseBadPages) {
  auto admin = std::dynamic_pointer_cast<AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
  ASSERT_TRUE(admin->addUsr("a_b", "x", "下划线", "", "", "", "", ""));
  ASSERT_TRUE(admin->addUsr("axb", "x", "叉", "", "", "", "", ""));
  EXPECT_EQ(console->usersCount("A_B"), 1) << "\"_\" is no wildcard; letter case ignored";
  EXPECT_EQ(console->usersCount("'; drop table umUsr; --"), 0);
  auto both = console->usersPage("a", 0, 2);
  auto second = console->usersPage("a", 1, 1);
  ASSERT_FALSE(both->eof());
  EXPECT_EQ(both->value(1).toString(), "a_b") << "by account";
  both->moveNext();
  ASSERT_FALSE(second->eof());
  EXPECT_EQ(second->value(1).toString(), both->value(1).toString()) << "the second page of one";
  EXPECT_THROW(console->usersPage("", -1, 10), std::invalid_argument);
  EXPECT_THROW(console->usersPage("", 0, 201), std::invalid_argument);
  ConsoleLogQuery q;
  q.from = "2026-13-40";
  EXPECT_THROW(console->logPage(q), std::invalid_argument);
}

// The log's time bounds: a minute holds its 60 seconds at either end, a day
// its whole day, as the database compares its texts; a bound that is
// neither is refused.
TEST_P(ConsoleMgtTest, LogTimeBoundsTakeWholeMinutesAndDays) {
  int n = 0;
  for (const char* at : {"2026-03-03 23:59:59", "2026-03-04 10:29:59", "2026-03-04 10:30:00", "2026-03-04 10:30:59",
                         "2026-03-04 10:31:00", "2026-03-05 00:00:00"})
    portal().exec("insert into SysLog(Log_no,WDateTime,Mod_name,disc,Log_Type,Msg_Type) values('B" +
                  std::to_string(++n) + "','" + at + "','m','bounds " + at + "',1,1)");
  const auto count = [&](const std::string& from, const std::string& to) {
    return console->logCount(ConsoleLogQuery{from, to, "", "bounds", 0, 50});
  };
  EXPECT_EQ(count("2026-03-04T10:30", "2026-03-04T10:30"), 2);
  EXPECT_EQ(count("2026-03-04 10:30", "2026-03-04 10:30"), 2) << "a space for the T";
  EXPECT_EQ(count("", "2026-03-04T10:29"), 2);
  EXPECT_EQ(count("2026-03-04T10:31", ""), 2);
  EXPECT_EQ(count("2026-03-04", "2026-03-04"), 4) << "a day is the whole day";
  EXPECT_EQ(count("2026-03-04", "2026-03-04T10:30"), 3);
  auto page = console->logPage(ConsoleLogQuery{"2026-03-04T10:30", "2026-03-04T10:31", "", "bounds", 0, 50});
  ASSERT_FALSE(page->eof());
  EXPECT_EQ(page->value(1).toString(), "2026-03-04 10:31:00") << "newest first, the upper minute included";
  for (const char* bad : {"2026-03-04T10:30:00", "2026-03-04T24:00", "2026-03-04T10", "2026-02-30T10:00", "10:30"})
    EXPECT_THROW(count(bad, ""), std::invalid_argument) << bad;
}

// The export's reader, each page after the last entry of the one before,
// finds what logPage's pages find in the same order: ties of one second,
// entries without a time (first or last as the engine orders them), and
// an entry written once the dated entries are being read (newer: not in it).
TEST_P(ConsoleMgtTest, TheExportReaderFollowsTheLogPagesOrder) {
  for (int i = 0; i < 230; ++i)
    portal().exec("insert into SysLog(Log_no,WDateTime,Mod_name,disc,Log_Type,Msg_Type) values('K" +
                  std::to_string(1000 + i) + "'," +
                  (i % 50 == 7 ? std::string("null") : "'2026-04-0" + std::to_string(1 + i % 3) + " 10:00:00'") +
                  ",'m','keyed " + std::to_string(i) + "',1,1)");
  ConsoleLogQuery q{"", "", "", "keyed", 0, 100};
  std::vector<std::string> pages, found;
  for (q.page = 0; q.page < 3; ++q.page)
    for (auto rs = console->logPage(q); !rs->eof(); rs->moveNext()) pages.push_back(rs->value(3).toString());
  LogExportReader reader(q);
  int read = 0;
  for (auto page = reader.next(); !page.empty(); page = reader.next()) {
    if (++read == 2)  // the entries with a time are being read by now, on any engine
      portal().exec(
          "insert into SysLog(Log_no,WDateTime,Mod_name,disc,Log_Type,Msg_Type) values('K9999','2026-04-09 "
          "00:00:00','m','keyed late',1,1)");
    for (const ConsoleLogEntry& e : page) found.push_back(e.text);
  }
  EXPECT_EQ(pages.size(), 230u);
  EXPECT_EQ(found, pages);
  EXPECT_THROW(LogExportReader(ConsoleLogQuery{"2026-04-01T25:00", "", "", "", 0, 100}), std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(Engines, ConsoleMgtTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
