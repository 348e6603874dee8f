// The authorization check and the two pass-throughs to AppMgt's
// authorization strings. The check reads only the user's own string (subject
// type "3") and hands back one character of it unchanged: what the
// characters mean belongs to the pages.
#include <string_view>

#include "mgt/admin/admin_mgt.h"
#include "mgt/app/app_mgt.h"
#include "platform/codes/result_codes.h"
#include "records/record.h"

namespace tivel::mgt {
namespace {

// The private AppMgt the constructor created, called by its typed members.
AppMgt& appOf(const com::ObjectPtr& app) { return dynamic_cast<AppMgt&>(*app); }

// Counts characters, not bytes: a string holds one character per right.
long characterCount(std::string_view s) {
  long n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// The character at 1-based position `pos` (pos <= characterCount(s)).
std::string characterAt(std::string_view s, long pos) {
  size_t start = 0;
  for (long seen = 0; start < s.size(); ++start)
    if ((static_cast<unsigned char>(s[start]) & 0xC0) != 0x80 && ++seen == pos) break;
  size_t end = start + 1;
  while (end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) ++end;
  return std::string(s.substr(start, end - start));
}

}  // namespace

// No trap of its own: a position below 1 or a string without value fails the
// call; a failed read of the authorization answers Nothing, hence kCheckAuthNone.
std::string AdminMgt::checkAuth(const std::string& strResNo, const std::string& strUsrNo, int16_t strAuthBit) {
  auto auth = records::recordArg(appOf(app_).getAuth(strResNo, "3", strUsrNo), "cAppAuth");
  if (!auth) return codes::kCheckAuthNone;
  const std::string s = auth->value("Res_Auth").toString();
  // A position below 1 is always within the length test and fails at the
  // character read, as a string function refuses a start before the first.
  if (characterCount(s) < strAuthBit) return codes::kCheckAuthTooShort;
  if (strAuthBit < 1)
    com::raise(com::kInvalidProcedureCall, "TivelMgt.AdminMgt.checkAuth", "Invalid procedure call or argument");
  return characterAt(s, strAuthBit);
}

std::string AdminMgt::getAuthOfUsr(const std::string& strRes_no, const std::string& strOGRU_Type,
                                   const std::string& strOGRU_No) {
  return appOf(app_).getAuthOfUsr(strRes_no, strOGRU_Type, strOGRU_No);
}

bool AdminMgt::setAuthOfUsr(const std::string& strRes_no, const std::string& strUsr_no, const std::string& strAuth) {
  return appOf(app_).setAuthOfUsr(strRes_no, "3", strUsr_no, strAuth);
}

}  // namespace tivel::mgt
