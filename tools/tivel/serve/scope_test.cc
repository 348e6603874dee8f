// Named tokens and their scopes: the token file, what a scope lets through,
// the connection rule and the batch deadline, through the gateway on each engine.
#include "tools/tivel/serve/scope.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "mgt/testing/portal.h"
#include "testing/engines.h"
#include "tools/tivel/serve/batch.h"
#include "tools/tivel/serve/test_gateway.h"
#include "tools/tivel/serve/token.h"
#include "tools/tivel/serve/tokens.h"

namespace tivel::tool {
namespace {

using namespace servetest;

TEST(ScopeTest, PresetsPatternsAndExclusions) {
  const Scope pages = Scope::parse("pages");
  EXPECT_TRUE(pages.mayCreate("TivelMgt.UmMgt"));
  EXPECT_TRUE(pages.mayCreate("tivelpublicdb.cUmOrg"));
  EXPECT_TRUE(pages.mayCall("ADODB.Connection", "Open"));
  EXPECT_TRUE(pages.mayCall("TivelMgt.AdminMgt", "getRecordset"));
  EXPECT_FALSE(pages.mayCreate("Tivel.RegClass"));
  EXPECT_FALSE(pages.mayCreate("TivelGF.other"));
  EXPECT_EQ(pages.connections(), ConnectionRule::Own);
  // A wildcard never reaches the installation helper; naming it does.
  EXPECT_FALSE(Scope::parse("*").mayCreate("Tivel.RegClass"));
  EXPECT_FALSE(Scope::parse("Tivel.*").mayCall("Tivel.RegClass", "regComDLL"));
  EXPECT_TRUE(Scope::parse("pages, setup").mayCall("Tivel.RegClass", "regComDLL"));
  // Members: an exclusion wins, in any letter case; a member alone allows that member only.
  const Scope console = Scope::parse("console");
  EXPECT_TRUE(console.mayCreate("TivelMgt.AdminMgt"));
  EXPECT_TRUE(console.mayCall("TivelMgt.AdminMgt", "checkAuth"));
  EXPECT_FALSE(console.mayCall("TivelMgt.AdminMgt", "GETRECORDSET"));
  EXPECT_FALSE(console.mayCall("TivelMgt.AdminMgt", "setRecordset"));
  EXPECT_FALSE(console.mayCreate("ADODB.Connection"));
  // The console's own class: the console preset reaches it, nothing else can.
  EXPECT_TRUE(console.mayCall("TivelMgt.ConsoleMgt", "getUsrPage"));
  EXPECT_FALSE(pages.mayCreate("TivelMgt.ConsoleMgt"));
  EXPECT_FALSE(Scope::parse("*").mayCreate("tivelmgt.consolemgt"));
  EXPECT_THROW(Scope::parse("TivelMgt.ConsoleMgt"), std::invalid_argument);
  EXPECT_THROW(Scope::parse("pages,tivelmgt.CONSOLEMGT:getLogPage"), std::invalid_argument);
  const Scope one = Scope::parse("Tivel.RegClass:ReadIniFile,connect=any");
  EXPECT_TRUE(one.mayCreate("Tivel.RegClass"));
  EXPECT_TRUE(one.mayCall("Tivel.RegClass", "readinifile"));
  EXPECT_FALSE(one.mayCall("Tivel.RegClass", "writeIniFile"));
  EXPECT_EQ(one.connections(), ConnectionRule::Any);
  EXPECT_FALSE(Scope::parse("TivelMgt.*,-TivelMgt.SysMgt").mayCreate("TivelMgt.SysMgt"));
  for (const char* bad :
       {"", "admin", "TivelMgt", "Tivel*.x", "TivelMgt.UmMgt:", "a.b:c-d", "pages,,setup", "connect=all"})
    EXPECT_THROW(Scope::parse(bad), std::invalid_argument) << bad;
}

TEST(ScopeTest, TokensAreAddedListedRevokedAndOnlyTheirHashesKept) {
  tivel::testing::TempDir dir;
  const std::string root = dir.path();
  std::filesystem::create_directories(root + "/ini");
  ASSERT_TRUE(ensureServeToken(root));
  EXPECT_TRUE(registerPagesToken(root));
  EXPECT_FALSE(registerPagesToken(root));
  const std::string pages = readServeToken(root);
  const std::string setup = addToken(root, "installer", "setup");
  EXPECT_EQ(setup.size(), 64u);
  EXPECT_THROW(addToken(root, "installer", "pages"), std::runtime_error);  // taken
  EXPECT_THROW(addToken(root, "pages", "pages"), std::runtime_error);      // serve.token's
  EXPECT_THROW(addToken(root, "bad name", "pages"), std::runtime_error);
  EXPECT_THROW(addToken(root, "x", "nothing"), std::runtime_error);
  struct stat st {};
  ASSERT_EQ(::stat(tokensPath(root).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::ifstream in(tokensPath(root));
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text.find(setup), std::string::npos);
  EXPECT_NE(text.find(sha256Hex(setup)), std::string::npos);
  std::vector<TokenLine> lines = readTokenLines(root);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].name, "pages");
  EXPECT_EQ(lines[1].scope, "setup");

