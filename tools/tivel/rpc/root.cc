#include "tools/tivel/rpc/root.h"

#include <cstdlib>
#include <filesystem>

namespace tivel::tool {

void useRoot(const std::string& root) {
  // Absolute, so that a component that changes directory still finds it.
  std::string path = std::filesystem::absolute(root).lexically_normal().string();
  setenv("TIVEL_HOME", path.c_str(), 1);
}

}  // namespace tivel::tool
