#include "platform/ado/recordset.h"

#include <strings.h>

#include <optional>

#include "platform/ado/fields.h"
#include "platform/ado/packed_row.h"
#include "platform/ado/row_writer.h"
#include "platform/com/registry.h"

namespace tivel::ado {
namespace {

constexpr const char* kSource = "ADODB.Recordset";
constexpr int32_t kNoConnection = static_cast<int32_t>(0x800A0E7D);  // 3709

constexpr const char* kClosedText = "Operation is not allowed when the object is closed.";
constexpr const char* kOpenText = "Operation is not allowed when the object is open.";
constexpr const char* kNoCurrentText =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current record.";
constexpr const char* kNotUpdatableText =
    "Current Recordset does not support updating. This may be a limitation of the provider, or of the selected "
    "locktype.";
constexpr const char* kBadArgumentsText =
    "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";
constexpr const char* kNoConnectionText =
    "The connection cannot be used to perform this operation. It is either closed or invalid in this context.";

// One row with what the cursor engine needs to write it back. A row read
// and never edited holds only its packed values: the values with local
// changes and the marks of assigned fields are made at its first edit, so a
// large result costs little more than its values.
struct RowState {
  struct Edit {
    Row changed;                 // the values with the local changes
    std::vector<bool> assigned;  // fields given a value since the row was added (empty: none)
  };
  PackedRow original;          // as the database holds it: last read or written
  std::unique_ptr<Edit> edit;  // once the row was edited
  bool added = false;          // not yet in the database
  bool deleted = false;        // deleted locally
  bool deleteWritten = false;  // and in the database too

  RowState() = default;
  RowState(RowState&&) noexcept = default;
  RowState& operator=(RowState&&) noexcept = default;
  RowState(const RowState& o)
      : original(o.original),
        edit(o.edit ? std::make_unique<Edit>(*o.edit) : nullptr),
        added(o.added),
        deleted(o.deleted),
        deleteWritten(o.deleteWritten) {}
  RowState& operator=(const RowState& o) {
    if (this != &o) *this = RowState(o);
    return *this;
  }

  // The value at i with the local changes.
  com::Variant value(size_t i) const { return edit ? edit->changed[i] : original.at(i); }
  // Every value with the local changes.
  Row current() const { return edit ? edit->changed : original.unpack(); }
  // The values with the local changes, to change.
  Row& changed() {
    if (!edit) edit = std::make_unique<Edit>(Edit{original.unpack(), {}});
    return edit->changed;
  }
  void markAssigned(size_t i) {
    std::vector<bool>& marks = edit->assigned;
    if (marks.empty()) marks.assign(edit->changed.size(), false);
    marks[i] = true;
  }
  const std::vector<bool>& assigned() const {
    static const std::vector<bool> none;
    return edit ? edit->assigned : none;
  }
  bool wasAssigned(size_t i) const { return i < assigned().size() && assigned()[i]; }
  // The local changes are now what the database holds.
  void written() {
    if (edit) original = PackedRow(edit->changed);
    edit.reset();
    added = false;
  }
};

bool rowPending(const RowState& r) {
  if (r.deleted) return !r.added && !r.deleteWritten;
  if (r.added) return true;
  if (!r.edit) return false;
  const Row original = r.original.unpack();
  for (size_t i = 0; i < original.size(); ++i)
    if (!sameStoredValue(original[i], r.edit->changed[i])) return true;
  return false;
}

}  // namespace

// The rows of a result with their local changes. A recordset opened on
// another one shares them, so a write through either is seen by both.
struct RowData {
  std::vector<ColumnInfo> columns;
  std::vector<RowState> rows;
  std::string source;
  std::optional<BaseTable> base;  // resolved at the first write
};

struct Recordset::Impl {
  std::shared_ptr<RowData> data;  // null while closed
  long pos = 0;                   // -1: before the first row; rows.size(): after the last
  int32_t cursorType = adOpenForwardOnly;
  int32_t lockType = adLockReadOnly;
  ConnectionPtr conn;
  // The edit in progress (field assignments or AddNew not yet ended by Update).
  bool editing = false;
  bool editAdded = false;
  RowState backup;  // the row before the edit, for CancelUpdate
  long posBeforeAdd = 0;