  auto table = TokenTable::load(root);
  ASSERT_NE(table->find(setup), nullptr);
  EXPECT_EQ(table->find(setup)->name, "installer");
  EXPECT_EQ(table->find(pages)->name, "pages");
  EXPECT_EQ(table->find(setup.substr(1)), nullptr);
  // A new serve.token is the pages' token from then on, scope kept.
  std::filesystem::remove(serveTokenPath(root));
  ASSERT_TRUE(ensureServeToken(root));
  EXPECT_TRUE(registerPagesToken(root));
  EXPECT_EQ(TokenTable::load(root)->find(pages), nullptr);
  EXPECT_EQ(TokenTable::load(root)->find(readServeToken(root))->name, "pages");
  revokeToken(root, "installer");
  EXPECT_EQ(TokenTable::load(root)->find(setup), nullptr);
  EXPECT_THROW(revokeToken(root, "installer"), std::runtime_error);
  revokeToken(root, "pages");
  EXPECT_FALSE(std::filesystem::exists(serveTokenPath(root)));
  EXPECT_EQ(TokenTable::load(root)->size(), 0u);
  // Others may not read the file.
  addToken(root, "again", "pages");
  std::filesystem::permissions(tokensPath(root), std::filesystem::perms::others_read,
                               std::filesystem::perm_options::add);
  EXPECT_THROW(TokenTable::load(root), std::runtime_error);
}

// A token file or token in a shape this system never writes is refused,
// naming the file and line: a link in the file's place, a control character.
TEST(ScopeTest, LinkedTokenFilesAndControlCharactersAreRefused) {
  tivel::testing::TempDir dir, elsewhere;
  const std::string root = dir.path();
  std::filesystem::create_directories(root + "/ini");
  auto write = [](const std::string& path, const std::string& text) {
    std::filesystem::remove(path);
    std::ofstream(path) << text;
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  };
  auto message = [&](auto&& f) {
    try {
      f();
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  const std::string hash = sha256Hex("x");
  write(elsewhere.path() + "/tokens", "admin " + hash + " *\n");
  std::filesystem::create_symlink(elsewhere.path() + "/tokens", tokensPath(root));
  EXPECT_NE(message([&] { readTokenLines(root); }).find("symbolic link"), std::string::npos);
  std::filesystem::remove(tokensPath(root));
  write(tokensPath(root), "# comment\nadmin " + hash + " pages" + std::string(1, '\0') + "\n");
  EXPECT_NE(message([&] { readTokenLines(root); }).find("line 2"), std::string::npos);

  const std::string token = randomToken();
  write(serveTokenPath(root), token + std::string(1, '\0') + "\n");
  EXPECT_THROW(readServeToken(root), std::runtime_error);
  write(serveTokenPath(root), token + "\n");
  EXPECT_EQ(readServeToken(root), token);
  std::filesystem::remove(serveTokenPath(root));
  std::filesystem::create_symlink(elsewhere.path() + "/tokens", serveTokenPath(root));
  EXPECT_THROW(readServeToken(root), std::runtime_error);
}

TEST(ScopeTest, RefusedCallsAnswerAnErrorNamingTheScopeAndAreCounted) {
  mgt::testing::Portal portal("sqlite", false);
  std::filesystem::create_directories(portal.root() + "/ini");
  const std::string setup = addToken(portal.root(), "installer", "setup");
  ensureServeToken(portal.root());
  registerPagesToken(portal.root());
  const std::string pages = readServeToken(portal.root());
  ServeOptions o;
  o.workers = 1;
  o.tokens = TokenTable::load(portal.root());
  std::vector<std::string> log;
  Gateway g(o, &log);
  // The installation helper through the pages' token: refused in place, the batch goes on.
  Json a = g.batch(Json::parse(R"([{"id":1,"new":"Tivel.RegClass"},{"id":2,"members":"Tivel.RegClass"},
    {"id":"c","new":"TivelMgt.cPublic"},{"id":3,"object":{"from":"c"},"call":"GetProductName"}])"),
                   pages);
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[0]["error"]["number"], kScopeRefused);
  EXPECT_NE(a[0]["error"]["description"].get<std::string>().find("\"pages\" (pages): Tivel.RegClass"),
            std::string::npos)
      << a[0];
  EXPECT_EQ(a[1]["error"]["number"], kScopeRefused);
  EXPECT_FALSE(a[3].contains("error")) << a[3];
  // The installer's token reaches the helper and nothing else.
  Json b = g.batch(Json::parse(R"([{"id":"r","new":"Tivel.RegClass"},{"id":1,"new":"TivelMgt.UmMgt"}])"), setup);
  EXPECT_EQ(b[0]["result"]["class"], "RegClass");
  EXPECT_EQ(b[1]["error"]["number"], kScopeRefused);

  const std::string metrics = g.client(pages).Get("/metrics")->body;
  EXPECT_NE(metrics.find("tivel_serve_refused_calls_total{token=\"pages\"} 2"), std::string::npos) << metrics;
  EXPECT_NE(metrics.find("tivel_serve_refused_calls_total{token=\"installer\"} 1"), std::string::npos);
  EXPECT_NE(metrics.find("tivel_serve_requests_total{path=\"/rpc\",status=\"200\",token=\"installer\"} 1"),
            std::string::npos);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front().substr(log.front().rfind(' ') + 1), "pages");
}

class ServeScopeDbTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { portal = std::make_unique<mgt::testing::Portal>(GetParam(), true); }
  std::unique_ptr<mgt::testing::Portal> portal;
};

// However a connection is opened inside a batch, the pages' scope lets it
// reach only the root's own database; connect=any lets it reach another.
TEST_P(ServeScopeDbTest, ConnectionsReachOnlyTheRootsOwnDataSources) {
  tivel::testing::ScratchDatabase other(GetParam());
  ServeOptions o;
  o.workers = 1;
  const std::string anyToken(64, 'z');
  auto pagesTable = TokenTable::single("pages", kToken, "pages");
  o.tokens = pagesTable;
  Gateway g(o);
  const Json own = g.batch(Json::parse(R"([{"id":"p","new":"TivelMgt.cPublic"},
    {"id":1,"object":{"from":"p"},"call":"GetDBStr"}])"))[1]["result"];
  ASSERT_TRUE(own.is_string());
  const Json tries = Json::array(
      {Json::parse(R"({"id":"c","new":"ADODB.Connection"})"),
       Json{{"id", "own"}, {"object", {{"from", "c"}}}, {"call", "Open"}, {"args", {own}}},
       Json::parse(R"({"id":"own","object":{"from":"c"},"call":"Close"})"),
       Json{{"id", "open"}, {"object", {{"from", "c"}}}, {"call", "Open"}, {"args", {other.connectionString()}}},
       Json{{"id", "put"},
            {"object", {{"from", "c"}}},
            {"put", "ConnectionString"},
            {"value", other.connectionString()}},
       Json::parse(R"({"id":"then","object":{"from":"c"},"call":"Open"})"),
       Json::parse(R"({"id":"rs","new":"ADODB.Recordset"})"),
       Json{{"id", "rsopen"},
            {"object", {{"from", "rs"}}},
            {"call", "Open"},
            {"args", {"select 1", other.connectionString()}}}});
  Json a = g.batch(tries);
  ASSERT_EQ(a.size(), 8u);
  EXPECT_FALSE(a[1].contains("error")) << a[1];
  for (size_t i : {3, 5, 7}) EXPECT_EQ(a[i]["error"]["number"], kScopeRefused) << i << a[i];
  EXPECT_NE(g.metrics().find("tivel_serve_refused_calls_total{token=\"pages\"} 3"), std::string::npos);

  Gateway any([&] {
    ServeOptions o2;
    o2.workers = 1;
    o2.tokens = TokenTable::single("any", anyToken, "pages,connect=any");
    return o2;
  }());
  Json b = any.batch(tries, anyToken);
  for (size_t i : {3, 7}) EXPECT_FALSE(b[i].contains("error")) << i << b[i];
}

