// What the console does for an administrator over another user's access:
// the user's console sessions (the caller's own marked), ending them all,
// and enrolling the user in the second factor. The changes act for the
// thread's console caller (console_caller.h), whose account their system
// log line names; without one they fail the call.
#include <qrencode.h>

#include <memory>
#include <stdexcept>

#include "mgt/admin/second_factor.h"
#include "mgt/common/pattern.h"
#include "mgt/console/console_caller.h"
#include "mgt/console/console_mgt.h"
#include "mgt/console/plain_text.h"
#include "mgt/sys/sys_mgt.h"
#include "platform/com/registry.h"

namespace tivel::mgt {
namespace {

constexpr const char* kSource = "TivelMgt.ConsoleMgt";

ConsoleCaller& caller() {
  ConsoleCaller* c = consoleCaller();
  if (!c) throw std::invalid_argument("only a console session's batch may do this");
  return *c;
}

// The user's account; fails for no such user.
std::string accountOf(const std::string& usrNo) {
  auto rs = openRead("select account from umUsr where usr_no=" + quoted(com::Variant(usrNo)));
  const bool found = !rs->eof();
  const std::string account = found ? rs->value(0).toString() : std::string();
  rs->close();
  if (!found) throw std::invalid_argument("no such user");
  return account;
}

// One line of the system log (module "console"); fails when it was not stored.
void logged(const std::string& text) {
  auto sys = std::dynamic_pointer_cast<SysMgt>(com::CreateObject("TivelMgt.SysMgt"));
  if (!sys || !sys->WriteLog("0", "console", text)) throw std::runtime_error("the system log was not written");
}

// The QR code of a text as an SVG image, one unit a module, a quiet zone of
// four; "" when the text does not fit.
std::string qrSvg(const std::string& text) {
  QRcode* code = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
  if (!code) return "";
  const int width = code->width, size = width + 8;
  std::string path;
  for (int y = 0; y < width; ++y)
    for (int x = 0; x < width; ++x)
      if (code->data[y * width + x] & 1) path += "M" + std::to_string(x + 4) + " " + std::to_string(y + 4) + "h1v1h-1z";
  QRcode_free(code);
  const std::string n = std::to_string(size);
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + n + " " + n +
         "\" shape-rendering=\"crispEdges\"><rect width=\"" + n + "\" height=\"" + n +
         "\" fill=\"#fff\"/><path fill=\"#000\" d=\"" + path + "\"/></svg>";
}

}  // namespace

com::Variant ConsoleMgt::getUsrSessions(const std::string& strUsrNo) {
  plainText(strUsrNo, "a user number");
  const ConsoleCaller* c = consoleCaller();
  const std::string mine = quoted(com::Variant(c ? c->token : std::string()));
  return failingCall(kSource, [&] {
    ado::RecordsetPtr rs = openRead(
        "select l.login_datetime, l.login_ip, c.last_seen, case when l.token=" + mine +
        " then 1 else 0 end as is_own from umLogInfo l join consoleSession c on c.token=l.token where l.isAvail=1 and "
        "l.usr_no=" +
        quoted(com::Variant(strUsrNo)) + " order by l.login_datetime desc");
    return com::Variant(std::static_pointer_cast<com::Object>(rs));
  });
}

bool ConsoleMgt::endUsrSessions(const std::string& strUsrNo, com::Variant& lngEnded) {
  plainText(strUsrNo, "a user number");
  ConsoleCaller& by = caller();
  return failingCall(kSource, [&] {
    const std::string account = accountOf(strUsrNo);
    const std::vector<ConsoleOpenSession> open = openSessions(strUsrNo);
    for (const ConsoleOpenSession& s : open) endSession(s.token);
    logged(by.account + "在控制台：结束 " + account + " 的全部会话（" + std::to_string(open.size()) + "）");
    if (strUsrNo == by.usrNo) by.ownSessionEnded = true;
    lngEnded = com::Variant(static_cast<int32_t>(open.size()));
    return true;
  });
}

bool ConsoleMgt::enrollUsrTotp(const std::string& strUsrNo, com::Variant& strSecret, com::Variant& strUri,
                               com::Variant& strQr) {
  plainText(strUsrNo, "a user number");
  const ConsoleCaller& by = caller();
  return failingCall(kSource, [&] {
    const std::string account = accountOf(strUsrNo);
    const std::string secret = second_factor::enroll(strUsrNo);
    const std::string uri = second_factor::provisioningUri("Tivel", account, secret);
    logged(by.account + "在控制台：为 " + account + " 启用二次验证");
    strSecret = com::Variant(secret);
    strUri = com::Variant(uri);
    strQr = com::Variant(qrSvg(uri));
    return true;
  });
}

}  // namespace tivel::mgt
