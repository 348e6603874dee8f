// tivel totp enroll ACCOUNT: a new second-factor secret for the account, and
// the otpauth:// address (and, on a terminal, its QR code) for an
// authenticator app. tivel totp disable ACCOUNT: the factor off again.
#include <qrencode.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>

#include "mgt/admin/second_factor.h"
#include "mgt/common/module.h"
#include "mgt/common/security_options.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "platform/com/variant.h"
#include "records/record.h"
#include "tools/tivel/command.h"

namespace tivel::tool {
namespace {

// The portal user of an account, after pointing the components at the root.
std::string userOf(const std::string& root, const std::string& account, const char* command) {
  if (!root.empty()) ::setenv("TIVEL_HOME", std::filesystem::absolute(root).c_str(), 1);
  mgt::resetThreadState();
  mgt::startUp();
  com::ObjectPtr um = com::CreateObject("TivelMgt.UmMgt");
  auto user = records::recordArg(um->call("getUsrByAccount", {com::Variant(account)}), "cUmUsr");
  if (!user) {
    std::cerr << "tivel totp " << command << ": no user has the account " << account << "\n";
    throw CLI::RuntimeError(1);
  }
  return user->get("Usr_No").toString();
}

// The QR code of the text in half-block characters, light modules drawn, so
// it reads on a dark terminal; "" when it cannot be made.
std::string qrText(const std::string& text) {
  QRcode* code = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
  if (!code) return "";
  const int margin = 2, size = code->width + 2 * margin;
  auto light = [&](int x, int y) {
    x -= margin, y -= margin;
    if (x < 0 || y < 0 || x >= code->width || y >= code->width) return true;
    return (code->data[y * code->width + x] & 1) == 0;
  };
  std::string out;
  for (int y = 0; y < size; y += 2) {
    for (int x = 0; x < size; ++x) {
      bool top = light(x, y), bottom = y + 1 < size ? light(x, y + 1) : true;
      out += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
    }
    out += "\n";
  }
  QRcode_free(code);
  return out;
}

void run(const std::string& command, const std::function<void()>& body) {
  try {
    body();
    mgt::resetThreadState();
  } catch (const com::ComError& e) {
    std::cerr << "tivel totp " << command << ": " << com::describe(e) << " (" << e.source() << ", " << e.number()
              << ")\n";
    throw CLI::RuntimeError(1);
  }
}

const CommandRegistrar reg([](CLI::App& app) {
  auto* cmd = app.add_subcommand("totp", "The second factor: one-time codes from an authenticator app");
  cmd->require_subcommand(1);

  auto* enroll = cmd->add_subcommand("enroll", "Give an account a new secret and turn the second factor on for it");
  auto account = std::make_shared<std::string>();
  auto root = std::make_shared<std::string>();
  auto issuer = std::make_shared<std::string>("Tivel");
  auto qr = std::make_shared<bool>(false);
  enroll->add_option("ACCOUNT", *account, "The portal account")->required();
  enroll->add_option("--root", *root, "Portal root R (default: the installation's own)");
  enroll->add_option("--issuer", *issuer, "The name the authenticator app shows")->capture_default_str();
  enroll->add_flag("--qr", *qr, "Print the QR code even when standard output is no terminal");
  enroll->callback([=] {
    run("enroll", [&] {
      std::string usrNo = userOf(*root, *account, "enroll");
      std::string secret = mgt::second_factor::enroll(usrNo);
      std::string uri = mgt::second_factor::provisioningUri(*issuer, *account, secret);
      std::cout << "secret:  " << secret << "\n"
                << "address: " << uri << "\n";
      if (*qr || isatty(STDOUT_FILENO)) std::cout << qrText(uri);
      if (!mgt::securityOptions().totp)
        std::cout << "note: [Security] second_factor=totp is not set in " << mgt::configPath()
                  << ": loginAgain does not ask for codes yet\n";
    });
  });

  auto* disable = cmd->add_subcommand("disable", "Turn the second factor off for an account and delete its secret");
  auto offAccount = std::make_shared<std::string>();
  auto offRoot = std::make_shared<std::string>();
  disable->add_option("ACCOUNT", *offAccount, "The portal account")->required();
  disable->add_option("--root", *offRoot, "Portal root R (default: the installation's own)");
  disable->callback([=] {
    run("disable", [&] {
      mgt::second_factor::disable(userOf(*offRoot, *offAccount, "disable"));
      std::cout << "second factor off for " << *offAccount << "\n";
    });
  });
});

}  // namespace
}  // namespace tivel::tool
