// Security attributes: the effective value by name, definitions and values
// with their codes and lists, and the reset of the login-error count.
#include <algorithm>

#include <gtest/gtest.h>

#include "mgt/um/um_test_fixture.h"

namespace tivel::mgt {
namespace {

using com::Variant;
using namespace um_testing;

RecordPtr usa(const Variant& no, const Variant& owner, const Variant& name, const Variant& dataType = "0") {
  return rec("cUmUsrSecAttr", {{"Usa_No", no},
                               {"Usr_No", owner},
                               {"Name", name},
                               {"Data_type", dataType},
                               {"IsAvail", Variant::null()},
                               {"IsNull", Variant::null()},
                               {"IsGobal", Variant::null()}});
}

RecordPtr usi(const Variant& attr, const Variant& usr, const Variant& value, const Variant& avail = "1") {
  return rec("cUmUsrSecInst", {{"Usa_No", attr}, {"Usr_No", usr}, {"Usi_Value", value}, {"IsAvail", avail}});
}

// The list in sorted order, for lists that come in the database's order.
std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// With the thirteen policy definitions seeded (not in force, no defaults).
class SecurityTest : public UmTest {
 protected:
  bool seed() const override { return true; }
  void value(const RecordPtr& r) { ASSERT_EQ(um->addUsi(r), "0"); }
};

TEST_P(SecurityTest, TheUsersOwnValueWinsWhateverItsFlag) {
  portal().exec("update umUsrSecAttr set default_value='9', isAvail=1 where Usa_no='3'");
  value(usi("3", "U1", "2", "0"));
  EXPECT_EQ(um->getUsrSecValue("LogErrNum", "U1"), "2") << "the value row's own flag is not consulted";
  EXPECT_EQ(um->getUsrSecValue("LogErrNum", "U2"), "9") << "the default for a user without a value";
  value(usi("4", "U1", ""));
  EXPECT_EQ(um->getUsrSecValue("LogErrLockNum", "U1"), "") << "a NULL value is the empty string";
}

TEST_P(SecurityTest, TheDefaultAppliesOnlyWhileTheDefinitionIsInForce) {
  portal().exec("update umUsrSecAttr set default_value='10.0.0.1', usr_no='someone' where Usa_no='1'");
  EXPECT_EQ(um->getUsrSecValue("IpLimit", "U1"), "") << "definition 1 is not in force";
  portal().exec("update umUsrSecAttr set isAvail=1 where Usa_no='1'");
  EXPECT_EQ(um->getUsrSecValue("IpLimit", "U1"), "10.0.0.1") << "whoever owns the definition";
  portal().exec("delete from umUsrSecAttr where Usa_no='1'");
  EXPECT_EQ(um->getUsrSecValue("IpLimit", "U1"), "");
}

TEST_P(SecurityTest, NamesAreComparedExactly) {
  // Every policy name maps to its own number.
  const char* names[] = {"IpLimit",       "TimeLimit",     "LogErrNum",    "LogErrLockNum", "IsPwdTwo",
                         "PwdTwo",        "AcntLimitDate", "PwdLimitDate", "PwdFirstLimit", "Certificate",
                         "CertSignature", "LdapAcnt",      "LdapPwd"};
  for (int n = 1; n <= 13; ++n) value(usi(std::to_string(n), "U1", "v" + std::to_string(n)));
  for (int n = 1; n <= 13; ++n)
    EXPECT_EQ(um->getUsrSecValue(names[n - 1], "U1"), "v" + std::to_string(n)) << names[n - 1];
  // Any other spelling looks up attribute 0.
  value(usi("0", "U1", "zero"));
  EXPECT_EQ(um->getUsrSecValue("logerrnum", "U1"), "zero");
  EXPECT_EQ(um->getUsrSecValue("IpLimit ", "U1"), "zero");
  EXPECT_EQ(um->getUsrSecValue("x' or '1'='1", "U1"), "zero");
  EXPECT_EQ(um->getUsrSecValue("IpLimit", ""), "") << "no user, no value";
  EXPECT_EQ(um->getUsrSecValue("IpLimit", "U1' or '1'='1"), "");
}

TEST_P(SecurityTest, AddDefinitionChecksAndDefaults) {
  Variant key;
  EXPECT_EQ(um->addUsa(usa("20", "", "名"), key), "10391");
  EXPECT_EQ(um->addUsa(usa("3", "0", "又一个"), key), "10392");
  ASSERT_EQ(um->addUsa(usa("20", "U1", "LogErrNum"), key), "0") << "names may repeat";
  EXPECT_EQ(key.toString(), "20");
  EXPECT_TRUE(text("select parse from umUsrSecAttr where Usa_no='20'").isNull());
  EXPECT_TRUE(text("select disc from umUsrSecAttr where Usa_no='20'").isNull());
  EXPECT_EQ(text("select isAvail from umUsrSecAttr where Usa_no='20'").toLong(), 1);
  EXPECT_EQ(text("select isNull from umUsrSecAttr where Usa_no='20'").toLong(), 1);
  EXPECT_EQ(text("select isGobal from umUsrSecAttr where Usa_no='20'").toLong(), 1);

  ASSERT_EQ(um->addUsa(usa({}, "0", "新"), key), "0");
  EXPECT_EQ(key.toString().rfind("USA_", 0), 0u) << key.toString();

  const long before = portal().count("umUsrSecAttr");
  EXPECT_EQ(um->addUsa(usa("21", "0", "x", ""), key), "10393") << "an empty type is no number";
  EXPECT_EQ(um->addUsa(usa("21", "0", "x", "1); delete from umUsrSecAttr; --"), key), "10393");
  auto flag = usa("21", "0", "x");
  flag->set("IsAvail", "");
  EXPECT_EQ(um->addUsa(flag, key), "10393");
  flag->set("IsAvail", "1 or 1=1");
  EXPECT_EQ(um->addUsa(flag, key), "10393");
  EXPECT_EQ(portal().count("umUsrSecAttr"), before);
}

TEST_P(SecurityTest, UpdateAndDeleteDefinitions) {
  auto d = usa("3", "0", "LogErrNum");
  d->set("Default_Value", "5");
  d->set("IsAvail", "1");
  d->set("IsNull", "0");
  d->set("IsGobal", "0");
  EXPECT_EQ(um->updateUsa(d, ""), "10394");
  EXPECT_EQ(um->updateUsa(d, "99"), "10395");
  EXPECT_EQ(um->updateUsa(d, "3"), "0");
  auto back = asRecord(um->getUsa("3"));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->get("Default_Value").toString(), "5");
  EXPECT_EQ(back->get("IsAvail").toLong(), 1);
  EXPECT_EQ(um->getUsrSecValue("LogErrNum", "U1"), "5");
  EXPECT_TRUE(um->getUsa("").isNothing());
  EXPECT_TRUE(um->getUsa("99").isNothing());

