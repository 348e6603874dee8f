#include "tools/tivel/admin_command.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "mgt/common/password_rules.h"
#include "mgt/common/collection.h"
#include "mgt/common/module.h"
#include "platform/codes/result_codes.h"
#include "platform/com/error.h"
#include "platform/com/registry.h"
#include "tools/tivel/command.h"
#include "tools/tivel/password.h"

namespace tivel::tool::admin {

void addCommon(CLI::App* cmd, Common& common) {
  cmd->add_option("--root", common.root, "Portal root R (default: the installation's own)");
  cmd->add_flag("--json", common.json, "One JSON document on standard output instead of text");
}

void run(const std::string& command, const Common& common, const std::function<void(Components&)>& body) {
  const std::string root =
      std::filesystem::absolute(common.root.empty() ? defaultRoot() : common.root).lexically_normal().string();
  ::setenv("TIVEL_HOME", root.c_str(), 1);
  try {
    mgt::resetThreadState();
    Components c;
    c.um = std::dynamic_pointer_cast<mgt::UmMgt>(com::CreateObject("TivelMgt.UmMgt"));
    c.admin = std::dynamic_pointer_cast<mgt::AdminMgt>(com::CreateObject("TivelMgt.AdminMgt"));
    body(c);
  } catch (const com::ComError& e) {
    fail(command, e.description() + " (" + e.source() + ", " + std::to_string(e.number()) + ")");
  }
}

void fail(const std::string& command, const std::string& message) {
  std::cerr << "tivel " << command << ": " << message << "\n";
  throw CLI::RuntimeError(1);
}

void refuse(const std::string& command, const std::string& code) {
  const std::string what = codeText(code);
  fail(command, code + (what.empty() ? "" : " " + what));
}

void check(const std::string& command, const std::string& code) {
  if (code != "0") refuse(command, code);
}

std::string codeText(const std::string& code) { return std::string(codes::commandText(code)); }

std::vector<records::RecordPtr> recordsOf(const com::Variant& list) {
  std::vector<records::RecordPtr> out;
  if (list.isNothing() || list.isEmpty() || list.isNull()) return out;
  auto c = std::dynamic_pointer_cast<mgt::cCollection>(list.toObject());
  if (!c) return out;
  for (const auto& [key, item] : c->entries())
    if (auto rec = records::recordArg(item)) out.push_back(rec);
  return out;
}

std::string text(const records::Record& rec, const std::string& field) {
  const com::Variant& v = rec.get(field);
  return v.isNull() || v.isEmpty() ? "" : v.toString();
}

nlohmann::json toJson(const records::Record& rec, const std::vector<std::string>& fields) {
  nlohmann::json o = nlohmann::json::object();
  for (const std::string& f : fields) o[f] = text(rec, f);
  return o;
}

namespace {

// Columns a UTF-8 text takes on a terminal: East Asian wide characters two.
size_t width(const std::string& s) {
  size_t w = 0;
  for (size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    char32_t cp = b;
    int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (n > 1) {
      cp = b & (0xFF >> (n + 1));
      for (int k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
    w += wide ? 2 : 1;
    i += n;
  }
  return w;
}

}  // namespace

void printTable(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths(header.size(), 0);
  auto measure = [&](const std::vector<std::string>& row) {
    for (size_t i = 0; i < row.size() && i < widths.size(); ++i) widths[i] = std::max(widths[i], width(row[i]));
  };
  measure(header);
  for (const auto& r : rows) measure(r);
  auto print = [&](const std::vector<std::string>& row) {
    std::string line;
    for (size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - width(row[i]) + 2, ' ');
    }
    std::cout << line << "\n";
  };
  print(header);
  for (const auto& r : rows) print(r);
}

void printJson(const nlohmann::json& doc) { std::cout << doc.dump(2) << "\n"; }

records::RecordPtr userOf(Components& c, const std::string& command, const std::string& account) {
  auto user = records::recordArg(c.um->getUsrByAccount(account), "cUmUsr");
  if (!user) refuse(command, codes::kUpdateUsrNotFound);
  return user;
}

std::string newPassword(const std::string& command, const std::string& account, bool fromStdin) {
  std::string pwd = readPassword("New password for " + account + ": ", fromStdin);
  if (pwd.empty()) fail(command, "an empty password is refused");
  mgt::checkPasswordRules("", pwd);  // before asking again; the history is UmMgt.changePwd's to check
  if (!fromStdin && ::isatty(0) && readPassword("Again: ", false) != pwd) fail(command, "the passwords differ");
  return pwd;
}

void logChange(Components& c, const std::string& text) {
  c.admin->WriteLog(com::Variant("0"), com::Variant("sys"), com::Variant(text), com::Variant(int16_t{0}),
                    com::Variant(int16_t{0}));
}

}  // namespace tivel::tool::admin
