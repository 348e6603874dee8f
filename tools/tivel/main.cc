// tivel: the command-line entry to the system. Every subcommand registers
// itself (command.h); this adds them all and reports failures.
#include <exception>
#include <iostream>

#include <CLI/CLI.hpp>

#include "platform/com/error.h"
#include "tools/tivel/command.h"

int main(int argc, char** argv) {
  CLI::App app{"tivel: set up a portal root and call the system's objects from the shell", "tivel"};
  app.require_subcommand(1);
  for (const auto& setup : tivel::tool::commands()) setup(app);
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
    std::cerr << "tivel: " << e.description() << " (source " << e.source() << ", number " << e.number() << ")\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "tivel: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
