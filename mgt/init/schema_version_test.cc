#include <gtest/gtest.h>

#include "mgt/common/helpers.h"
#include "mgt/init/root.h"
#include "mgt/init/schema.h"
#include "mgt/testing/portal.h"
#include "platform/com/error.h"

namespace tivel::mgt {
namespace {

class SchemaVersionTest : public testing::PortalTest {};

// A new database records this release's version; one made before versions
// were recorded is taken as version 1 and recorded by its owner; the
// portal's own role, which may not create tables, is accepted on a complete
// schema; a database of a newer version is refused and left as it was.
TEST_P(SchemaVersionTest, RecordsChecksAndRefusesVersions) {
  ado::Connection& owner = portal().db();
  EXPECT_EQ(schemaVersion(owner, "mgt"), kSchemaVersion);

  ado::Connection components;  // on a server, a role with no CREATE
  components.open(GetConnectionString());
  EXPECT_NO_THROW(applySchema(components, "mgt"));
  EXPECT_NO_THROW(initRoot({.root = portal().root()})) << "init as the portal's own role";

  portal().exec("drop table SchemaVersion");
  EXPECT_EQ(schemaVersion(owner, "mgt"), 0);
  EXPECT_NO_THROW(applySchema(components, "mgt")) << "a complete schema without versions, no CREATE";
  applySchema(owner, "mgt");
  EXPECT_EQ(schemaVersion(owner, "mgt"), kSchemaVersion);

  // A version 1 database gets the password history by its upgrade.
  portal().exec("drop table umPwdHist");
  portal().exec("update SchemaVersion set Version = 1 where Name = 'mgt'");
  applySchema(owner, "mgt");
  EXPECT_EQ(schemaVersion(owner, "mgt"), kSchemaVersion);
  EXPECT_EQ(portal().count("umPwdHist", "1=1"), 0);

  portal().exec("update SchemaVersion set Version = " + std::to_string(kSchemaVersion + 1) + " where Name = 'mgt'");
  try {
    applySchema(owner, "mgt");
    ADD_FAILURE() << "a newer schema was accepted";
  } catch (const com::ComError& e) {
    EXPECT_NE(e.description().find("newer than this release's"), std::string::npos) << e.description();
  }
  EXPECT_EQ(schemaVersion(owner, "mgt"), kSchemaVersion + 1);
  components.close();
}

INSTANTIATE_TEST_SUITE_P(Engines, SchemaVersionTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
