// The opt-in account-security settings of SysTivel.ini: the enforced account
// policy (section [Policy]), hashed passwords and the second factor (section
// [Security]) and directory login (section [LDAP]). All are off unless the
// file turns them on, so a portal without them behaves as it always has.
#pragma once

#include <string>
#include <vector>

namespace tivel::mgt {

// Section [LDAP]: the password of the users it covers is checked by a bind to
// a directory. On when `url` is set. The service account's password is read
// from bind_password_file (owner-only) when a login needs it, never kept here.
struct DirectoryOptions {
  std::string url;                       // ldap://host[:port] or ldaps://host[:port]; "" = off
  bool startTls = false;                 // starttls=1: ldap:// must switch to TLS before anything is sent
  std::string caFile;                    // ca_file: the authorities a server certificate must come from
  std::string userDn;                    // user_dn: a DN template with {account}; or else:
  std::string base;                      // base: where the entry of an account is searched
  std::string filter;                    // filter: a search filter with {account}, e.g. (uid={account})
  std::string bindDn;                    // bind_dn: the account that searches ("" = anonymous)
  std::string bindPasswordFile;          // bind_password_file: its password, first line of an owner-only file
  int timeoutMs = 5000;                  // timeout_ms: the most one check may take, all steps included
  int maxBinds = 4;                      // max_binds: checks talking to the directory at once in this process
  bool allUsers = false;                 // all_users=1: every user, not only those with LdapAcnt
  bool fallbackLocal = false;            // fallback_local=1: an unreachable directory falls back to the stored password
  std::string accountAttribute = "uid";  // account_attribute: the entry's account (tivel ldap import)
  std::string nameAttribute = "cn";      // name_attribute: the entry's name (tivel ldap import)
  bool enabled() const { return !url.empty(); }
};

struct SecurityOptions {
  bool enforcePolicy = false;  // [Policy] enforce=1: the policy checks apply their rules
  int lockMinutes = 15;        // [Policy] lock_minutes: how long a login-error lock lasts; 0 = until reset
  bool hashPasswords = false;  // [Security] password_hash=argon2id: passwords are written as Argon2id hashes
  bool totp = false;           // [Security] second_factor=totp: loginAgain demands a one-time code of IsPwdTwo users
  DirectoryOptions directory;  // [LDAP]
};

// The settings as this thread's configuration file holds them now. The file
// is read again only when it changed (a login asks several times).
const SecurityOptions& securityOptions();

// The settings a configuration file holds (read from disk, no cache). A
// value it does not understand reads as the default (off);
// securitySettingProblems names each such value.
SecurityOptions readSecurityOptions(const std::string& iniPath);

// One sentence for each value of [Policy], [Security] and [LDAP] that is not
// understood, naming the key and the values allowed; empty when all are.
// Switches take 1/0, yes/no, true/false (any letter case).
std::vector<std::string> securitySettingProblems(const std::string& iniPath);

}  // namespace tivel::mgt
