#include "mgt/common/security_options.h"

#include <sys/stat.h>

#include <cctype>
#include <charconv>
#include <climits>
#include <optional>

#include "mgt/common/module.h"
#include "platform/profile/profile.h"

namespace tivel::mgt {
namespace {

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// What identifies one version of the file: a rewrite changes its time, size or inode.
struct FileStamp {
  std::string path;
  long long seconds = -1, nanoseconds = 0, size = -1;
  unsigned long long inode = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const std::string& path) {
  FileStamp f;
  f.path = path;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    f.seconds = st.st_mtim.tv_sec;
    f.nanoseconds = st.st_mtim.tv_nsec;
    f.size = st.st_size;
    f.inode = st.st_ino;
  }
  return f;
}

// A whole number within [low, high], or `fallback`.
int wholeNumber(const std::string& text, int low, int high, int fallback) {
  int n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n < low || n > high) return fallback;
  return n;
}

// A switch: 1/yes/true on, 0/no/false off (any letter case); nullopt for
// anything else, "" included.
std::optional<bool> switchOf(const std::string& text) {
  const std::string v = lower(text);
  if (v == "1" || v == "yes" || v == "true") return true;
  if (v == "0" || v == "no" || v == "false") return false;
  return std::nullopt;
}

bool on(const std::string& text) { return switchOf(text).value_or(false); }

DirectoryOptions readDirectoryOptions(const std::string& iniPath) {
  auto key = [&](const char* k) { return profile::readProfileString(iniPath, "LDAP", k); };
  DirectoryOptions d;
  d.url = key("url");
  d.startTls = on(key("starttls"));
  d.caFile = key("ca_file");
  d.userDn = key("user_dn");
  d.base = key("base");
  d.filter = key("filter");
  d.bindDn = key("bind_dn");
  d.bindPasswordFile = key("bind_password_file");
  d.timeoutMs = wholeNumber(key("timeout_ms"), 1, 600000, d.timeoutMs);
  d.maxBinds = wholeNumber(key("max_binds"), 1, 1024, d.maxBinds);
  d.allUsers = on(key("all_users"));
  d.fallbackLocal = on(key("fallback_local"));
  if (std::string a = key("account_attribute"); !a.empty()) d.accountAttribute = a;
  if (std::string a = key("name_attribute"); !a.empty()) d.nameAttribute = a;
  return d;
}

}  // namespace

SecurityOptions readSecurityOptions(const std::string& iniPath) {
  SecurityOptions o;
  o.enforcePolicy = on(profile::readProfileString(iniPath, "Policy", "enforce"));
  // A lock time that is not a whole number of minutes keeps the default.
  o.lockMinutes = wholeNumber(profile::readProfileString(iniPath, "Policy", "lock_minutes"), 0, INT_MAX, o.lockMinutes);
  o.hashPasswords = lower(profile::readProfileString(iniPath, "Security", "password_hash")) == "argon2id";
  o.totp = lower(profile::readProfileString(iniPath, "Security", "second_factor")) == "totp";
  o.directory = readDirectoryOptions(iniPath);
  return o;
}

std::vector<std::string> securitySettingProblems(const std::string& iniPath) {
  std::vector<std::string> problems;
  const auto check = [&](const char* section, const char* key, bool understood, const char* allowed) {
    const std::string v = profile::readProfileString(iniPath, section, key);
    if (!v.empty() && !understood)
      problems.push_back(std::string("[") + section + "] " + key + "=" + v + " is not understood; allowed: " + allowed);
  };
  const auto text = [&](const char* section, const char* key) {
    return profile::readProfileString(iniPath, section, key);
  };
  const auto isSwitch = [&](const char* section, const char* key) {
    check(section, key, switchOf(text(section, key)).has_value(), "1/0, yes/no, true/false");
  };
  const auto isNumber = [&](const char* section, const char* key, int low, int high, const char* allowed) {
    check(section, key, wholeNumber(text(section, key), low, high, low - 1) >= low, allowed);
  };
  isSwitch("Policy", "enforce");
  isNumber("Policy", "lock_minutes", 0, INT_MAX, "a whole number of minutes, 0 or more (0: until reset)");
  check("Security", "password_hash", lower(text("Security", "password_hash")) == "argon2id", "argon2id, or empty");
  check("Security", "second_factor", lower(text("Security", "second_factor")) == "totp", "totp, or empty");
  const std::string url = lower(text("LDAP", "url"));
  check("LDAP", "url", url.rfind("ldap://", 0) == 0 || url.rfind("ldaps://", 0) == 0,
        "ldap://host[:port] or ldaps://host[:port], or empty");
  for (const char* key : {"starttls", "all_users", "fallback_local"}) isSwitch("LDAP", key);
  isNumber("LDAP", "timeout_ms", 1, 600000, "a whole number of milliseconds from 1 to 600000");
  isNumber("LDAP", "max_binds", 1, 1024, "a whole number from 1 to 1024");
  return problems;
}

const SecurityOptions& securityOptions() {
  thread_local FileStamp seen;
  thread_local SecurityOptions options;
  FileStamp now = stampOf(configPath());
  if (!(now == seen)) {
    options = readSecurityOptions(now.path);
    seen = now;
  }
  return options;
}

}  // namespace tivel::mgt
