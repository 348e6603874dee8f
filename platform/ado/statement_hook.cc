// The hook sits between Connection/Recordset and the engine, as a backend
// forwarding to the real one, so no engine needs to know about it.
#include "platform/ado/statement_hook.h"

#include "platform/ado/forwarding_backend.h"

namespace tivel::ado {
namespace {

thread_local StatementHook currentHook;

void pass(HookStep step, const std::string& sql) {
  if (currentHook) currentHook(step, sql);
}

class HookedBackend final : public ForwardingBackend {
 public:
  using ForwardingBackend::ForwardingBackend;

  void commit() override {
    try {
      pass(HookStep::Commit, "");
    } catch (...) {
      // A commit that fails leaves no transaction behind, as an engine that
      // refuses a commit rolls it back.
      if (inner().inTransaction()) inner().rollback();
      throw;
    }
    inner().commit();
  }

 private:
  void beforeStatement(const std::string& sql) override { pass(HookStep::Statement, sql); }
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
