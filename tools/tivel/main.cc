// tivel: the command-line entry to the system. Every subcommand registers
// itself (command.h); this adds them all and reports failures.
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "platform/com/error.h"
#include "tools/tivel/command.h"

namespace {

// A --root must name a portal root: without ini/SysTivel.ini the components
// would start on nothing and their log would be made there.
std::string portalRootCheck(const std::string& root) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(std::filesystem::path(root) / "ini" / "SysTivel.ini", ec)) return "";
  return root + " is no portal root: it holds no ini/SysTivel.ini (tivel init makes one)";
}

// `tivel rpc` and `tivel setup show` also serve the installation helper,
// whose roots hold its own INI files in ini/ but no SysTivel.ini.
std::string rootCheck(const std::string& root) {
  std::error_code ec;
  if (std::filesystem::is_directory(std::filesystem::path(root) / "ini", ec)) return "";
  return root + " is no root: it holds no ini/ directory (tivel init makes a portal root)";
}

// Every subcommand's --root but those of init and restore, which make the
// root (restore from an archive's INI files), is checked before the
// subcommand runs.
void checkRoots(CLI::App& app) {
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    if (sub->get_name() == "init" || sub->get_name() == "restore") continue;
    const bool helper = sub->get_name() == "rpc" || (sub->get_name() == "show" && app.get_name() == "setup");
    if (CLI::Option* root = sub->get_option_no_throw("--root"))
      root->check(CLI::Validator(helper ? rootCheck : portalRootCheck, "PORTAL_ROOT", "portal root"));
    checkRoots(*sub);
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"tivel: set up a portal root and call the system's objects from the shell", "tivel"};
  app.require_subcommand(1);
  for (const auto& setup : tivel::tool::commands()) setup(app);
  checkRoots(app);
  // CLI11 reports an unknown first word only as a missing subcommand; name it.
  if (argc > 1 && argv[1][0] != '-') {
    bool known = false;
    for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
      known = known || sub->get_name() == argv[1];
    if (!known) {
      std::cerr << "tivel: unknown subcommand '" << argv[1] << "'\nRun with --help for more information.\n";
      return 2;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::RuntimeError& e) {
    return app.exit(e);  // a subcommand's own status: 1 refused or failed, 2 refused login
  } catch (const CLI::ParseError& e) {
    // --help and --version end with 0; every mistake on the command line
    // (CLI11 numbers them 101 to 115) is the documented usage status 2.
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  } catch (const tivel::com::ComError& e) {
    std::cerr << "tivel: " << tivel::com::describe(e) << " (source " << e.source() << ", number " << e.number()
              << ")\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "tivel: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
