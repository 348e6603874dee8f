#include "platform/ado/reconnecting_backend.h"

#include <gtest/gtest.h>

#include "platform/ado/constants.h"
#include "platform/ado/without_passwords.h"
#include "platform/com/error.h"

namespace tivel::ado {
namespace {

using namespace std::chrono_literals;

// A server whose sessions can be ended and which can be away.
struct FakeServer {
  bool up = true;
  int opened = 0;                // sessions opened so far
  int deadUpTo = 0;              // sessions numbered up to this one are gone
  std::vector<std::string> ran;  // statements that reached the server, with their session
};

// One session of the fake server: a statement on a gone session fails as
// lost and reaches nothing.
class FakeBackend final : public Backend {
 public:
  explicit FakeBackend(FakeServer& s) : server_(s), session_(++s.opened) {}
  StatementResult execute(const std::string& sql) override {
    reach();
    server_.ran.push_back(std::to_string(session_) + ":" + sql);
    return {};
  }
  long executeBound(const std::string& sql, const std::vector<com::Variant>&) override {
    execute(sql);
    return 1;
  }
  long executeBoundAtMost(const std::string& sql, const std::vector<com::Variant>& p, long) override {
    return executeBound(sql, p);
  }
  std::vector<std::string> primaryKey(const std::string&) override { return {}; }
  std::string quoteIdentifier(const std::string& name) const override { return name; }
  void lockTable(const std::string&) override {}
  void begin() override { inTransaction_ = true; }
  void commit() override {
    reach();
    inTransaction_ = false;
  }
  void rollback() override { inTransaction_ = false; }
  bool inTransaction() const override { return inTransaction_; }
  std::string dialect() const override { return "fake"; }
  void setTimeout(int) override {}
  bool lost() const { return lost_; }

 private:
  void reach() {
    if (session_ <= server_.deadUpTo || !server_.up) {
      lost_ = true;
      com::raise(kProviderError, "ODBC", "server closed the connection unexpectedly (SQLSTATE 08S01)");
    }
  }
  FakeServer& server_;
  int session_;
  bool lost_ = false;
  bool inTransaction_ = false;
};

struct Reconnecting {
  explicit Reconnecting(std::chrono::milliseconds quiet = 1h) : b(reconnecting([this] { return open(); }, quiet)) {}
  OpenedBackend open() {
    if (!server.up) com::raise(kOpenFailed, "ODBC", "Cannot connect: Connection refused (SQLSTATE 08001)");
    auto backend = std::make_unique<FakeBackend>(server);
    const FakeBackend* raw = backend.get();
    return {std::move(backend), [raw] { return raw->lost(); }};
  }
  std::string failure(const std::function<void()>& f) {
    try {
      f();
    } catch (const com::ComError& e) {
      return e.description();
    }
    return "";
  }
  FakeServer server;  // before b, which opens on it
  std::unique_ptr<Backend> b;
};

TEST(ReconnectingBackendTest, ALossFailsOneOperationUnrepeatedAndTheNextRunsOnANewConnection) {
  Reconnecting r;
  r.b->execute("a");
  r.server.deadUpTo = 1;  // the server ended the session
  EXPECT_NE(r.failure([&] { r.b->executeBound("insert b", {}); }).find("08S01"), std::string::npos);
  r.b->execute("c");
  EXPECT_EQ(r.server.ran, (std::vector<std::string>{"1:a", "2:c"}));  // "insert b" never ran again

  // Away for a while: each operation fails with the reason, none waits for a dead session.
  r.server.up = false;
  EXPECT_NE(r.failure([&] { r.b->execute("d"); }).find("08S01"), std::string::npos);
  EXPECT_NE(r.failure([&] { r.b->execute("e"); }).find("Connection refused"), std::string::npos);
  EXPECT_NE(r.failure([&] { r.b->execute("f"); }).find("Connection refused"), std::string::npos);
  r.server.up = true;
  r.b->execute("g");
  EXPECT_EQ(r.server.ran.back(), "3:g");
}

TEST(ReconnectingBackendTest, ATransactionTheLossEndedFailsUntilItsCallerEndsIt) {
  Reconnecting r;
  r.b->begin();
  r.b->execute("insert a");
  r.server.deadUpTo = 1;
  EXPECT_FALSE(r.failure([&] { r.b->execute("insert b"); }).empty());
  // The rest of the batch must not run on a new session outside the transaction.
  EXPECT_EQ(r.failure([&] { r.b->execute("insert c"); }), kTransactionLostText);
  EXPECT_TRUE(r.b->inTransaction());
  EXPECT_EQ(r.failure([&] { r.b->commit(); }), kTransactionLostText);
  EXPECT_FALSE(r.b->inTransaction());
  EXPECT_EQ(r.server.ran, (std::vector<std::string>{"1:insert a"}));

  // Ended by a rollback instead: quietly, and a new transaction opens on a new session.
  r.b->begin();
  r.b->execute("insert d");
  r.server.deadUpTo = 2;
  EXPECT_FALSE(r.failure([&] { r.b->execute("insert e"); }).empty());
  r.b->rollback();
  EXPECT_FALSE(r.b->inTransaction());
  r.b->begin();
  r.b->execute("insert f");
  r.b->commit();
  EXPECT_EQ(r.server.ran.back(), "3:insert f");

  // A commit that meets the loss fails: the caller is never told it committed.
  r.b->begin();
  r.b->execute("insert g");
  r.server.deadUpTo = 3;
  EXPECT_NE(r.failure([&] { r.b->commit(); }).find("08S01"), std::string::npos);
  EXPECT_FALSE(r.b->inTransaction());
  r.b->execute("h");
  EXPECT_EQ(r.server.ran.back(), "4:h");
}

TEST(ReconnectingBackendTest, AQuietConnectionIsTriedBeforeUseOutsideATransaction) {
  Reconnecting r(0ms);
  r.b->execute("a");
  r.server.deadUpTo = 1;
  r.b->execute("b");  // the try found the loss: "b" runs once, on a new session
  EXPECT_EQ(r.server.ran, (std::vector<std::string>{"1:select 1", "1:a", "2:b"}));
  r.b->begin();
  r.server.deadUpTo = 2;
  EXPECT_FALSE(r.failure([&] { r.b->execute("c"); }).empty());  // inside a transaction, no try
  r.b->rollback();
}

TEST(WithoutPasswordsTest, EveryPasswordSpellingIsReplaced) {
  EXPECT_EQ(withoutPasswords("DRIVER=x;UID=u;PWD=s3;cret;DATABASE=d"), "DRIVER=x;UID=u;PWD=***;cret;DATABASE=d");
  EXPECT_EQ(withoutPasswords("pwd={a;b}}c};x=1"), "pwd=***;x=1");
  EXPECT_EQ(withoutPasswords("Password = hush; User ID=u"), "Password = ***; User ID=u");
  EXPECT_EQ(withoutPasswords("host=h password='it''s me' dbname=d"), "host=h password=*** dbname=d");
  EXPECT_EQ(withoutPasswords("PASSWORD=\"q\\\"x\" end"), "PASSWORD=*** end");
  EXPECT_EQ(withoutPasswords("password authentication failed for user \"u\""),
            "password authentication failed for user \"u\"");
  EXPECT_EQ(withoutPasswords("oldpwd=1;pwdx=2;PWD="), "oldpwd=1;pwdx=2;PWD=***");
}

}  // namespace
}  // namespace tivel::ado
