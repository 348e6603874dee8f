// Fee slips through `tivel rpc`: numbers from the counter, saves with their
// snapshots, re-saves, the attachment, deletes and the refusals.
#include <gtest/gtest.h>

#include "fee/testing/rpc_session.h"
#include "fee/testing/slip_pages.h"

namespace tivel::gf::testing {
namespace {

class SlipsTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    root = std::make_unique<FeeRoot>(GetParam());
    session = std::make_unique<RpcSession>(root->path());
    gf = session->create("TivelGF.interface");
  }
  void TearDown() override {
    session.reset();
    root.reset();
  }
  // Saves a slip and returns pErr (the number, or the failure); ok tells whether it was saved.
  std::string save(int year, int month, const std::string& jh, const std::string& id, int details, bool* ok,
                   const Json& data = nullptr, const std::vector<std::pair<std::string, Json>>& fields = {}) {
    Json a = saveSlip(*session, gf, year, month, jh, slipForms(*session, gf, jh, id, details, data, fields));
    *ok = a["result"] == true;
    return a["refs"]["0"].get<std::string>();
  }
  std::string slip(const std::string& number) { return "JH = '01' AND Script_Id = '" + number + "'"; }
  std::string text(const std::string& sql) { return root->scalar(sql).toString(); }

  std::unique_ptr<FeeRoot> root;
  std::unique_ptr<RpcSession> session;
  int64_t gf = 0;
};

TEST_P(SlipsTest, NewSlipIsNumberedAndEverySaveTakesASnapshot) {
  bool ok = false;
  const Json pdf = {{"bytes", "JVBERi0xLjQ="}};
  EXPECT_EQ(save(2026, 12, "01", "(自动产生)", 2, &ok, pdf, {{"Word_Count", 1200}}), "012026121");
  EXPECT_TRUE(ok);
  EXPECT_EQ(text("SELECT MAXLSH FROM CD_MAX_LSH WHERE JH = '01' AND CURYEAR = 2026 AND CURMONTH = 12"), "1");
  EXPECT_EQ(text("SELECT Title FROM T_Script WHERE " + slip("012026121")), "稿件 (自动产生)");
  EXPECT_EQ(root->scalar("SELECT Word_Count FROM T_Script WHERE " + slip("012026121")).toLong(), 1200);
  // The details take the save's JH and number, whatever their rows said.
  EXPECT_EQ(root->count("T_ScrpDtl", slip("012026121")), 2);
  EXPECT_EQ(root->count("T_ScrpDtl", "JH = 'zz'"), 0);
  EXPECT_EQ(root->count("T_Script_Save", slip("012026121") + " AND I_NO = 0"), 1);
  EXPECT_EQ(root->count("T_ScrpDtl_Save", slip("012026121") + " AND I_NO = 0"), 2);
  auto bytes = root->scalar("SELECT DATA FROM T_ScrpFile WHERE " + slip("012026121"));
  EXPECT_EQ(std::string(bytes.bytes().begin(), bytes.bytes().end()), "%PDF-1.4");

  // Saved again under its number: header in place, details replaced, no new
  // number, snapshots 1 and 2; without an attachment the stored one stays.
  EXPECT_EQ(save(2026, 12, "01", "012026121", 3, &ok, nullptr, {{"Title", "改稿"}}), "012026121");
  EXPECT_TRUE(ok);
  EXPECT_EQ(save(2026, 12, "01", "012026121", 1, &ok), "012026121");
  EXPECT_EQ(root->count("T_Script"), 1);
  EXPECT_EQ(text("SELECT Title FROM T_Script_Save WHERE " + slip("012026121") + " AND I_NO = 1"), "改稿");
  EXPECT_EQ(root->count("T_ScrpDtl", slip("012026121")), 1);
  EXPECT_EQ(root->count("T_ScrpDtl_Save", slip("012026121") + " AND I_NO = 1"), 3);
  EXPECT_EQ(root->count("T_Script_Save", slip("012026121") + " AND I_NO = 2"), 1);
  EXPECT_EQ(root->count("T_ScrpFile"), 1);
  EXPECT_EQ(text("SELECT MAXLSH FROM CD_MAX_LSH"), "1");
  EXPECT_EQ(save(2026, 12, "01", "(自动产生)", 1, &ok), "012026122");
}

