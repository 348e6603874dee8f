#include "tools/tivel/root_databases.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fee/module.h"
#include "mgt/common/helpers.h"
#include "mgt/common/module.h"

namespace tivel::tool {

namespace fs = std::filesystem;

std::vector<mgt::ArchivedDatabase> rootDatabases(const std::string& root) {
  ::setenv("TIVEL_HOME", fs::absolute(root).lexically_normal().c_str(), 1);
  mgt::resetThreadState();
  gf::resetThreadState();
  std::vector<mgt::ArchivedDatabase> dbs{{"mgt", mgt::GetConnectionString()}};
  if (fs::exists(fs::path(root) / "ini" / "Scrivane.ini")) dbs.push_back({"fee", gf::GetConnectionString()});
  return dbs;
}

std::vector<mgt::ArchivedFile> rootIniFiles(const std::string& root, bool passwords) {
  std::vector<mgt::ArchivedFile> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(root) / "ini", ec)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".ini") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string body = text.str();
    if (!passwords) {
      // Line by line: a "pwd=" or "password=" key (any case, blanks around
      // the key) keeps its key and loses its value.
      std::string kept;
      std::istringstream lines(body);
      std::string line;
      while (std::getline(lines, line)) {
        const bool cr = !line.empty() && line.back() == '\r';
        if (cr) line.pop_back();
        if (size_t eq = line.find('='); eq != std::string::npos) {
          std::string key = line.substr(0, eq);
          key.erase(0, key.find_first_not_of(" \t"));
          key.erase(key.find_last_not_of(" \t") + 1);
          std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
          if (key == "pwd" || key == "password") line = line.substr(0, eq + 1);
        }
        kept += line + (cr ? "\r\n" : "\n");
      }
      body = kept;
    }
    out.push_back({"ini/" + entry.path().filename().string(), body});
  }
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  return out;
}

}  // namespace tivel::tool
