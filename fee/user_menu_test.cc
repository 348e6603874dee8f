// GetUserMenu through `tivel rpc`: an operator's items with every item above
// them, in display order, including data that breaks the tree rules.
#include <gtest/gtest.h>

#include "fee/testing/rpc_session.h"

namespace tivel::gf::testing {
namespace {

class UserMenuTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    root = std::make_unique<FeeRoot>(GetParam());
    session = std::make_unique<RpcSession>(root->path());
    gf = session->create("TivelGF.interface");
    // CDBS, SCCD, SHOWORDER: a tree 01 > 0101 > 010101, 01 > 0102, 02
    // (blank parent) > 0201, 03 without rights; 09 names a parent that is
    // not there; 07 and 08 are each other's parent.
    const char* items[][3] = {{"01", "", "01"},       {"0101", "01", "0101"}, {"010101", "0101", "010101"},
                              {"0102", "01", "0102"}, {"02", " ", "02"},      {"0201", "02", "0201"},
                              {"03", "", "03"},       {"09", "XX", "09"},     {"07", "08", "07"},
                              {"08", "07", "08"}};
    Json batch = Json::array();
    for (auto& i : items)
      batch.push_back(std::string("INSERT INTO XT_CS_CD(CDBS, SCCD, CDMC, SHOWORDER) VALUES ('") + i[0] + "', '" +
                      i[1] + "', '菜单" + i[0] + "', '" + i[2] + "')");
    for (const char* right : {"010101", "0102", " 0201 ", "ZZ", "09", "07"})
      batch.push_back(std::string("INSERT INTO XT_CS_CZY_QX(JH, CZY, CDBS) VALUES ('01', 'op1', '") + right + "')");
    EXPECT_EQ(session->call(gf, "f_SetRs", {byRef(""), "", batch})["result"], true);
  }
  void TearDown() override {
    session.reset();
    root.reset();
  }
  // The menu's rows as "CDBS:CAN_USE", or "nothing" when it answered Nothing.
  std::string menu(const std::string& user, const std::string& jh, Json* err = nullptr) {
    Json a = session->call(gf, "GetUserMenu", {user, jh, byRef("before")});
    if (err) *err = a["refs"]["2"];
    int64_t rs = handleOf(a);
    if (!rs) return "nothing";
    Json d = session->dump(rs);
    std::string out;
    for (const Json& row : d["rows"]) out += row[0].get<std::string>() + ":" + row.back().get<std::string>() + " ";
    EXPECT_EQ(d["fields"].size(), 6u);  // every menu column and CAN_USE
    return out;
  }

  std::unique_ptr<FeeRoot> root;
  std::unique_ptr<RpcSession> session;
  int64_t gf = 0;
};

TEST_P(UserMenuTest, RightsMarkTheirItemsAndEveryItemAbove) {
  Json err;
  EXPECT_EQ(menu("op1", "01", &err), "01:USE 0101:USE 010101:USE 0102:USE 02:USE 0201:USE 07:USE 08:USE 09:USE ");
  EXPECT_EQ(err, "");
  EXPECT_EQ(menu("op2", "01"), "");
  EXPECT_EQ(menu("op1", "02"), "");
  // The operator and JH code are values, whatever they hold.
  EXPECT_EQ(menu("op1' OR '1'='1", "01"), "");
  EXPECT_EQ(menu("op1", "01' OR '1'='1"), "");

  // A right that reaches a NULL parent key fails the read: Nothing, pErr "".
  root->exec("INSERT INTO XT_CS_CD(CDBS, SCCD, SHOWORDER) VALUES ('05', NULL, '05')");
  root->exec("INSERT INTO XT_CS_CZY_QX(JH, CZY, CDBS) VALUES ('01', 'op3', '05')");
  EXPECT_EQ(menu("op3", "01", &err), "nothing");
  EXPECT_EQ(err, "");
  EXPECT_NE(root->logText().find("Invalid use of Null"), std::string::npos) << root->logText();
}

INSTANTIATE_TEST_SUITE_P(Engines, UserMenuTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::gf::testing
