// The authorization check and the two pass-throughs to AppMgt's
// authorization strings. The check reads only the user's own string (subject
// type "3") and hands back one character of it unchanged: what the
// characters mean belongs to the pages.
#include <string_view>

#include "mgt/admin/admin_mgt.h"
#include "records/record.h"

namespace tivel::mgt {
namespace {

using com::Args;
using com::MemberKind;
using com::Variant;

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
// call; a failed read of the authorization answers Nothing, hence "10011".
std::string AdminMgt::checkAuth(const std::string& strResNo, const std::string& strUsrNo, int16_t strAuthBit) {
  Args a{Variant(strResNo), Variant("3"), Variant(strUsrNo)};
  auto auth = records::recordArg(app_->invoke("getAuth", MemberKind::Method, a), "cAppAuth");
  if (!auth) return "10011";
  const std::string s = auth->value("Res_Auth").toString();
  // A position below 1 is always within the length test and fails at the
  // character read, as a string function refuses a start before the first.
  if (characterCount(s) < strAuthBit) return "10012";
  if (strAuthBit < 1)
    com::raise(com::kInvalidProcedureCall, "TivelMgt.AdminMgt.checkAuth", "Invalid procedure call or argument");
  return characterAt(s, strAuthBit);
}

std::string AdminMgt::getAuthOfUsr(const std::string& strRes_no, const std::string& strOGRU_Type,
                                   const std::string& strOGRU_No) {
  Args a{Variant(strRes_no), Variant(strOGRU_Type), Variant(strOGRU_No)};
  return app_->invoke("getAuthOfUsr", MemberKind::Method, a).toString();
}

bool AdminMgt::setAuthOfUsr(const std::string& strRes_no, const std::string& strUsr_no, const std::string& strAuth) {
  Args a{Variant(strRes_no), Variant("3"), Variant(strUsr_no), Variant(strAuth)};
  return app_->invoke("setAuthOfUsr", MemberKind::Method, a).toBool();
}

}  // namespace tivel::mgt
