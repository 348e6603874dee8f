#include "platform/ado/connection.h"

#include "platform/ado/recordset.h"
#include "platform/com/registry.h"

namespace tivel::ado {
namespace {

constexpr const char* kSource = "ADODB.Connection";

std::shared_ptr<Connection> selfOf(com::Object& self) {
  return std::static_pointer_cast<Connection>(self.shared_from_this());
}

const com::ClassInfo& connectionClass() {
  using com::VarType;
  static const com::ClassInfo info = [] {
    com::ClassInfo c("ADODB.Connection", "Connection");
    c.get("ConnectionString", {},
          com::bind<Connection>([](Connection& s, com::Args&) { return com::Variant(s.connectionString); }));
    c.put("ConnectionString", {com::in("value", VarType::String)},
          com::bind<Connection>([](Connection& s, com::Args& a) {
            if (s.isOpen()) com::raise(kOpenObject, kSource, "Operation is not allowed when the object is open.");
            s.connectionString = a[0].toString();
            return com::Variant();
          }));
    c.get("CommandTimeout", {},
          com::bind<Connection>([](Connection& s, com::Args&) { return com::Variant(s.commandTimeout); }));
    c.put("CommandTimeout", {com::in("value", VarType::Long)}, com::bind<Connection>([](Connection& s, com::Args& a) {
            int32_t t = a[0].toLong();
            if (t < 0) com::raise(kBadArguments, kSource, "The command time-out cannot be negative.");
            s.commandTimeout = t;
            return com::Variant();
          }));
    c.get("CursorLocation", {},
          com::bind<Connection>([](Connection& s, com::Args&) { return com::Variant(s.cursorLocation); }));
    c.put("CursorLocation", {com::in("value", VarType::Long)}, com::bind<Connection>([](Connection& s, com::Args& a) {
            int32_t v = a[0].toLong();
            if (v != adUseServer && v != adUseClient)
              com::raise(
                  kBadArguments, kSource,
                  "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.");
            s.cursorLocation = v;
            return com::Variant();
          }));
    c.get("State", {}, com::bind<Connection>([](Connection& s, com::Args&) { return com::Variant(s.state()); }));
    c.method("Open",
             {com::opt(com::in("ConnectionString", VarType::String)), com::opt(com::in("UserID", VarType::String)),
              com::opt(com::in("Password", VarType::String)), com::opt(com::in("Options", VarType::Long))},
             com::bind<Connection>([](Connection& s, com::Args& a) {
               s.open(com::argOr(a, 0, "").toString(), com::argOr(a, 1, "").toString(), com::argOr(a, 2, "").toString(),
                      com::argOr(a, 3, -1).toLong());
               return com::Variant();
             }));
    c.method("Execute",
             {com::in("CommandText", VarType::String), com::opt(com::ref("RecordsAffected")),
              com::opt(com::in("Options", VarType::Long))},
             [](com::Object& self, com::Args& a) {
               long affected = 0;
               RecordsetPtr rs = selfOf(self)->execute(a[0].toString(), &affected);
               if (a.size() > 1 && !a[1].isMissing()) a[1] = com::Variant(static_cast<int32_t>(affected));
               return com::Variant(com::ObjectPtr(rs));
             });
    c.method("BeginTrans", {},
             com::bind<Connection>([](Connection& s, com::Args&) { return com::Variant(s.beginTrans()); }));
    c.method("CommitTrans", {}, com::bind<Connection>([](Connection& s, com::Args&) {
               s.commitTrans();
               return com::Variant();
             }));
    c.method("RollbackTrans", {}, com::bind<Connection>([](Connection& s, com::Args&) {
               s.rollbackTrans();
               return com::Variant();
             }));
    c.method("Close", {}, com::bind<Connection>([](Connection& s, com::Args&) {
               s.close();
               return com::Variant();
             }));
    return c;
  }();
  return info;
}

const com::Registrar registrar(connectionClass(), [] { return std::make_shared<Connection>(); });

}  // namespace

Connection::Connection() = default;
Connection::~Connection() = default;

const com::ClassInfo& Connection::classInfo() const { return connectionClass(); }

void Connection::open(const std::string& cs, const std::string& user, const std::string& pwd, int32_t options) {
  if (backend_) com::raise(kOpenObject, kSource, "Operation is not allowed when the object is open.");
  if (!cs.empty()) connectionString = cs;
  std::string full = connectionString;
  // A user and password given to Open count as if the string named them, in
  // the keys of the string's own form.
  ConnectionString parsed = ConnectionString::parse(full);
  bool odbcForm = !parsed.has("Provider") && (parsed.has("dsn") || parsed.has("DRIVER"));
  if (!user.empty()) full += (odbcForm ? ";UID=" : ";User ID=") + user;
  if (!pwd.empty()) full += (odbcForm ? ";PWD=" : ";Password=") + pwd;
  backend_ = openBackend(full, commandTimeout);
  appliedTimeout_ = commandTimeout;
}

int32_t Connection::state() const { return backend_ ? adStateOpen : adStateClosed; }

RecordsetPtr Connection::execute(const std::string& sql, long* affected) {
  StatementResult result = backend().execute(sql);
  auto rs = std::make_shared<Recordset>();
  if (result.hasRows) {
    if (affected) *affected = -1;
    auto self = std::static_pointer_cast<Connection>(weak_from_this().lock());
    rs->openResult(std::move(result), self, adOpenForwardOnly, adLockReadOnly);
  } else if (affected) {
    *affected = result.affected;
  }
  return rs;
}

int32_t Connection::beginTrans() {
  Backend& b = backend();
  if (transOpen_ || b.inTransaction())
    com::raise(kProviderError, kSource, "Only one transaction can be active on this session.");
  b.begin();
  transOpen_ = true;
  return 1;
}

void Connection::commitTrans() {
  Backend& b = backend();
  if (!transOpen_) com::raise(kProviderError, kSource, "No transaction is active.");
  try {
    b.commit();
  } catch (...) {
    // A failed commit may have ended the transaction (a lost connection, a
    // driver that rolls back what it could not commit) or kept it (a busy
    // embedded database): the books follow the engine.
    transOpen_ = b.inTransaction();
    throw;
  }
  transOpen_ = false;
}

void Connection::rollbackTrans() {
  Backend& b = backend();
  if (!transOpen_) com::raise(kProviderError, kSource, "No transaction is active.");
  // The engine may have ended the transaction itself after a failure; the
  // rollback then only closes the books.
  transOpen_ = false;
  if (b.inTransaction()) b.rollback();
}

void Connection::inTransaction(const std::function<void()>& work) {
  beginTrans();
  try {
    work();
    commitTrans();
  } catch (...) {
    try {
      rollbackTrans();
    } catch (...) {
    }
    throw;
  }
}

void Connection::close() {
  if (!backend_) com::raise(kClosedObject, kSource, "Operation is not allowed when the object is closed.");
  // An open transaction ends with the connection, undone.
  std::unique_ptr<Backend> b = std::move(backend_);
  transOpen_ = false;
  if (b->inTransaction()) b->rollback();
}

// commandTimeout is a plain member, so a change after Open reaches the
// engine with the next use of the connection.
Backend& Connection::backend() {
  if (!backend_) com::raise(kClosedObject, kSource, "Operation is not allowed when the object is closed.");
  if (appliedTimeout_ != commandTimeout) {
    backend_->setTimeout(commandTimeout);
    appliedTimeout_ = commandTimeout;
  }
  return *backend_;
}

}  // namespace tivel::ado
