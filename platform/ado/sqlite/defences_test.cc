#include "platform/ado/sqlite/defences.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/ado/constants.h"
#include "platform/com/registry.h"
#include "testing/engines.h"
#include "testing/errors.h"

namespace tivel::ado {
namespace {

using com::Variant;
using tivel::testing::errorOf;
namespace fs = std::filesystem;

// A caller's statements run through ADODB.Connection as they stand; none of
// them may reach another file, load code or crash the process, while what
// the portal's own work and its pages use keeps running.
TEST(SqliteDefencesTest, CallersStatementsReachNothingBeyondTheirDatabase) {
  tivel::testing::TempDir dir;
  const std::string db = dir.path() + "/portal.db", other = dir.path() + "/other.db", copy = dir.path() + "/copy.db";
  std::ofstream(db).close();
  std::ofstream(other).close();
  com::ObjectPtr c = com::CreateObject("ADODB.Connection");
  c->call("Open", {Variant("Provider=SQLite;Data Source=" + db)});
  std::string why;
  auto run = [&](const std::string& sql) { return errorOf([&] { c->call("Execute", {Variant(sql)}); }, &why); };

  // A tokenizer given as an address, which the next statement would call.
  EXPECT_EQ(run("select fts3_tokenizer('x', x'4141414141414141')"), kProviderError);
  EXPECT_EQ(run("create virtual table crash using fts3(body, tokenize=x)"), kProviderError);
  EXPECT_EQ(run("select hex(fts3_tokenizer('simple'))"), kProviderError) << "the address of a built-in one";
  EXPECT_NE(why.find("fts3_tokenizer"), std::string::npos) << why;
  EXPECT_EQ(run("vacuum into '" + copy + "'"), kProviderError);
  EXPECT_NE(why.find("VACUUM INTO"), std::string::npos) << why;
  EXPECT_FALSE(fs::exists(copy));
  for (const std::string& sql : std::vector<std::string>{
           "attach '" + other + "' as other", "attach 'file:" + other + "?mode=rw' as other", "vacuum",
           "select load_extension('" + other + "')", "pragma writable_schema=1", "pragma trusted_schema=1",
           "pragma temp_store_directory='" + dir.path() + "'", "pragma journal_mode=memory", "pragma query_only=1",
           "insert into sqlite_master values('table','z','z',0,'create table z(a)')"})
    EXPECT_EQ(run(sql), kProviderError) << sql;
  EXPECT_EQ(fs::file_size(other), 0u);

  for (const char* sql : {"create table notes(k integer primary key, body text)",
                          "create index notes_body on notes(body)", "create view shown as select body from notes",
                          "create trigger stamped after insert on notes begin update notes set body = body || '!' "
                          "where k = new.k; end",
                          "insert into notes(body) values('a')", "pragma table_info(notes)",
                          "select name from pragma_table_info('notes')", "pragma journal_mode",
                          "pragma integrity_check", "create virtual table words using fts4(body)"})
    EXPECT_EQ(run(sql), 0) << sql << ": " << why;
  Variant rs = c->call("Execute", {Variant("select body from shown")});
  EXPECT_EQ(rs.toObject()->getProperty("Collect", {Variant("body")}).toString(), "a!");
}

}  // namespace
}  // namespace tivel::ado
