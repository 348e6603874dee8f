#include "mgt/common/security_options.h"

#include <sys/stat.h>

#include <cctype>
#include <charconv>

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

}  // namespace

SecurityOptions readSecurityOptions(const std::string& iniPath) {
  SecurityOptions o;
  o.enforcePolicy = profile::readProfileString(iniPath, "Policy", "enforce") == "1";
  // A lock time that is not a whole number of minutes keeps the default.
  std::string minutes = profile::readProfileString(iniPath, "Policy", "lock_minutes");
  int m = 0;
  auto [end, ec] = std::from_chars(minutes.data(), minutes.data() + minutes.size(), m);
  if (!minutes.empty() && ec == std::errc() && end == minutes.data() + minutes.size() && m >= 0) o.lockMinutes = m;
  o.hashPasswords = lower(profile::readProfileString(iniPath, "Security", "password_hash")) == "argon2id";
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
