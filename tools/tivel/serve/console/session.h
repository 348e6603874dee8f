// Console sessions. A session is the login record (umLogInfo) its sign-in
// wrote, named by the record's token, so any host of a deployment can serve
// it: it is in force while the record's IsAvail is 1, for at most the
// lifetime from the login, and while it was active within the idle time.
// The last activity is kept in the database (consoleSession), written at
// most once a minute a session, so every host applies one idle clock.
// Everything here runs on a batch thread (the components' apartment).
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mgt/console/console_mgt.h"

namespace tivel::tool {

// Section [Console] of SysTivel.ini.
struct ConsoleSettings {
  std::chrono::seconds idle{30 * 60};       // idle_minutes (default 30)
  std::chrono::seconds lifetime{8 * 3600};  // lifetime_hours (default 8)
  std::chrono::seconds recheck{5};          // recheck_seconds: how long a pass of the policy checks holds (0: none)
};

// The settings a configuration file holds; fails (std::runtime_error) for a
// value that is not a positive number (fractions allowed; recheck_seconds a
// whole number from 0 to 300).
ConsoleSettings readConsoleSettings(const std::string& iniPath);

// The signed-in administrator of a session in force.
struct ConsoleUser {
  std::string token;
  std::string usrNo, account, name;
  int level = -1;              // AdminMgt.isSysSecUsr: 0 both groups, 1 system, 2 security administrator
  std::string storedPassword;  // only to derive the session's credential stamp; never sent
};

// The thread's console component (its sign-in, sessions and reads).
std::shared_ptr<mgt::ConsoleMgt> consoleMgt();

// AdminMgt.isSysSecUsr of a user: 0, 1 or 2 may use the console, -1 may not.
int consoleLevel(const std::string& usrNo);

// Makes the login record of a sign-in a console session, active now; the
// activity rows of sessions past their lifetime go at the same time.
void startSession(const std::string& token, const ConsoleSettings& settings);

// The session of a token when it is in force: its login record valid, within
// its lifetime and idle time, its user still an administrator, not frozen or
// deleted (State 2, 3), and still passing the login's policy checks
// (AdminMgt.usrIsAvail from `client`: expiry, lock, address, time; that
// answer is kept for settings.recheck a session). A session that fails is
// ended for every host. Activity is noted.
std::optional<ConsoleUser> currentSession(const std::string& token, const ConsoleSettings& settings,
                                          const std::string& client = "");

// The user's console sessions not yet ended, newest first:
// [{time, address, lastSeen, token}] (the token only to mark the caller's own).
struct OpenSession {
  std::string token, time, address, lastSeen;
};
std::vector<OpenSession> openSessions(const std::string& usrNo);

// Ends every console session of the user, for every host; answers how many.
int endSessionsOf(const std::string& usrNo);

// Whether the login record of the token was made a session (in force or not yet ended).
bool sessionExists(const std::string& token);

// Ends the session for every host: its login record's IsAvail becomes 0.
void endSession(const std::string& token);

}  // namespace tivel::tool
