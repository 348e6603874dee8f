#include "tools/tivel/command.h"

namespace tivel::tool {

std::vector<CommandSetup>& commands() {
  static std::vector<CommandSetup> list;
  return list;
}

}  // namespace tivel::tool
