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

// A call that builds its whole value before the engine looks again (printf
// with a vast width or precision) cannot outrun a deadline: its widths are
// capped, and formats within the cap answer as the engine's own printf.
TEST(SqliteDefencesTest, PrintfWidthsAreCappedAndNarrowFormatsAnswerAsBefore) {
  tivel::testing::TempDir dir;
  std::ofstream(dir.path() + "/portal.db").close();
  com::ObjectPtr c = com::CreateObject("ADODB.Connection");
  c->call("Open", {Variant("Provider=SQLite;Data Source=" + dir.path() + "/portal.db")});
  auto value = [&](const std::string& sql) {
    return c->call("Execute", {Variant(sql)}).toObject()->getProperty("Collect", {Variant(int32_t(0))});
  };
  std::string why;
  auto run = [&](const std::string& sql) { return errorOf([&] { value(sql); }, &why); };
  for (const char* sql : {"select printf('%.*c', 2147483647, 'x')", "select format('%2147483647d', 1)",
                          "select printf('%*s', -2147483647, 'a')", "select printf('%.100001c', 'x')",
                          "select printf('%.60000c%.60000c', 'x', 'y')", "select printf('%99999999999999999999d', 1)"})
    EXPECT_EQ(run(sql), kProviderError) << sql;
  EXPECT_NE(why.find("100000"), std::string::npos) << why;

  EXPECT_EQ(value("select printf('%05.1f|%-4s|%q|%d%%', 3.14159, 'ab', 'it''s', 7)").toString(), "003.1|ab  |it''s|7%");
  EXPECT_EQ(value("select format('%s-%s', 'a', null)").toString(), "a-");
  EXPECT_TRUE(value("select printf(null, 1)").isNull());
  EXPECT_EQ(value("select length(printf('%.*c', 100000, 'x'))").toLong(), 100000);
  // Usable where the engine wants a deterministic function.
  EXPECT_EQ(
      errorOf([&] { c->call("Execute", {Variant("create table t(a integer, b text as (printf('%03d', a)))")}); }, &why),
      0)
      << why;
  c->call("Execute", {Variant("insert into t(a) values(7)")});
  EXPECT_EQ(value("select b from t").toString(), "007");
}

}  // namespace
}  // namespace tivel::ado
