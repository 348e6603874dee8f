#include "tools/tivel/command.h"

#include <filesystem>

#include "platform/com/module_path.h"

namespace tivel::tool {

std::vector<CommandSetup>& commands() {
  static std::vector<CommandSetup> list;
  return list;
}

std::string defaultRoot() {
  // The components' own directory is R/bin; the address anchors the lookup
  // in the platform library, which every subcommand links.
  std::string bin = com::componentDirectory(reinterpret_cast<const void*>(&com::componentDirectory));
  return std::filesystem::path(bin).parent_path().string();
}

}  // namespace tivel::tool
