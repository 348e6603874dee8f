#include "platform/com/module_path.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

namespace tivel::com {

std::string componentDirectoryOf(const std::string& libraryPath) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path path = fs::weakly_canonical(fs::path(libraryPath), ec);
  if (ec) path = libraryPath;
  fs::path dir = path.parent_path();
  // Installed: P/bin/tivel and P/lib/tivel/*.so, with ini/, log/ and db/ in P.
  if (dir.filename() == "tivel" && dir.parent_path().filename() == "lib") {
    fs::path prefix = dir.parent_path().parent_path();
    if (prefix == "/usr") return std::string(kSystemRoot) + "/bin";
    return (prefix / "bin").string();
  }
  return dir.string();
}

std::string componentDirectory(const void* anchor) {
  if (const char* home = std::getenv("TIVEL_HOME"); home && *home) {
    std::string root = home;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root + "/bin";
  }
  Dl_info info{};
  if (dladdr(anchor, &info) && info.dli_fname) return componentDirectoryOf(info.dli_fname);
  return std::filesystem::current_path().string();
}

}  // namespace tivel::com