  value(usi("3", "U1", "1"));
  EXPECT_EQ(um->delUsa(""), "10397");
  EXPECT_EQ(um->delUsa("3' or '1'='1"), "0");
  EXPECT_EQ(portal().count("umUsrSecAttr"), 13);
  EXPECT_EQ(um->delUsa("3"), "0");
  EXPECT_EQ(portal().count("umUsrSecAttr"), 12);
  EXPECT_EQ(portal().count("umUsrSecInst"), 1) << "the attribute's values stay";
}

TEST_P(SecurityTest, ValuesAddUpdateAndDelete) {
  EXPECT_EQ(um->addUsi(usi("", "U1", "x")), "1039901");
  EXPECT_EQ(um->addUsi(usi("3", "", "x")), "1039901");
  value(usi("3", "U1", "1"));
  value(usi("3", "U1", "2"));
  EXPECT_EQ(portal().count("umUsrSecInst", "usr_no='U1' and Usa_no='3'"), 2) << "a second value is another row";
  value(usi("4", "U1", "", ""));
  EXPECT_TRUE(text("select Usi_Value from umUsrSecInst where Usa_no='4'").isNull());
  EXPECT_EQ(text("select isAvail from umUsrSecInst where Usa_no='4'").toLong(), 0);
  EXPECT_EQ(um->addUsi(usi("5", "U1", "v", "1); delete from umUsrSecInst; --")), "1039903");

  const std::string row = text("select Usi_no from umUsrSecInst where Usa_no='4'").toString();
  EXPECT_EQ(um->updateUsi(usi("4", "U1", "新", "1"), ""), "1039904");
  EXPECT_EQ(um->updateUsi(usi("4", "U1", "新", "1"), "999999"), "1039905");
  EXPECT_EQ(um->updateUsi(usi("9", "U9", "新", "1"), row), "0");
  EXPECT_EQ(text("select Usi_Value from umUsrSecInst where Usi_no=" + row).toString(), "新");
  EXPECT_EQ(text("select usr_no from umUsrSecInst where Usi_no=" + row).toString(), "U1") << "only value and flag";

  value(usi("3", "U2", "1"));
  value(usi("5", "U2", "1"));
  EXPECT_EQ(um->delUsi("", ""), "1039908");
  EXPECT_EQ(portal().count("umUsrSecInst"), 5);
  EXPECT_EQ(um->delUsi("5", "U2"), "0");
  EXPECT_EQ(portal().count("umUsrSecInst"), 4);
  EXPECT_EQ(um->delUsi("", "U1"), "0") << "all of the user's values";
  EXPECT_EQ(portal().count("umUsrSecInst"), 1);
  EXPECT_EQ(um->delUsi("3", ""), "0") << "the attribute's values of every user";
  EXPECT_EQ(portal().count("umUsrSecInst"), 0);
}

TEST_P(SecurityTest, ReadsAndLists) {
  Variant key;
  ASSERT_EQ(um->addUsa(usa("20", "U1", "own"), key), "0");
  ASSERT_EQ(um->addUsa(usa("21", "U2", "other"), key), "0");
  EXPECT_EQ(keysOf(um->getUsaOfUsr("U1")).size(), 14u) << "the global thirteen and the user's own";
  EXPECT_EQ(keysOf(um->getUsaOfUsr("")).size(), 13u);
  auto defs = keysOf(um->getUsaOfUsr("U1"));
  EXPECT_NE(std::find(defs.begin(), defs.end(), "USA20"), defs.end());

  value(usi("3", "U1", "2", "0"));
  value(usi("20", "U1", "x"));
  value(usi("3", "U2", "7"));
  auto one = asRecord(um->getUsi("3", "U1"));
  ASSERT_TRUE(one);
  EXPECT_EQ(one->get("Usi_Value").toString(), "2");
  EXPECT_TRUE(um->getUsi("3", "").isNothing());
  EXPECT_TRUE(um->getUsi("", "U1").isNothing());
  EXPECT_TRUE(um->getUsi("4", "U1").isNothing());

  EXPECT_EQ(sorted(keysOf(um->getUsiOfUsr("U1"))), (std::vector<std::string>{"USA20USRU1", "USA3USRU1"}));
  EXPECT_EQ(keysOf(um->getUsiOfUsr("")).size(), 3u) << "everyone's values";
  EXPECT_TRUE(um->getUsiOfUsr("U1' or '1'='1").isObject());
  EXPECT_EQ(keysOf(um->getUsiOfUsr("U1' or '1'='1")).size(), 0u);

  EXPECT_TRUE(um->getUsrSecOfUsr("").isNothing());
  auto none = asList(um->getUsrSecOfUsr("U3"));
  ASSERT_TRUE(none);
  EXPECT_EQ(none->Count(), 0);
  auto joined = asList(um->getUsrSecOfUsr("U1"));
  ASSERT_TRUE(joined);
  ASSERT_EQ(sorted(keysOf(um->getUsrSecOfUsr("U1"))), (std::vector<std::string>{"USC20", "USC3"}));
  auto sec = asRecord(joined->entries()[0].first == "USC3" ? joined->Item(1) : joined->Item(2));
  EXPECT_EQ(sec->get("Name").toString(), "LogErrNum");
  EXPECT_EQ(sec->get("Usr_No").toString(), "0") << "the definition's owner";
  EXPECT_EQ(sec->get("Usi_Value").toString(), "2");
  EXPECT_EQ(sec->get("Usi_IsAvail").toLong(), 0);
  EXPECT_EQ(sec->get("IsAvail").toLong(), 0) << "the definition's flag";
}

TEST_P(SecurityTest, CleaningTheLoginErrorCount) {
  EXPECT_TRUE(um->cleanUsrLogErrNum("U1"));
  EXPECT_EQ(portal().count("umUsrSecInst"), 1);
  EXPECT_EQ(text("select Usi_Value from umUsrSecInst where usr_no='U1' and Usa_no='3'").toString(), "0");
  EXPECT_EQ(text("select isAvail from umUsrSecInst where usr_no='U1'").toLong(), 1);

  value(usi("3", "U2", "4", "0"));
  value(usi("4", "U2", "4"));
  EXPECT_TRUE(um->cleanUsrLogErrNum("U2"));
  EXPECT_EQ(text("select Usi_Value from umUsrSecInst where usr_no='U2' and Usa_no='3'").toString(), "0");
  EXPECT_EQ(text("select Usi_Value from umUsrSecInst where usr_no='U2' and Usa_no='4'").toString(), "4");
  EXPECT_EQ(portal().count("umUsrSecInst"), 3);

  EXPECT_TRUE(um->cleanUsrLogErrNum("U2' or '1'='1")) << "a user of that odd key, created";
  EXPECT_EQ(text("select Usi_Value from umUsrSecInst where usr_no='U2' and Usa_no='4'").toString(), "4");
  EXPECT_EQ(portal().count("umUsrSecInst", "usr_no='U2'' or ''1''=''1'"), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, SecurityTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
