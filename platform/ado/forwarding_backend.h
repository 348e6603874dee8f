// A backend that wraps another and passes every call through, for the layers
// that stand between the data-access classes and the engine (the statement
// hook, the key cache). A layer overrides only what it adds to.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ado/backend.h"

namespace tivel::ado {

class ForwardingBackend : public Backend {
 public:
  explicit ForwardingBackend(std::unique_ptr<Backend> inner) : inner_(std::move(inner)) {}

  StatementResult execute(const std::string& sql) override {
    beforeStatement(sql);
    return inner_->execute(sql);
  }
  StatementResult executeReading(const std::string& sql, const std::vector<std::string>& columns) override {
    beforeStatement(sql);
    return inner_->executeReading(sql, columns);
  }
  long executeBound(const std::string& sql, const std::vector<com::Variant>& params) override {
    beforeStatement(sql);
    return inner_->executeBound(sql, params);
  }
  long executeBoundAtMost(const std::string& sql, const std::vector<com::Variant>& params, long limit) override {
    beforeStatement(sql);
    return inner_->executeBoundAtMost(sql, params, limit);
  }
  std::vector<std::string> primaryKey(const std::string& table) override { return inner_->primaryKey(table); }
  std::string quoteIdentifier(const std::string& name) const override { return inner_->quoteIdentifier(name); }
  void lockTable(const std::string& table) override { inner_->lockTable(table); }
  void begin() override { inner_->begin(); }
  void commit() override { inner_->commit(); }
  void rollback() override { inner_->rollback(); }
  bool inTransaction() const override { return inner_->inTransaction(); }
  std::string dialect() const override { return inner_->dialect(); }
  void setTimeout(int seconds) override { inner_->setTimeout(seconds); }
  com::Variant generatedKey(const std::string& table, const std::string& column) override {
    return inner_->generatedKey(table, column);
  }

 protected:
  // Called with the text of every statement, of any execute, before it runs.
  virtual void beforeStatement(const std::string& sql) {}

  Backend& inner() { return *inner_; }

 private:
  std::unique_ptr<Backend> inner_;
};

}  // namespace tivel::ado
