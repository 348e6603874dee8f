// Connection: one open session with a database, created by ProgID
// "ADODB.Connection" or directly.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ado/backend.h"
#include "platform/ado/constants.h"
#include "platform/com/object.h"

namespace tivel::ado {

class Recordset;
using RecordsetPtr = std::shared_ptr<Recordset>;

class Connection : public com::Object {
 public:
  Connection();
  ~Connection() override;
  const com::ClassInfo& classInfo() const override;

  std::string connectionString;
  int32_t commandTimeout = 30;  // seconds
  int32_t cursorLocation = adUseServer;

  // Opens with the given string (or connectionString when empty). Fails with
  // kOpenFailed and the engine's message; fails kOpenObject when already open.
  void open(const std::string& cs = "", const std::string& user = "", const std::string& pwd = "",
            int32_t options = -1);
  int32_t state() const;
  bool isOpen() const { return state() == adStateOpen; }
  // Runs a statement. A query gives an open read-only recordset; any other
  // statement gives a closed recordset and sets *affected.
  RecordsetPtr execute(const std::string& sql, long* affected = nullptr);
  int32_t beginTrans();  // returns the nesting level (1)
  void commitTrans();
  void rollbackTrans();
  // Runs work in a transaction: commits when it returns; when it throws,
  // rolls back and rethrows its failure (a rollback that fails itself, as on
  // a lost connection, does not hide it).
  void inTransaction(const std::function<void()>& work);
  // Whether BeginTrans ran and neither CommitTrans nor RollbackTrans yet.
  bool transactionOpen() const { return transOpen_; }
  void close();

  // The engine, with the current commandTimeout; fails kClosedObject when not open.
  Backend& backend();

 private:
  std::unique_ptr<Backend> backend_;
  bool transOpen_ = false;      // BeginTrans ran and neither CommitTrans nor RollbackTrans yet
  int32_t appliedTimeout_ = 0;  // the commandTimeout the backend last got
};
using ConnectionPtr = std::shared_ptr<Connection>;

}  // namespace tivel::ado
