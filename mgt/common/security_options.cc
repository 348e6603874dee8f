#include "mgt/common/security_options.h"

#include <sys/stat.h>

#include <cctype>
#include <charconv>
#include <climits>

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

DirectoryOptions readDirectoryOptions(const std::string& iniPath) {
  auto key = [&](const char* k) { return profile::readProfileString(iniPath, "LDAP", k); };
  DirectoryOptions d;
  d.url = key("url");
  d.startTls = key("starttls") == "1";
  d.caFile = key("ca_file");
  d.userDn = key("user_dn");
  d.base = key("base");
  d.filter = key("filter");
  d.bindDn = key("bind_dn");
  d.bindPasswordFile = key("bind_password_file");
  d.timeoutMs = wholeNumber(key("timeout_ms"), 1, 600000, d.timeoutMs);
  d.maxBinds = wholeNumber(key("max_binds"), 1, 1024, d.maxBinds);
  d.allUsers = key("all_users") == "1";
  d.fallbackLocal = key("fallback_local") == "1";
  if (std::string a = key("account_attribute"); !a.empty()) d.accountAttribute = a;
  if (std::string a = key("name_attribute"); !a.empty()) d.nameAttribute = a;
  return d;
}

}  // namespace

SecurityOptions readSecurityOptions(const std::string& iniPath) {
  SecurityOptions o;
  o.enforcePolicy = profile::readProfileString(iniPath, "Policy", "enforce") == "1";
  // A lock time that is not a whole number of minutes keeps the default.
  o.lockMinutes = wholeNumber(profile::readProfileString(iniPath, "Policy", "lock_minutes"), 0, INT_MAX, o.lockMinutes);
  o.hashPasswords = lower(profile::readProfileString(iniPath, "Security", "password_hash")) == "argon2id";
  o.totp = lower(profile::readProfileString(iniPath, "Security", "second_factor")) == "totp";
  o.directory = readDirectoryOptions(iniPath);
  return o;
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
