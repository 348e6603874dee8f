#include "tools/tivel/serve/login_audit.h"

#include <cctype>
#include <cstdio>
#include <iostream>

#include "mgt/common/password_rules.h"
#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "mgt/common/security_options.h"
#include "platform/com/registry.h"
#include "platform/profile/profile.h"

namespace tivel::tool::audit {
namespace {

thread_local std::string batchAddress;

std::string quotedAccount(const std::string& account) {
  std::string out = "\"";
  for (unsigned char c : account) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The first argument of a request as text ("" when there is none).
std::string firstArgument(const Json& request) {
  auto args = request.find("args");
  if (args == request.end() || !args->is_array() || args->empty() || !(*args)[0].is_string()) return "";
  return (*args)[0].get<std::string>();
}

}  // namespace

std::string failureLine(const std::string& where, const std::string& account, const std::string& address,
                        const std::string& outcome) {
  return "login failed: account " + quotedAccount(account) + " from " + (address.empty() ? "?" : address) + " (" +
         where + ", " + outcome + ")";
}

void loginFailed(const std::string& where, const std::string& account, const std::string& address,
                 const std::string& outcome) {
  const std::string line = failureLine(where, account, address, outcome);
  std::cerr << "tivel serve: " << line << "\n";
  try {
    mgt::WriteFileLog(line);
    if (failuresToSystemLog(mgt::configPath())) {
      com::ObjectPtr sys = com::CreateObject("TivelMgt.SysMgt");
      com::Args a{com::Variant("0"), com::Variant("sys"), com::Variant(account + "登录失败！" + line),
                  com::Variant(int16_t{0}), com::Variant(int16_t{0})};
      sys->invoke("WriteLog", com::MemberKind::Method, a);
    }
  } catch (const std::exception& e) {
    // The failure is on standard error whatever; a log that cannot be written does not fail the request.
    std::cerr << "tivel serve: the audit line could not be logged: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "tivel serve: the audit line could not be logged\n";
  }
}

bool codeStep(bool ok, const std::string& where, const std::string& account, const std::string& address) {
  if (!ok) loginFailed(where, account, address, "refused");
  return ok;
}

BatchAddress::BatchAddress(const std::string& address) { batchAddress = address; }
BatchAddress::~BatchAddress() { batchAddress.clear(); }

void batchAnswer(const Json& request, const Json& answer) {
  auto call = request.find("call");
  if (call == request.end() || !call->is_string()) return;
  const std::string member = lower(call->get<std::string>());
  if (member != "loginbypwd" && member != "loginagain") return;
  auto result = answer.find("result");
  if (result == answer.end()) return;  // an error: not a login's answer
  if (member == "loginbypwd" && result->is_string() && result->get<std::string>() != "0")
    loginFailed("loginByPwd", firstArgument(request), batchAddress, result->get<std::string>());
  else if (member == "loginagain" && result->is_boolean() && !result->get<bool>())
    loginFailed("loginAgain", firstArgument(request), batchAddress, "refused");
}

bool failuresToSystemLog(const std::string& iniPath) {
  const std::string v = lower(profile::readProfileString(iniPath, "Audit", "failures"));
  return v == "1" || v == "yes" || v == "true";
}

std::vector<std::string> auditSettingProblems(const std::string& iniPath) {
  const std::string v = profile::readProfileString(iniPath, "Audit", "failures");
  const std::string l = lower(v);
  if (v.empty() || l == "1" || l == "0" || l == "yes" || l == "no" || l == "true" || l == "false") return {};
  return {"[Audit] failures=" + v + " is not understood; allowed: 1/0, yes/no, true/false"};
}

std::vector<std::string> identitySettingProblems(const std::string& iniPath) {
  std::vector<std::string> all = mgt::securitySettingProblems(iniPath);
  for (auto& p : mgt::passwordRuleProblems(iniPath)) all.push_back(std::move(p));
  for (auto& p : auditSettingProblems(iniPath)) all.push_back(std::move(p));
  return all;
}

}  // namespace tivel::tool::audit
