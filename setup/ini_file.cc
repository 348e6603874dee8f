#include "setup/ini_file.h"

#include "platform/com/module_path.h"

namespace tivel::setup {
namespace {

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

}  // namespace

std::string iniFilePath(const std::string& name) {
  if (climbsOut(name)) return "";
  return com::componentDirectory(reinterpret_cast<const void*>(&iniFilePath)) + "/../ini/" + name;
}

}  // namespace tivel::setup