// A statement that never ends is interrupted at the batch's deadline on
// either way in; the thread then serves the next batch.
TEST_P(ServeScopeDbTest, AnEndlessStatementEndsAtTheDeadline) {
  ServeOptions o;
  o.workers = 1;
  o.batch.timeout = std::chrono::milliseconds(1500);
  Gateway g(o);
  // MariaDB ends a recursion after 1000 rounds (max_recursive_iterations);
  // there a join of two sequences of a million numbers runs for hours.
  const std::string endless =
      GetParam() == "mariadb"
          ? "SELECT sum(a.seq * b.seq) FROM seq_1_to_1000000 a, seq_1_to_1000000 b"
          : "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c";
  const Json batches[] = {
      Json::array({Json::parse(R"({"id":"p","new":"TivelMgt.cPublic"})"),
                   Json::parse(R"({"id":"s","object":{"from":"p"},"call":"GetDBStr"})"),
                   Json::parse(R"({"id":"c","new":"ADODB.Connection"})"),
                   Json::parse(R"({"id":1,"object":{"from":"c"},"call":"Open","args":[]})"),
                   Json{{"id", 2}, {"object", {{"from", "c"}}}, {"call", "Execute"}, {"args", {endless}}},
                   Json::parse(R"({"id":3,"new":"TivelMgt.UmMgt"})")}),
      Json::array({Json::parse(R"({"id":"a","new":"TivelMgt.AdminMgt"})"),
                   Json{{"id", 2},
                        {"object", {{"from", "a"}}},
                        {"call", "getRecordset"},
                        {"args", {Json{{"ref", ""}}, endless}}},
                   Json::parse(R"({"id":3,"new":"TivelMgt.UmMgt"})")})};
  for (Json batch : batches) {
    if (batch.size() == 6) {
      // The connection string comes from the first two requests of a batch of its own.
      Json s = g.batch(Json::array({batch[0], batch[1]}));
      batch[3]["args"] = Json::array({s[1]["result"]});
    }
    const auto start = std::chrono::steady_clock::now();
    Json a = g.batch(batch);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 30) << "the statement was not interrupted";
    const Json& interrupted = a[a.size() - 2];
    EXPECT_EQ(interrupted["error"]["number"], kTimedOut) << interrupted;
    EXPECT_NE(interrupted["error"]["description"].get<std::string>().find("interrupted"), std::string::npos);
    EXPECT_EQ(a.back()["error"]["number"], kTimedOut);
    // The same thread answers the next batch.
    EXPECT_EQ(g.batch(Json::parse(R"([{"id":1,"new":"TivelMgt.UmMgt"}])"))[0]["result"]["class"], "UmMgt");
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, ServeScopeDbTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::tool