TEST_P(SlipsTest, CounterPassesOverTakenNumbersAndFailedSavesLeaveNothing) {
  bool ok = false;
  root->exec("INSERT INTO CD_MAX_LSH(JH, CURYEAR, CURMONTH, MAXLSH) VALUES ('01', 2026, 3, '9')");
  EXPECT_EQ(save(2026, 3, "01", "(自动产生)", 1, &ok), "012026310");
  EXPECT_EQ(text("SELECT MAXLSH FROM CD_MAX_LSH WHERE CURMONTH = 3"), "10");

  // Month 1 serial 12 and month 11 serial 2 both make 012026112: the
  // counter of month 11 passes over the number that names a slip already.
  root->exec("INSERT INTO T_Script(JH, Script_Id, Title) VALUES ('01', '012026112', '一月稿件')");
  root->exec("INSERT INTO CD_MAX_LSH(JH, CURYEAR, CURMONTH, MAXLSH) VALUES ('01', 2026, 11, '1')");
  EXPECT_EQ(save(2026, 11, "01", "(自动产生)", 1, &ok), "012026113");
  EXPECT_EQ(text("SELECT Title FROM T_Script WHERE " + slip("012026112")), "一月稿件");
  EXPECT_EQ(text("SELECT MAXLSH FROM CD_MAX_LSH WHERE CURMONTH = 11"), "3");

  long slips = root->count("T_Script");
  EXPECT_EQ(save(2026, 3, "001", "(自动产生)", 1, &ok), "JH参数位数必须为2");
  EXPECT_FALSE(ok);
  // Without details the save fails after the number was issued: all undone.
  std::string failure = save(2026, 3, "01", "(自动产生)", 0, &ok);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(failure.empty());
  EXPECT_EQ(root->count("T_Script"), slips);
  EXPECT_EQ(root->count("CD_MAX_LSH", "JH = '001'"), 0);
  EXPECT_EQ(text("SELECT MAXLSH FROM CD_MAX_LSH WHERE CURMONTH = 3"), "10");
  EXPECT_NE(root->logText().find("JH参数位数必须为2"), std::string::npos);
  EXPECT_NE(root->logText().find(failure), std::string::npos);

  // A JH code or number with a quote stays a value; year and month are numbers.
  EXPECT_EQ(save(2026, 3, "0'", "(自动产生)", 1, &ok), "0'202631");
  EXPECT_EQ(root->count("T_ScrpDtl_Save", "JH = '0''' AND Script_Id = '0''202631'"), 1);
  SlipForms f = slipForms(*session, gf, "01", "(自动产生)", 1);
  Json refused =
      session->ask({{"object", gf},
                    {"call", "Save_Script"},
                    {"args", {byRef(""), "2026 OR 1=1", 3, "01", obj(f.header), obj(f.details), obj(f.file)}}});
  EXPECT_EQ(refused["error"]["number"], -2147352571) << refused.dump();
}

TEST_P(SlipsTest, NoNumberIsMadeForAMonthOrYearThatDoesNotExist) {
  bool ok = true;
  const struct {
    int year, month;
    const char* refusal;
  } impossible[] = {{2026, 0, "月份参数必须在1到12之间"},      {2026, 13, "月份参数必须在1到12之间"},
                    {2026, -32768, "月份参数必须在1到12之间"}, {-1, 12, "年份参数必须在1到9999之间"},
                    {0, 1, "年份参数必须在1到9999之间"},       {2147483647, 1, "年份参数必须在1到9999之间"}};
  for (const auto& c : impossible) {
    EXPECT_EQ(save(c.year, c.month, "01", "(自动产生)", 1, &ok), c.refusal) << c.year << "-" << c.month;
    EXPECT_FALSE(ok);
  }
  EXPECT_EQ(root->count("T_Script") + root->count("T_ScrpDtl") + root->count("CD_MAX_LSH"), 0);
  EXPECT_NE(root->logText().find("月份参数必须在1到12之间"), std::string::npos);
  EXPECT_NE(root->logText().find("年份参数必须在1到9999之间"), std::string::npos);
  // The bounds themselves make numbers; a slip saved again under its number needs none.
  EXPECT_EQ(save(1, 1, "01", "(自动产生)", 1, &ok), "01111");
  EXPECT_EQ(save(9999, 12, "01", "(自动产生)", 1, &ok), "019999121");
  EXPECT_EQ(save(0, 13, "01", "01111", 1, &ok), "01111");
  EXPECT_TRUE(ok);
}

TEST_P(SlipsTest, DeleteRemovesUnsignedSlipsAndRefusesSignedOnes) {
  bool ok = false;
  const Json data = {{"bytes", "AAEC"}};
  std::string first = save(2026, 5, "01", "(自动产生)", 2, &ok, data);
  std::string second = save(2026, 5, "01", "(自动产生)", 2, &ok, data);
  save(2026, 5, "01", second, 2, &ok);
  root->exec("UPDATE T_Script SET Sign_Id = 'SIGN1' WHERE " + slip(second));

  Json a = session->call(gf, "Delete_Script", {byRef("x"), first, "01"});
  EXPECT_EQ(a["result"], true);
  EXPECT_EQ(a["refs"]["0"], "");
  for (const char* table : {"T_Script", "T_ScrpDtl", "T_ScrpFile", "T_Script_Save", "T_ScrpDtl_Save"})
    EXPECT_EQ(root->count(table, slip(first)), 0) << table;

  a = session->call(gf, "Delete_Script", {byRef(""), second, "01"});
  EXPECT_EQ(a["result"], false);
  EXPECT_EQ(a["refs"]["0"], "已经签发，不能删除稿费单。");
  EXPECT_EQ(root->count("T_ScrpDtl_Save", slip(second)), 4);

  // No header: the failure reaches the caller; a quote in the number changes nothing.
  a = session->ask({{"object", gf}, {"call", "Delete_Script"}, {"args", {byRef(""), "x' OR '1'='1", "01"}}});
  EXPECT_TRUE(a.contains("error")) << a.dump();
  EXPECT_EQ(root->count("T_Script"), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, SlipsTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::gf::testing