  bool batch() const { return lockType == adLockBatchOptimistic; }
  long size() const { return data ? static_cast<long>(data->rows.size()) : 0; }
  bool visible(long i) const { return i >= 0 && i < size() && !data->rows[static_cast<size_t>(i)].deleted; }
  bool anyVisible() const {
    for (long i = 0; i < size(); ++i)
      if (visible(i)) return true;
    return false;
  }
  long nextVisible(long from) const {
    long i = from + 1;
    while (i < size() && !visible(i)) ++i;
    return i;
  }
  long prevVisible(long from) const {
    long i = std::min(from, size()) - 1;
    while (i >= 0 && !visible(i)) --i;
    return i;
  }

  void requireOpen() const {
    if (!data) com::raise(kClosedObject, kSource, kClosedText);
  }
  void requireUpdatable() const {
    requireOpen();
    if (lockType == adLockReadOnly || lockType == adLockUnspecified)
      com::raise(kNotUpdatable, kSource, kNotUpdatableText);
  }
  RowState& currentRow() const {
    requireOpen();
    if (!visible(pos)) com::raise(kNoCurrentRecord, kSource, kNoCurrentText);
    return data->rows[static_cast<size_t>(pos)];
  }
  size_t checkedIndex(int32_t index) const {
    requireOpen();
    if (index < 0 || index >= static_cast<int32_t>(data->columns.size()))
      com::raise(kItemNotFound, kSource,
                 "Item cannot be found in the collection corresponding to the requested name or ordinal.");
    return static_cast<size_t>(index);
  }

  Backend& backend() const {
    if (!conn || !conn->isOpen()) com::raise(kNoConnection, kSource, kNoConnectionText);
    return conn->backend();
  }

  // Writes one row's pending change; the row is unchanged when the write fails.
  void write(RowState& r) {
    if (!rowPending(r)) return;
    Backend& b = backend();
    if (!data->base) data->base = resolveBaseTable(b, data->columns);
    const BaseTable& t = *data->base;
    if (r.deleted) {
      writeDelete(b, t, r.original.unpack());
      r.deleteWritten = true;
      return;
    }
    if (r.added) {
      writeInsert(b, t, r.current(), r.assigned());
      // A key the database numbered reads back, so the row can be edited again.
      if (t.key.size() == 1 && !r.wasAssigned(t.key[0])) {
        com::Variant k = b.generatedKey(t.name, t.columnOf[t.key[0]]);
        if (!k.isEmpty()) r.changed()[t.key[0]] = k;
      }
    } else {
      writeUpdate(b, t, r.original.unpack(), r.current());
    }
    r.written();
  }

  // Ends the edit in progress as ADO does when the cursor leaves the row:
  // a batch recordset keeps it pending, the others write it now.
  void finishEdit() {
    if (!editing) return;
    if (!batch() && visible(pos)) write(data->rows[static_cast<size_t>(pos)]);
    editing = false;
  }

  void beginEdit() {
    if (editing) return;
    backup = data->rows[static_cast<size_t>(pos)];
    editing = true;
    editAdded = false;
  }

