// GetUserMenu: the menu items an operator may use, with every item above
// them in the menu tree, computed in a client-side recordset.
#include <set>

#include "fee/interface.h"
#include "fee/module.h"
#include "fee/statements.h"

namespace tivel::gf {
namespace {

// Trim as the menu keys are compared: blanks off both ends.
std::string trimBlanks(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// The trimmed key of a field; a NULL key matches nothing.
bool keyEquals(const com::Variant& field, const std::string& key) {
  return !field.isNull() && trimBlanks(field.toString()) == key;
}

// Moves to the first row unless the recordset is at BOF (empty).
void rewind(ado::Recordset& rs) {
  if (!rs.bof()) rs.moveFirst();
}

// Marks the first menu row whose key is `key` and answers its trimmed parent
// key; "" when no row has the key. A NULL parent key fails.
std::string markRow(ado::Recordset& menu, const std::string& key) {
  rewind(menu);
  for (; !menu.eof(); menu.moveNext()) {
    if (!keyEquals(menu.value("CDBS"), key)) continue;
    menu.setValue("CAN_USE", com::Variant("USE"));
    return trimBlanks(menu.value("SCCD").toString());
  }
  return "";
}

}  // namespace

com::Variant Interface::GetUserMenu(const std::string& pUserId, const std::string& pJH, com::Variant& pErr) {
  pErr = com::Variant("");
  ensureConnected();
  try {
    auto menu = std::make_shared<ado::Recordset>();
    menu->open("SELECT XT_CS_CD.*, SHOWORDER AS CAN_USE FROM XT_CS_CD ORDER BY SHOWORDER", connectionPtr(),
               ado::adOpenDynamic, ado::adLockBatchOptimistic, -1);
    auto rights = std::make_shared<ado::Recordset>();
    rights->open("SELECT CDBS FROM XT_CS_CZY_QX WHERE JH = '" + QuoteSql(pJH) + "' and CZY='" + QuoteSql(pUserId) + "'",
                 connectionPtr(), ado::adOpenDynamic, ado::adLockBatchOptimistic, -1);

    rewind(*menu);
    for (; !menu->eof(); menu->moveNext()) menu->setValue("CAN_USE", com::Variant(""));

    rewind(*rights);
    for (; !rights->eof(); rights->moveNext()) {
      const com::Variant right = rights->value("CDBS");
      if (right.isNull()) continue;
      std::string parent = markRow(*menu, trimBlanks(right.toString()));
      // Up the tree to a top item. The walk also ends where a parent key
      // names no row or comes round again: data that breaks the tree rules
      // must not keep the call running.
      std::set<std::string> seen;
      while (!parent.empty() && seen.insert(parent).second) parent = markRow(*menu, parent);
    }

    rewind(*menu);
    while (!menu->eof()) {
      if (trimBlanks(menu->value("CAN_USE").toString()).empty()) menu->deleteCurrent();
      if (menu->eof()) break;  // the last row left was deleted
      menu->moveNext();
    }
    return com::Variant(com::ObjectPtr(menu));
  } catch (...) {
    WriteFileLog(failureDescription());
    return com::Variant::nothing();
  }
}

}  // namespace tivel::gf
