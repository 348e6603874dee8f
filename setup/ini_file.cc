#include "setup/ini_file.h"

#include "platform/profile/profile.h"
#include "setup/identity.h"

namespace tivel::setup {
namespace {

// An absolute path, or one with a ".." part (either slash).
bool climbsOut(const std::string& name) {
  if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return true;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

// The files of the ini directory the gateway reads for its own access: its
// token table, the pages' token and the console's signing key. Whoever
// wrote them would grant itself any scope, or stop the next start.
bool gatewayFile(const std::string& name) {
  std::string last;
  int parts = 0;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (!part.empty() && part != ".") {
      last = part;
      ++parts;
    }
    start = end + 1;
  }
  if (parts != 1) return false;
  for (const char* file : {"serve.tokens", "serve.token", "console.key"})
    if (profile::sameProfileName(last, file)) return true;
  return false;
}

}  // namespace

std::string iniFilePath(const std::string& name) {
  if (climbsOut(name) || gatewayFile(name)) return "";
  return component::directory(identity()) + "/../ini/" + name;
}

bool refusedIniWrite(const std::string& section, const std::string& key, const std::string& value) {
  using profile::sameProfileName;
  if (sameProfileName(section, "DataAccess")) return true;
  if ((sameProfileName(key, "DRIVER") || sameProfileName(key, "PROVIDER")) &&
      value.find_first_of("/\\") != std::string::npos)
    return true;
  // As the reader takes the value: trimmed, without a pair of enclosing quotes.
  std::string file = value;
  file.erase(0, file.find_first_not_of(" \t"));
  file.erase(file.find_last_not_of(" \t") + 1);
  if (file.size() >= 2 && (file.front() == '"' || file.front() == '\'') && file.back() == file.front())
    file = file.substr(1, file.size() - 2);
  return sameProfileName(section, "DBCONN_mdb_drive") && sameProfileName(key, "Database") && climbsOut(file);
}

}  // namespace tivel::setup
