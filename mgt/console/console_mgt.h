// ConsoleMgt: what the administrator's console needs beyond the portal's
// components: its sign-in (a login whose record becomes a session), its
// sessions (the login record and the shared idle clock of consoleSession),
// and the reads no component offers (users a page at a time, a user's login
// records and main organisation, the system attributes' keys, the system log
// a page at a time). TivelMgt.ConsoleMgt is reachable from the console's
// scope only.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ado/recordset.h"
#include "platform/com/object.h"

namespace tivel::mgt {

// How a console sign-in ended.
struct ConsoleSignIn {
  std::string code;           // AdminMgt's login code ("0" accepted)
  bool denied = false;        // the password was right but the user is no administrator
  std::string token;          // the login record (a session unless a code must follow)
  bool secondFactor = false;  // the session waits for the one-time code
  std::string usrNo, account, name;
  int level = -1;              // 0 both groups, 1 system, 2 security administrator
  std::string storedPassword;  // only to derive the session's credential stamp
};

// A session's rows as they stand: the login record, its last activity and its user.
struct ConsoleSessionRow {
  std::string usrNo;
  com::Variant loginTime, lastSeen, avail;
  bool userFound = false;
  std::string account, name, storedPassword;
  com::Variant state;
};

// One of a user's console sessions not yet ended.
struct ConsoleOpenSession {
  std::string token, time, address, lastSeen;
};

// What the system log is filtered by.
struct ConsoleLogQuery {
  std::string from, to;  // days ("YYYY-MM-DD") or minutes ("YYYY-MM-DDTHH:MM"), both included; "" for no bound
  std::string account;   // entries whose text begins with the account ("" for any)
  std::string text;      // entries whose text holds this ("" for any)
  int page = 0;          // counted from 0
  int size = 50;         // entries a page, 1 to 200
};

class ConsoleMgt : public com::Object {
 public:
  const com::ClassInfo& classInfo() const override;

  // ---- the sign-in and sessions (database failures fail the call)

  // AdminMgt's login from `ip`; for an administrator the login record becomes
  // a session active now (unless a one-time code must follow), for anyone
  // else it is ended and the refusal logged. Activity rows older than
  // `lifetimeSeconds` go at the same time.
  ConsoleSignIn signIn(const std::string& account, const std::string& pwd, const std::string& ip,
                       long long lifetimeSeconds);
  // Makes a login record a session active now; drops activity rows older than `lifetimeSeconds`.
  void startSession(const std::string& token, long long lifetimeSeconds);
  // The session's rows, read at once; nullopt when the token names no console session.
  std::optional<ConsoleSessionRow> sessionRow(const std::string& token);
  // Notes the session active now.
  void touchSession(const std::string& token);
  // Whether the login record of the token was made a session.
  bool sessionExists(const std::string& token);
  // Ends the session for every host.
  void endSession(const std::string& token);
  // The user's sessions not yet ended, newest first.
  std::vector<ConsoleOpenSession> openSessions(const std::string& usrNo);
  // AdminMgt.isSysSecUsr of a user: 0, 1 or 2 may use the console, -1 may not.
  int level(const std::string& usrNo);

  // ---- a console change: one transaction on the thread's connection

  // Opens the transaction of a change (fails the call when it cannot).
  void beginChange();
  // Ends the change's transaction: committed when `keep` and the commit
  // succeeds, else rolled back; answers whether it was committed.
  bool endChange(bool keep);

  // ---- the reads: recordsets of fixed read-only statements, values quoted.
  // Each fails the call (std::invalid_argument's text, number -1) for a page
  // or size out of range or a time bound that is no day or minute.

  // Users whose account or name holds `find` (any letter case; "" for all),
  // by account, one page: usr_no, account, name, state, login_count.
  ado::RecordsetPtr usersPage(const std::string& find, int page, int size);
  // How many users usersPage finds for `find`.
  long long usersCount(const std::string& find);
  // The user's latest login records, newest first (1 to 200): login_datetime, login_ip, isAvail.
  ado::RecordsetPtr userLogins(const std::string& usrNo, int limit);
  // The user's organisation memberships: Org_no, isMain (0 the main one), priority.
  ado::RecordsetPtr userOrganisations(const std::string& usrNo);
  // Every system attribute's key and name, by name: Attr_No, name.
  ado::RecordsetPtr systemAttributeKeys();
  // One page of the system log, newest first: Log_no, WDateTime, Mod_name, disc, Log_Type, Msg_Type.
  ado::RecordsetPtr logPage(const ConsoleLogQuery& query);
  // How many entries logPage's filters find.
  long long logCount(const ConsoleLogQuery& query);
  // The password rules of [Policy] in words ("en" or Chinese), "" when none are set.
  std::string passwordRulesText(const std::string& language);

  // ---- another user's access, for the thread's console caller (console_caller.h)

  // The user's console sessions not yet ended, newest first, as a recordset:
  // login_datetime, login_ip, last_seen, is_own (1 for the caller's own session).
  com::Variant getUsrSessions(const std::string& strUsrNo);
  // Ends every console session of the user, for every host, and logs it under
  // the caller's account; lngEnded: how many. Fails for no such user or no caller.
  bool endUsrSessions(const std::string& strUsrNo, com::Variant& lngEnded);
  // Gives the user a new second-factor secret and turns the factor on, logged
  // under the caller's account; the secret, its otpauth:// address and that
  // address's QR code (SVG) come back this once. Fails for no such user or no caller.
  bool enrollUsrTotp(const std::string& strUsrNo, com::Variant& strSecret, com::Variant& strUri, com::Variant& strQr);
};

// The local date and time `secondsAgo` before now, as the database keeps it ("YYYY-MM-DD HH:MM:SS").
std::string consoleTimeText(long long secondsAgo = 0);

}  // namespace tivel::mgt
