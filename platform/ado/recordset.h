// Recordset: rows fetched into memory when opened, with a current position
// and the editing and write-back rules of a client-side cursor engine.
// Created by ProgID "ADODB.Recordset" / "ADOR.Recordset" or directly.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/connection.h"
#include "platform/ado/packed_row.h"

namespace tivel::ado {

class Recordset : public com::Object {
 public:
  Recordset();
  ~Recordset() override;
  const com::ClassInfo& classInfo() const override;

  // Opens from an SQL text on a connection (nullptr: the active connection),
  // with ADO's cursor and lock types; unspecified (-1) keeps the type set
  // before, which is forward-only and read-only on a new recordset.
  void open(const std::string& sql, const ConnectionPtr& conn, int32_t cursorType = adOpenUnspecified,
            int32_t lockType = adLockUnspecified, int32_t options = -1);
  // Opens from a late-bound source: SQL text, or another open Recordset (takes
  // over its rows, columns, base table and pending changes, shared with it: a
  // write through either shows in both); activeConnection a Connection
  // object, a connection string, or Missing/Empty for the active connection.
  void open(const com::Variant& source, const com::Variant& activeConnection, int32_t cursorType, int32_t lockType,
            int32_t options);
  // Opens read-only on an SQL text, reading only the values of the named
  // columns (the others read Empty): for a reader of a few columns of a
  // wide result, which then pays for those only.
  void openReading(const std::string& sql, const ConnectionPtr& conn, const std::vector<std::string>& columns);
  // Opens on rows already fetched (what Connection::execute hands back).
  void openResult(StatementResult result, const ConnectionPtr& conn, int32_t cursorType, int32_t lockType);
  // Closes; an edit in progress and changes not yet written are dropped.
  void close();
  int32_t state() const;
  bool isOpen() const { return state() == adStateOpen; }

  bool eof() const;
  bool bof() const;
  int32_t recordCount() const;  // rows not deleted
  // Moves fail kNoCurrentRecord past either end or on an empty recordset. An
  // edit in progress ends first: written now unless the lock is batch optimistic.
  void moveFirst();
  void moveNext();
  void movePrevious();
  void moveLast();

  int32_t fieldCount() const;
  std::string fieldName(int32_t index) const;  // 0-based
  // Field value of the current row by name (any letter case) or 0-based
  // position; fails kItemNotFound / kNoCurrentRecord.
  com::Variant value(std::string_view name) const;
  com::Variant value(int32_t index) const;
  void setValue(std::string_view name, const com::Variant& v);
  void setValue(int32_t index, const com::Variant& v);
  // Index by name (any case) or -1.
  int32_t fieldIndex(std::string_view name) const;
  // The value of a field of the current row as it was last read or written.
  com::Variant originalValue(int32_t index) const;
  // Every field value of the current row, in field order, packed into one
  // buffer (fails as value() does).
  PackedRow packedRow() const;
  // The same, moved out of the current row, which reads as Empty values
  // afterwards: for a reader that fills something from each row once and
  // then closes (a list of many rows saves a copy and a release a row).
  PackedRow takePackedRow();
  // The statement text the recordset was opened with.
  std::string source() const;
  // The current values of every row not deleted, in order, an edit in
  // progress included; does not move the cursor or end the edit (for hosts
  // that show a recordset's state without changing it).
  std::vector<Row> visibleRows() const;

  void addNew();
  void update();  // optimistic/pessimistic: writes the current row now; batch: ends the edit
  // Writes every pending change in row order and stops at the first failure
  // (kRowNotLocated for a row changed or deleted meanwhile): the rows before
  // it are written and clean, it and the rest stay pending.
  void updateBatch();
  void cancelUpdate();   // drops the edit in progress (an added row goes again)
  void cancelBatch();    // drops every pending change and moves to the first row
  void deleteCurrent();  // optimistic/pessimistic: deletes the row now; batch: at updateBatch

  int32_t cursorType() const;
  int32_t lockType() const;
  // Set before Open (kOpenObject while open); -1 means the default.
  void setCursorType(int32_t type);
  void setLockType(int32_t type);
  ConnectionPtr activeConnection() const;
  void setActiveConnection(const ConnectionPtr& conn);

  // The late-bound Fields collection of this recordset.
  com::ObjectPtr fields();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tivel::ado
