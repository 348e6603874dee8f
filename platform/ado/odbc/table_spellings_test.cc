#include "platform/ado/odbc/table_spellings.h"

#include <gtest/gtest.h>

namespace tivel::ado::odbc {
namespace {

TEST(TableSpellings, BareTableWordsTakeTheCatalogueSpellingAndNothingElseChanges) {
  TableSpellings t;
  t.assign({"umOrg2Usr", "AppRol", "App", "Twin", "TWIN"});
  EXPECT_EQ(t.adapt("select a.Rol_no from approl a, APP where a.app_no = app.App_no and app = 1"),
            "select a.Rol_no from AppRol a, App where a.app_no = App.App_no and App = 1");
  // Texts, quoted names, comments, longer words and names two tables share.
  std::string kept = "select 'approl', \"approl\", `approl` from umorg2usrx, twin -- approl\n/* app */";
  EXPECT_EQ(t.adapt(kept), kept);
  EXPECT_EQ(t.adapt("delete  from UMORG2USR where Org_no= 'x'"), "delete  from umOrg2Usr where Org_no= 'x'");
  EXPECT_EQ(t.spelling("APPROL"), "AppRol");
  EXPECT_EQ(t.spelling("twin"), "twin");
  t.assign({});
  EXPECT_EQ(t.adapt("select * from approl"), "select * from approl");
}

}  // namespace
}  // namespace tivel::ado::odbc
