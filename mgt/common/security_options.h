// The opt-in account-security settings of SysTivel.ini: the enforced account
// policy (section [Policy]) and hashed passwords (section [Security]). Both
// are off unless the file turns them on, so a portal without them behaves as
// it always has.
#pragma once

#include <string>

namespace tivel::mgt {

struct SecurityOptions {
  bool enforcePolicy = false;  // [Policy] enforce=1: the policy checks apply their rules
  int lockMinutes = 15;        // [Policy] lock_minutes: how long a login-error lock lasts; 0 = until reset
  bool hashPasswords = false;  // [Security] password_hash=argon2id: passwords are written as Argon2id hashes
};

// The settings as this thread's configuration file holds them now. The file
// is read again only when it changed (a login asks several times).
const SecurityOptions& securityOptions();

// The settings a configuration file holds (read from disk, no cache).
SecurityOptions readSecurityOptions(const std::string& iniPath);

}  // namespace tivel::mgt
