#include "platform/com/module_path.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

namespace tivel::com {

std::string componentDirectory(const void* anchor) {
  if (const char* home = std::getenv("TIVEL_HOME"); home && *home) {
    std::string root = home;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root + "/bin";
  }
  Dl_info info{};
  if (dladdr(anchor, &info) && info.dli_fname) {
    std::error_code ec;
    auto path = std::filesystem::weakly_canonical(std::filesystem::path(info.dli_fname), ec);
    if (ec) path = info.dli_fname;
    return path.parent_path().string();
  }
  return std::filesystem::current_path().string();
}

}  // namespace tivel::com
