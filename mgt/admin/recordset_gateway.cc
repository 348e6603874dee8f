// The generic recordset gateway: pages read any result set of the management
// database as a batch-optimistic recordset and write back statements and
// edited recordsets in one call. The gateway runs its caller's own SQL by
// design; what it guarantees is the write: pending changes go through the
// data-access layer's update criteria (a row changed meanwhile fails the
// write, never a silent overwrite), an array is all or nothing, and every
// failure leaves exactly one system log entry.
#include <exception>

#include "mgt/admin/admin_mgt.h"
#include "mgt/common/module.h"
#include "mgt/common/trace.h"
#include "platform/ado/recordset.h"

namespace tivel::mgt {
namespace {

using com::Variant;

// The description of the failure being handled, as a caller would read it.
std::string currentFailure() { return com::currentFailureDescription("Unknown error"); }

// The element counter of a batch is a 16-bit integer: an array whose upper
// bound reaches 32767 overflows it, inside the transaction, so the whole
// batch fails and is rolled back. Kept because callers may rely on one call
// never carrying more.
constexpr size_t kMaxElements = 32767;

// A working recordset on the shared connection, batch optimistic, so a
// recordset opened on it takes over the caller's rows and pending changes.
ado::RecordsetPtr workingRecordset(const ado::ConnectionPtr& db) {
  auto rs = std::make_shared<ado::Recordset>();
  rs->setActiveConnection(db);
  rs->setLockType(ado::adLockBatchOptimistic);
  return rs;
}

// Submits the pending changes of the recordset held by `source` on the shared
// connection.
void writeBack(ado::Recordset& work, const Variant& source) {
  work.open(source, Variant::missing(), ado::adOpenUnspecified, ado::adLockUnspecified, -1);
  work.updateBatch();
  work.close();
}

// One element of a batch: a recordset's pending changes, or a statement text.
void runElement(ado::Recordset& work, const ado::ConnectionPtr& db, const Variant& element) {
  if (element.isObject())
    writeBack(work, element);
  else
    db->execute(element.toString());
}

}  // namespace

Variant AdminMgt::getRecordset(Variant& pErr, const Variant& pSQL) {
  try {
    auto rs = std::make_shared<ado::Recordset>();
    rs->open(pSQL, Variant(std::static_pointer_cast<com::Object>(sharedConnection())), ado::adOpenKeyset,
             ado::adLockBatchOptimistic, -1);
    pErr = Variant("");
    return Variant(std::static_pointer_cast<com::Object>(rs));
  } catch (...) {
    traceTrapped("Nothing", __func__);
    std::string description = currentFailure();
    logEvent(description);
    pErr = Variant(description);
    return Variant::nothing();
  }
}

bool AdminMgt::setRecordset(std::string& pErr, const Variant& pVar) {
  try {
    const ado::ConnectionPtr& db = sharedConnection();
    auto work = workingRecordset(db);
    if (pVar.type() == com::VarType::Array) {
      const Variant::Array& items = pVar.array();
      if (items.empty()) {
        pErr = "参数必须大于或等于1";
        return false;
      }
      // Every statement and write-back of this call, or none.
      db->inTransaction([&] {
        if (items.size() > kMaxElements) com::raise(com::kOverflow, "TivelMgt.AdminMgt.setRecordset", "Overflow");
        for (const Variant& element : items) runElement(*work, db, element);
      });
      return true;
    }
    // A single recordset or statement runs without a transaction of its own;
    // a page that needs a recordset's rows written all or nothing passes it
    // as a one-element array.
    runElement(*work, db, pVar);
    return true;
  } catch (...) {
    traceTrapped("False", __func__);
    std::string description = currentFailure();
    logEvent(description);
    pErr = description;
    return false;
  }
}

}  // namespace tivel::mgt
