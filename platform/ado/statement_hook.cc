// The hook sits between Connection/Recordset and the engine, as a backend
// forwarding to the real one, so no engine needs to know about it.
#include "platform/ado/statement_hook.h"

namespace tivel::ado {
namespace {

thread_local StatementHook currentHook;

void pass(HookStep step, const std::string& sql) {
  if (currentHook) currentHook(step, sql);
}

class HookedBackend final : public Backend {
 public:
  explicit HookedBackend(std::unique_ptr<Backend> inner) : inner_(std::move(inner)) {}

  StatementResult execute(const std::string& sql) override {
    pass(HookStep::Statement, sql);
    return inner_->execute(sql);
  }
  long executeBound(const std::string& sql, const std::vector<com::Variant>& params) override {
    pass(HookStep::Statement, sql);
    return inner_->executeBound(sql, params);
  }
  long executeBoundAtMost(const std::string& sql, const std::vector<com::Variant>& params, long limit) override {
    pass(HookStep::Statement, sql);
    return inner_->executeBoundAtMost(sql, params, limit);
  }
  std::vector<std::string> primaryKey(const std::string& table) override { return inner_->primaryKey(table); }
  std::string quoteIdentifier(const std::string& name) const override { return inner_->quoteIdentifier(name); }
  void begin() override { inner_->begin(); }
  void commit() override {
    try {
      pass(HookStep::Commit, "");
    } catch (...) {
      // A commit that fails leaves no transaction behind, as an engine that
      // refuses a commit rolls it back.
      if (inner_->inTransaction()) inner_->rollback();
      throw;
    }
    inner_->commit();
  }
  void rollback() override { inner_->rollback(); }
  bool inTransaction() const override { return inner_->inTransaction(); }
  std::string dialect() const override { return inner_->dialect(); }
  void setTimeout(int seconds) override { inner_->setTimeout(seconds); }
  com::Variant generatedKey(const std::string& table, const std::string& column) override {
    return inner_->generatedKey(table, column);
  }

 private:
  std::unique_ptr<Backend> inner_;
};

}  // namespace

StatementHook setStatementHook(StatementHook hook) {
  StatementHook previous = std::move(currentHook);
  currentHook = std::move(hook);
  return previous;
}

std::unique_ptr<Backend> hookable(std::unique_ptr<Backend> backend) {
  return std::make_unique<HookedBackend>(std::move(backend));
}

}  // namespace tivel::ado
