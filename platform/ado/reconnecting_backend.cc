#include "platform/ado/reconnecting_backend.h"

#include <mutex>
#include <type_traits>
#include <utility>

#include "platform/ado/constants.h"
#include "platform/com/error.h"

namespace tivel::ado {
namespace {

constexpr const char* kSource = "ADODB.Connection";

std::mutex& observerMutex() {
  static std::mutex m;
  return m;
}

ConnectionObserver& observer() {
  static ConnectionObserver o;
  return o;
}

void tell(ConnectionEvent event, const std::string& reason) {
  ConnectionObserver o;
  {
    std::lock_guard lock(observerMutex());
    o = observer();
  }
  if (!o) return;
  try {
    o(event, reason);
  } catch (...) {
  }
}

class ReconnectingBackend final : public Backend {
 public:
  ReconnectingBackend(Connect connect, std::chrono::milliseconds quiet)
      : connect_(std::move(connect)), quiet_(quiet), lastUse_(Clock::now()) {
    OpenedBackend first = connect_();
    inner_ = std::move(first.backend);
    innerLost_ = std::move(first.lost);
    lastUse_ = Clock::now();
  }

  StatementResult execute(const std::string& sql) override {
    return guarded([&](Backend& b) { return b.execute(sql); });
  }
  StatementResult executeReading(const std::string& sql, const std::vector<std::string>& columns) override {
    return guarded([&](Backend& b) { return b.executeReading(sql, columns); });
  }
  long executeBound(const std::string& sql, const std::vector<com::Variant>& params) override {
    return guarded([&](Backend& b) { return b.executeBound(sql, params); });
  }
  long executeBoundAtMost(const std::string& sql, const std::vector<com::Variant>& params, long limit) override {
    return guarded([&](Backend& b) { return b.executeBoundAtMost(sql, params, limit); });
  }
  std::vector<std::string> primaryKey(const std::string& table) override {
    return guarded([&](Backend& b) { return b.primaryKey(table); });
  }
  std::string quoteIdentifier(const std::string& name) const override { return inner_->quoteIdentifier(name); }
  void lockTable(const std::string& table) override {
    guarded([&](Backend& b) {
      b.lockTable(table);
      return 0;
    });
  }

  void begin() override {
    guarded([](Backend& b) {
      b.begin();
      return 0;
    });
    inTransaction_ = true;
  }

  void commit() override {
    if (transactionLost_) {
      transactionLost_ = false;
      inTransaction_ = false;
      com::raise(kProviderError, kSource, kTransactionLostText);
    }
    inTransaction_ = false;
    // A commit that meets the loss fails: whether the server committed
    // before it went is not known, and the caller is told it failed.
    use([](Backend& b) {
      b.commit();
      return 0;
    });
  }

  void rollback() override {
    inTransaction_ = false;
    if (transactionLost_ || lost_) {
      // The server undid the transaction when the session ended.
      transactionLost_ = false;
      return;
    }
    try {
      use([](Backend& b) {
        b.rollback();
        return 0;
      });
    } catch (const com::ComError&) {
      if (!lost_) throw;
    }
  }

  bool inTransaction() const override { return lost_ ? transactionLost_ : inner_->inTransaction(); }
  std::string dialect() const override { return inner_->dialect(); }
  void setTimeout(int seconds) override {
    timeout_ = seconds;
    timeoutSet_ = true;
    if (!lost_) inner_->setTimeout(seconds);
  }

  // Read right after the insert on the same session: never across a new one.
  com::Variant generatedKey(const std::string& table, const std::string& column) override {
    if (lost_) return {};
    return use([&](Backend& b) { return b.generatedKey(table, column); });
  }

 private:
  using Clock = std::chrono::steady_clock;

  // Runs an operation after making sure there is a connection to run it on.
  template <class Op>
  std::invoke_result_t<Op, Backend&> guarded(Op op) {
    if (transactionLost_) com::raise(kProviderError, kSource, kTransactionLostText);
    if (lost_) {
      reconnect();
    } else if (!inTransaction_ && Clock::now() - lastUse_ >= quiet_) {
      tryQuietConnection();
    }
    return use(op);
  }

  // Runs an operation on the current connection, noting a loss it meets.
  template <class Op>
  std::invoke_result_t<Op, Backend&> use(Op op) {
    try {
      auto result = op(*inner_);
      lastUse_ = Clock::now();
      return result;
    } catch (const com::ComError& e) {
      lastUse_ = Clock::now();
      if (innerLost_()) {
        lost_ = true;
        transactionLost_ = inTransaction_;
        tell(ConnectionEvent::Lost, e.description());
      }
      throw;
    }
  }

  // A connection unused for a while may have been dropped without its
  // knowing: one cheap statement tells, and a lost one is replaced.
  void tryQuietConnection() {
    try {
      inner_->execute("select 1");
      lastUse_ = Clock::now();
      return;
    } catch (const com::ComError& e) {
      if (!innerLost_()) return;  // the operation itself will report what is wrong
      tell(ConnectionEvent::Lost, e.description());
    }
    lost_ = true;
    reconnect();
  }

  // Opens the replacement; when it cannot be opened the operation fails
  // with the reason and the next one tries again.
  void reconnect() {
    OpenedBackend fresh;
    try {
      fresh = connect_();
    } catch (const com::ComError& e) {
      if (!reopenFailed_) tell(ConnectionEvent::ReopenFailed, e.description());
      reopenFailed_ = true;
      throw;
    }
    reopenFailed_ = false;
    tell(ConnectionEvent::Reopened, "");
    if (timeoutSet_) fresh.backend->setTimeout(timeout_);
    inner_ = std::move(fresh.backend);
    innerLost_ = std::move(fresh.lost);
    lost_ = false;
    inTransaction_ = false;
    lastUse_ = Clock::now();
  }

  Connect connect_;
  std::unique_ptr<Backend> inner_;
  std::function<bool()> innerLost_;
  std::chrono::milliseconds quiet_;
  Clock::time_point lastUse_;
  bool lost_ = false;             // the connection is gone; the next operation opens another
  bool inTransaction_ = false;    // begin() ran and neither commit() nor rollback() yet
  bool transactionLost_ = false;  // the loss ended an open transaction the caller has not yet ended
  bool reopenFailed_ = false;     // the last attempt at a new connection failed
  int timeout_ = 0;
  bool timeoutSet_ = false;
};

}  // namespace

void setConnectionObserver(ConnectionObserver o) {
  std::lock_guard lock(observerMutex());
  observer() = std::move(o);
}

std::unique_ptr<Backend> reconnecting(Connect connect, std::chrono::milliseconds quiet) {
  return std::make_unique<ReconnectingBackend>(std::move(connect), quiet);
}

}  // namespace tivel::ado
