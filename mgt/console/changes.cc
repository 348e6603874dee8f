// A console change is done whole: the batch's first changing call opens a
// transaction on the thread's connection, and its end commits it or rolls it
// back, so a multi-step change is never left half done.
#include "mgt/common/module.h"
#include "mgt/console/console_mgt.h"
#include "platform/ado/connection.h"

namespace tivel::mgt {

void ConsoleMgt::beginChange() { sharedConnection()->beginTrans(); }

bool ConsoleMgt::endChange(bool keep) {
  const ado::ConnectionPtr& db = sharedConnection();
  if (keep) {
    try {
      db->commitTrans();
      return true;
    } catch (const std::exception&) {
    }
  }
  if (db->transactionOpen()) {
    try {
      db->rollbackTrans();
    } catch (const std::exception&) {
    }
  }
  return false;
}

}  // namespace tivel::mgt
