// tivel version (and tivel --version): the version of this build, the git
// revision it was built from, and the engines and libraries it uses.
#include <iostream>
#include <string>

#include "tivel/build_info.h"
#include "tivel/revision.h"
#include "tools/tivel/command.h"
#include "tools/tivel/version.h"

namespace tivel::tool {

std::string versionText() {
  std::string text =
      "tivel " TIVEL_VERSION " (revision " TIVEL_REVISION ", " TIVEL_BUILD_TYPE ", " TIVEL_COMPILER ")\n";
  text += "engines: embedded SQLite; server databases through ODBC\n";
  text += "built with:";
  const char* sep = " ";
  for (const char* lib : TIVEL_BUILT_WITH) {
    text += sep;
    text += lib;
    sep = ", ";
  }
  return text + "\n";
}

std::string buildVersion() { return TIVEL_VERSION; }
std::string buildRevision() { return TIVEL_REVISION; }

namespace {

const CommandRegistrar reg([](CLI::App& app) {
  // --version prints and exits before any subcommand is required.
  app.set_version_flag("--version", [] {
    std::string text = versionText();
    text.pop_back();
    return text;
  });
  auto* cmd = app.add_subcommand("version", "Print the version, the git revision and the libraries of this build");
  cmd->callback([] { std::cout << versionText(); });
});

}  // namespace
}  // namespace tivel::tool