  void attach(std::shared_ptr<RowData> d) {
    data = std::move(d);
    editing = false;
    pos = nextVisible(-1);
  }
};

namespace {

// A member that runs one operation of the recordset and answers Empty.
com::Handler action(void (Recordset::*fn)()) {
  return com::bind<Recordset>([fn](Recordset& r, com::Args&) {
    (r.*fn)();
    return com::Variant();
  });
}

std::shared_ptr<Recordset> selfOf(com::Object& self) {
  return std::static_pointer_cast<Recordset>(self.shared_from_this());
}

ConnectionPtr connectionArg(const com::Variant& v) {
  if (v.isString()) {
    auto c = std::make_shared<Connection>();
    c->open(*v.get<std::string>());
    return c;
  }
  com::ObjectPtr o = v.toObject();
  if (!o) return nullptr;
  auto c = std::dynamic_pointer_cast<Connection>(o);
  if (!c) com::raise(kBadArguments, kSource, kBadArgumentsText);
  return c;
}

// Applies the FieldList and Values arguments of AddNew and Update: one
// field and one value, or two arrays of the same length.
void assignFields(Recordset& rs, const com::Args& a) {
  const com::Variant names = com::argOr(a, 0, com::Variant::missing());
  const com::Variant values = com::argOr(a, 1, com::Variant::missing());
  if (names.isMissing() && values.isMissing()) return;
  if (names.isMissing() || values.isMissing()) com::raise(kBadArguments, kSource, kBadArgumentsText);
  if (names.type() == com::VarType::Array) {
    if (values.type() != com::VarType::Array || values.array().size() != names.array().size())
      com::raise(kBadArguments, kSource, kBadArgumentsText);
    for (size_t i = 0; i < names.array().size(); ++i)
      rs.setValue(fieldPosition(rs, names.array()[i]), values.array()[i]);
    return;
  }
  rs.setValue(fieldPosition(rs, names), values);
}

com::Variant nothing() { return com::Variant::nothing(); }

com::ClassInfo buildClass(const char* progid) {
  using com::VarType;
  com::ClassInfo info(progid, "Recordset");
  com::ClassInfo* c = &info;
  c->get("ActiveConnection", {}, com::bind<Recordset>([](Recordset& r, com::Args&) {
           ConnectionPtr conn = r.activeConnection();
           return conn ? com::Variant(com::ObjectPtr(conn)) : nothing();
         }));
  c->put("ActiveConnection", {com::in("value")}, com::bind<Recordset>([](Recordset& r, com::Args& a) {
           r.setActiveConnection(connectionArg(a[0]));
           return com::Variant();
         }));
  c->get("BOF", {}, com::bind<Recordset>([](Recordset& r, com::Args&) { return com::Variant(r.bof()); }));
  c->get("EOF", {}, com::bind<Recordset>([](Recordset& r, com::Args&) { return com::Variant(r.eof()); }));
  c->get("CursorType", {}, com::bind<Recordset>([](Recordset& r, com::Args&) { return com::Variant(r.cursorType()); }));
  c->put("CursorType", {com::in("value", VarType::Long)}, com::bind<Recordset>([](Recordset& r, com::Args& a) {
           r.setCursorType(a[0].toLong());
           return com::Variant();
         }));
  c->get("LockType", {}, com::bind<Recordset>([](Recordset& r, com::Args&) { return com::Variant(r.lockType()); }));
  c->put("LockType", {com::in("value", VarType::Long)}, com::bind<Recordset>([](Recordset& r, com::Args& a) {
           r.setLockType(a[0].toLong());
           return com::Variant();
         }));
  c->get("RecordCount", {},
         com::bind<Recordset>([](Recordset& r, com::Args&) { return com::Variant(r.recordCount()); }));
  c->get("State", {}, com::bind<Recordset>([](Recordset& r, com::Args&) { return com::Variant(r.state()); }));
  c->get("Source", {}, com::bind<Recordset>([](Recordset& r, com::Args&) { return com::Variant(r.source()); }));
  c->get("Fields", {com::opt(com::in("Index"))}, [](com::Object& self, com::Args& a) {
    auto rs = selfOf(self);
    if (a.empty() || a[0].isMissing()) return com::Variant(makeFields(rs));
    return com::Variant(makeField(rs, a[0]));
  });
  c->get("Collect", {com::in("Index")},
         com::bind<Recordset>([](Recordset& r, com::Args& a) { return r.value(fieldPosition(r, a[0])); }));
  c->put("Collect", {com::in("Index"), com::in("value")}, com::bind<Recordset>([](Recordset& r, com::Args& a) {
           r.setValue(fieldPosition(r, a[0]), a[1]);
           return com::Variant();
         }));
  c->method("AddNew", {com::opt(com::in("FieldList")), com::opt(com::in("Values"))},
            com::bind<Recordset>([](Recordset& r, com::Args& a) {
              r.addNew();
              if (com::argOr(a, 0, com::Variant::missing()).isMissing()) return com::Variant();
              assignFields(r, a);
              r.update();
              return com::Variant();
            }));
  c->method("CancelBatch", {com::opt(com::in("AffectRecords", VarType::Long))}, action(&Recordset::cancelBatch));
  c->method("CancelUpdate", {}, action(&Recordset::cancelUpdate));
  c->method("Close", {}, action(&Recordset::close));
  c->method("Delete", {com::opt(com::in("AffectRecords", VarType::Long))},
            com::bind<Recordset>([](Recordset& r, com::Args& a) {
              int32_t affect = com::argOr(a, 0, 1).toLong();
              if (affect != 1) com::raise(kBadArguments, kSource, kBadArgumentsText);
              r.deleteCurrent();
              return com::Variant();
            }));
  c->method("MoveFirst", {}, action(&Recordset::moveFirst));
  c->method("MoveLast", {}, action(&Recordset::moveLast));
  c->method("MoveNext", {}, action(&Recordset::moveNext));
  c->method("MovePrevious", {}, action(&Recordset::movePrevious));
  c->method("Open",
            {com::opt(com::in("Source")), com::opt(com::in("ActiveConnection")),
             com::opt(com::in("CursorType", VarType::Long)), com::opt(com::in("LockType", VarType::Long)),
             com::opt(com::in("Options", VarType::Long))},
            com::bind<Recordset>([](Recordset& r, com::Args& a) {
              r.open(com::argOr(a, 0, com::Variant::missing()), com::argOr(a, 1, com::Variant::missing()),
                     com::argOr(a, 2, -1).toLong(), com::argOr(a, 3, -1).toLong(), com::argOr(a, 4, -1).toLong());
              return com::Variant();
            }));
  c->method("Update", {com::opt(com::in("Fields")), com::opt(com::in("Values"))},
            com::bind<Recordset>([](Recordset& r, com::Args& a) {
              assignFields(r, a);
              r.update();
              return com::Variant();
            }));
  c->method("UpdateBatch", {com::opt(com::in("AffectRecords", VarType::Long))},
            com::bind<Recordset>([](Recordset& r, com::Args& a) {
              int32_t affect = com::argOr(a, 0, 3).toLong();
              if (affect != 3 && affect != 1) com::raise(kBadArguments, kSource, kBadArgumentsText);
              r.updateBatch();
              return com::Variant();
            }));
  return info;
}

const com::ClassInfo& recordsetClass() {
  static const com::ClassInfo info = buildClass("ADODB.Recordset");
  return info;
}

// The recordset library's name for the same class.
const com::ClassInfo& recordLibraryClass() {
  static const com::ClassInfo info = buildClass("ADOR.Recordset");
  return info;
}

const com::Registrar registrar(recordsetClass(), [] { return std::make_shared<Recordset>(); });
const com::Registrar libraryRegistrar(recordLibraryClass(), [] { return std::make_shared<Recordset>(); });

// The rows of a fetched result, none of them changed yet.
std::shared_ptr<RowData> rowDataOf(StatementResult result) {
  auto d = std::make_shared<RowData>();
  d->columns = std::move(result.columns);
  d->rows.resize(result.rows.size());
  for (size_t i = 0; i < result.rows.size(); ++i) d->rows[i].original = std::move(result.rows[i]);
  return d;
}

}  // namespace

Recordset::Recordset() : impl_(std::make_unique<Impl>()) {}
Recordset::~Recordset() = default;

const com::ClassInfo& Recordset::classInfo() const { return recordsetClass(); }

void Recordset::open(const std::string& sql, const ConnectionPtr& conn, int32_t cursorType, int32_t lockType,
                     int32_t options) {
  if (impl_->data) com::raise(kOpenObject, kSource, kOpenText);
  if (conn) impl_->conn = conn;
  if (cursorType != adOpenUnspecified) setCursorType(cursorType);
  if (lockType != adLockUnspecified) setLockType(lockType);
  StatementResult result = impl_->backend().execute(sql);
  // A statement without a result set runs and leaves the recordset closed.
  if (!result.hasRows) return;
  auto d = rowDataOf(std::move(result));
  d->source = sql;
  impl_->attach(std::move(d));
}

void Recordset::openReading(const std::string& sql, const ConnectionPtr& conn,
                            const std::vector<std::string>& columns) {
  if (impl_->data) com::raise(kOpenObject, kSource, kOpenText);
  if (conn) impl_->conn = conn;
  setCursorType(adOpenKeyset);
  setLockType(adLockReadOnly);
  StatementResult result = impl_->backend().executeReading(sql, columns);
  if (!result.hasRows) return;
  auto d = rowDataOf(std::move(result));
  d->source = sql;
  impl_->attach(std::move(d));
}

void Recordset::open(const com::Variant& source, const com::Variant& activeConnection, int32_t cursorType,
                     int32_t lockType, int32_t options) {
  if (impl_->data) com::raise(kOpenObject, kSource, kOpenText);
  if (!activeConnection.isMissing() && !activeConnection.isEmpty())
    setActiveConnection(connectionArg(activeConnection));
  if (source.isString()) {
    open(*source.get<std::string>(), nullptr, cursorType, lockType, options);
    return;
  }
  if (!source.isObject() || source.isNothing()) com::raise(kBadArguments, kSource, kBadArgumentsText);
  auto other = std::dynamic_pointer_cast<Recordset>(source.toObject());
  if (!other) com::raise(kBadArguments, kSource, kBadArgumentsText);
  if (other.get() == this) com::raise(kOpenObject, kSource, kOpenText);
  if (!other->impl_->data) com::raise(kClosedObject, kSource, kClosedText);
  if (cursorType != adOpenUnspecified) setCursorType(cursorType);
  if (lockType != adLockUnspecified) setLockType(lockType);
  // The source's edit in progress is already in its rows; it becomes a
  // pending change of the shared rows.
  other->impl_->editing = false;
  if (!impl_->conn) impl_->conn = other->impl_->conn;  // none named: write where the rows came from
  impl_->attach(other->impl_->data);
}

void Recordset::openResult(StatementResult result, const ConnectionPtr& conn, int32_t cursorType, int32_t lockType) {
  if (impl_->data) com::raise(kOpenObject, kSource, kOpenText);
  impl_->conn = conn;
  impl_->cursorType = cursorType;
  impl_->lockType = lockType;
  auto d = rowDataOf(std::move(result));
  impl_->attach(std::move(d));
}

// Closing drops an edit in progress and every change not yet written.
void Recordset::close() {
  impl_->requireOpen();
  impl_->data.reset();
  impl_->editing = false;
  impl_->pos = 0;
}

int32_t Recordset::state() const { return impl_->data ? adStateOpen : adStateClosed; }

bool Recordset::eof() const {
  impl_->requireOpen();
  return impl_->pos >= impl_->size() || !impl_->anyVisible();
}

bool Recordset::bof() const {
  impl_->requireOpen();
  return impl_->pos < 0 || !impl_->anyVisible();
}

int32_t Recordset::recordCount() const {
  impl_->requireOpen();
  int32_t n = 0;
  for (long i = 0; i < impl_->size(); ++i) n += impl_->visible(i) ? 1 : 0;
  return n;
}

void Recordset::moveFirst() {
  impl_->requireOpen();
  impl_->finishEdit();
  long first = impl_->nextVisible(-1);
  if (first >= impl_->size()) com::raise(kNoCurrentRecord, kSource, kNoCurrentText);
  impl_->pos = first;
}

void Recordset::moveNext() {
  impl_->requireOpen();
  impl_->finishEdit();
  if (eof()) com::raise(kNoCurrentRecord, kSource, kNoCurrentText);
  impl_->pos = impl_->nextVisible(impl_->pos);
}

void Recordset::movePrevious() {
  impl_->requireOpen();
  impl_->finishEdit();
  if (bof()) com::raise(kNoCurrentRecord, kSource, kNoCurrentText);
  impl_->pos = impl_->prevVisible(impl_->pos);
}

void Recordset::moveLast() {
  impl_->requireOpen();
  impl_->finishEdit();
  long last = impl_->prevVisible(impl_->size());
  if (last < 0) com::raise(kNoCurrentRecord, kSource, kNoCurrentText);
  impl_->pos = last;
}

int32_t Recordset::fieldCount() const { return impl_->data ? static_cast<int32_t>(impl_->data->columns.size()) : 0; }

std::string Recordset::fieldName(int32_t index) const {
  size_t i = impl_->checkedIndex(index);
  return impl_->data->columns[i].name;
}

int32_t Recordset::fieldIndex(std::string_view name) const {
  if (!impl_->data) return -1;
  const auto& cols = impl_->data->columns;
  for (size_t i = 0; i < cols.size(); ++i)
    if (cols[i].name.size() == name.size() && strncasecmp(cols[i].name.data(), name.data(), name.size()) == 0)
      return static_cast<int32_t>(i);
  return -1;
}

com::Variant Recordset::value(std::string_view name) const {
  impl_->requireOpen();
  int32_t i = fieldIndex(name);
  if (i < 0)
    com::raise(kItemNotFound, kSource,
               "Item cannot be found in the collection corresponding to the requested name or ordinal.");
  return value(i);
}

com::Variant Recordset::value(int32_t index) const {
  size_t i = impl_->checkedIndex(index);
  return impl_->currentRow().value(i);
}

PackedRow Recordset::packedRow() const {
  const RowState& r = impl_->currentRow();
  return r.edit ? PackedRow(r.edit->changed) : r.original;
}

PackedRow Recordset::takePackedRow() {
  RowState& r = impl_->currentRow();
  return r.edit ? PackedRow(r.edit->changed) : std::move(r.original);
}

com::Variant Recordset::originalValue(int32_t index) const {
  size_t i = impl_->checkedIndex(index);
  return impl_->currentRow().original.at(i);
}

void Recordset::setValue(std::string_view name, const com::Variant& v) {
  impl_->requireOpen();
  int32_t i = fieldIndex(name);
  if (i < 0)
    com::raise(kItemNotFound, kSource,
               "Item cannot be found in the collection corresponding to the requested name or ordinal.");
  setValue(i, v);
}

void Recordset::setValue(int32_t index, const com::Variant& v) {
  size_t i = impl_->checkedIndex(index);
  impl_->requireUpdatable();
  RowState& row = impl_->currentRow();
  if (v.isObject() || v.isMissing() || v.type() == com::VarType::Array)
    com::raise(kBadArguments, kSource, kBadArgumentsText);
  impl_->beginEdit();
  row.changed()[i] = v;
  row.markAssigned(i);
}

void Recordset::addNew() {
  impl_->requireUpdatable();
  impl_->finishEdit();
  size_t n = impl_->data->columns.size();
  RowState r;
  const Row nulls(n, com::Variant::null());
  r.original = PackedRow(nulls);
  r.changed();
  r.added = true;
  impl_->data->rows.push_back(std::move(r));
  impl_->posBeforeAdd = impl_->pos;
  impl_->pos = impl_->size() - 1;
  impl_->editing = true;
  impl_->editAdded = true;
}

void Recordset::update() {
  impl_->requireUpdatable();
  if (!impl_->editing) return;
  impl_->finishEdit();
}

// Writes the pending rows in their order and stops at the first failure: the
// rows written so far are clean, the failed one and those after it stay
// pending (so a caller can look at them, or cancel them).
void Recordset::updateBatch() {
  impl_->requireUpdatable();
  impl_->editing = false;
  impl_->backend();
  for (RowState& r : impl_->data->rows) impl_->write(r);
}

void Recordset::cancelUpdate() {
  impl_->requireOpen();
  if (!impl_->editing) return;
  impl_->editing = false;
  if (impl_->editAdded) {
    RowState& r = impl_->data->rows[static_cast<size_t>(impl_->pos)];
    r.deleted = true;  // an added row dropped again leaves nothing to write
    impl_->pos = impl_->posBeforeAdd;
    return;
  }
  impl_->data->rows[static_cast<size_t>(impl_->pos)] = impl_->backup;
}

void Recordset::cancelBatch() {
  impl_->requireOpen();
  impl_->editing = false;
  for (RowState& r : impl_->data->rows) {
    if (r.added) {
      r.deleted = true;
      continue;
    }
    if (r.deleteWritten) continue;
    r.deleted = false;
    r.edit.reset();
  }
  impl_->pos = impl_->nextVisible(-1);
}

void Recordset::deleteCurrent() {
  impl_->requireUpdatable();
  RowState& r = impl_->currentRow();
  // Deleting the row under edit ends the edit: the row goes, located by the
  // values it was read with.
  impl_->editing = false;
  r.deleted = true;
  if (impl_->batch() || r.added) return;
  try {
    impl_->write(r);
  } catch (...) {
    r.deleted = false;
    throw;
  }
}

int32_t Recordset::cursorType() const { return impl_->cursorType; }
int32_t Recordset::lockType() const { return impl_->lockType; }

void Recordset::setCursorType(int32_t t) {
  if (impl_->data) com::raise(kOpenObject, kSource, kOpenText);
  if (t < adOpenUnspecified || t > adOpenStatic) com::raise(kBadArguments, kSource, kBadArgumentsText);
  impl_->cursorType = t == adOpenUnspecified ? adOpenForwardOnly : t;
}

void Recordset::setLockType(int32_t t) {
  if (impl_->data) com::raise(kOpenObject, kSource, kOpenText);
  if (t < adLockUnspecified || t == 0 || t > adLockBatchOptimistic)
    com::raise(kBadArguments, kSource, kBadArgumentsText);
  impl_->lockType = t == adLockUnspecified ? adLockReadOnly : t;
}

ConnectionPtr Recordset::activeConnection() const { return impl_->conn; }
void Recordset::setActiveConnection(const ConnectionPtr& conn) { impl_->conn = conn; }

std::string Recordset::source() const { return impl_->data ? impl_->data->source : ""; }

std::vector<Row> Recordset::visibleRows() const {
  impl_->requireOpen();
  std::vector<Row> out;
  for (long i = 0; i < impl_->size(); ++i)
    if (impl_->visible(i)) out.push_back(impl_->data->rows[static_cast<size_t>(i)].current());
  return out;
}

com::ObjectPtr Recordset::fields() {
  std::shared_ptr<Recordset> self = std::static_pointer_cast<Recordset>(weak_from_this().lock());
  if (!self) com::raise(kBadArguments, kSource, "A Fields collection needs a recordset held by a shared pointer.");
  return makeFields(std::move(self));
}

}  // namespace tivel::ado
