#include "mgt/common/password_rules.h"

#include <charconv>
#include <ctime>

#include "mgt/common/module.h"
#include "mgt/common/password_hash.h"
#include "mgt/common/pattern.h"
#include "platform/ado/connection.h"
#include "platform/com/error.h"
#include "platform/profile/profile.h"

namespace tivel::mgt {
namespace {

const char* const kSource = "TivelMgt.PasswordRules";

struct Key {
  const char* name;
  int PasswordRules::*field;
  int high;
  const char* allowed;
};
// The rules' keys of [Policy], their range and what a wrong value is told.
const Key kKeys[] = {
    {"min_length", &PasswordRules::minLength, 1024, "a whole number of characters from 0 to 1024 (0: any length)"},
    {"char_classes", &PasswordRules::classes, 4, "a whole number from 0 to 4 (lower case, upper case, digits, others)"},
    {"history", &PasswordRules::history, 24, "a whole number from 0 to 24 (0: passwords may repeat)"},
};

// A whole number within [0, high]; -1 when the text is none.
int wholeNumber(const std::string& text, int high) {
  int n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n < 0 || n > high) return -1;
  return n;
}

// Characters, not bytes: every byte that does not continue a UTF-8 sequence.
int characters(const std::string& pwd) {
  int n = 0;
  for (unsigned char c : pwd) n += (c & 0xC0) != 0x80;
  return n;
}

int classesOf(const std::string& pwd) {
  bool lower = false, upper = false, digit = false, other = false;
  for (unsigned char c : pwd) {
    if (c >= 'a' && c <= 'z')
      lower = true;
    else if (c >= 'A' && c <= 'Z')
      upper = true;
    else if (c >= '0' && c <= '9')
      digit = true;
    else
      other = true;
  }
  return lower + upper + digit + other;
}

[[noreturn]] void refuse(const PasswordRules& rules, const std::string& which) {
  com::raise(com::kInvalidArgument, kSource,
             std::string(kPasswordRulesRefused) + ": " + which + " (" + describePasswordRules(rules, "en") + ")");
}

std::string oneUser(const std::string& usrNo) { return " where usr_no='" + QuoteSql(usrNo) + "'"; }

// True when `pwd` opens the user's current password or one of the last
// `count` kept in the history.
bool usedBefore(const std::string& usrNo, const std::string& pwd, int count) {
  auto current = openRead("select pwd from umUsr" + oneUser(usrNo));
  const bool same = current->recordCount() > 0 && passwordMatches(current->value(0), pwd);
  current->close();
  if (same) return true;
  auto rs = openRead("select pwd from umPwdHist" + oneUser(usrNo) + " order by seq desc");
  for (int i = 0; i < count && !rs->eof(); ++i, rs->moveNext())
    if (passwordMatches(rs->value(0), pwd)) {
      rs->close();
      return true;
    }
  rs->close();
  return false;
}

}  // namespace

PasswordRules readPasswordRules(const std::string& iniPath) {
  PasswordRules r;
  for (const Key& k : kKeys)
    r.*k.field = std::max(0, wholeNumber(profile::readProfileString(iniPath, "Policy", k.name), k.high));
  return r;
}

PasswordRules passwordRules() { return readPasswordRules(configPath()); }

std::vector<std::string> passwordRuleProblems(const std::string& iniPath) {
  std::vector<std::string> problems;
  for (const Key& k : kKeys) {
    const std::string v = profile::readProfileString(iniPath, "Policy", k.name);
    if (!v.empty() && wholeNumber(v, k.high) < 0)
      problems.push_back(std::string("[Policy] ") + k.name + "=" + v + " is not understood; allowed: " + k.allowed);
  }
  return problems;
}

std::string describePasswordRules(const PasswordRules& r, const std::string& language) {
  const bool zh = language != "en";
  std::vector<std::string> parts;
  if (r.minLength > 0)
    parts.push_back(zh ? "至少" + std::to_string(r.minLength) + "个字符"
                       : "at least " + std::to_string(r.minLength) + " characters");
  if (r.classes > 1)
    parts.push_back(zh ? "包含小写字母、大写字母、数字、其他字符中的至少" + std::to_string(r.classes) + "类"
                       : std::to_string(r.classes) + " of lower case, upper case, digits and other characters");
  if (r.history > 0)
    parts.push_back(zh ? "不得与最近" + std::to_string(r.history) + "次的密码相同"
                       : "none of the last " + std::to_string(r.history) + " passwords");
  std::string text;
  for (const auto& p : parts) text += (text.empty() ? "" : zh ? "，" : ", ") + p;
  if (text.empty()) return text;
  return zh ? "密码规则：" + text + "。" : "Password rules: " + text + ".";
}

void checkPasswordRules(const std::string& usrNo, const std::string& pwd) {
  const PasswordRules r = passwordRules();
  if (!r.any()) return;
  if (characters(pwd) < r.minLength) refuse(r, "the password is too short");
  if (classesOf(pwd) < r.classes) refuse(r, "the password mixes too few kinds of characters");
  if (r.history > 0 && !usrNo.empty() && usedBefore(usrNo, pwd, r.history)) refuse(r, "the password was used before");
}

void rememberPassword(const std::string& usrNo, const std::string& pwd) {
  const PasswordRules r = passwordRules();
  if (r.history <= 0 || usrNo.empty() || pwd.empty()) return;
  // The history holds hashes whatever [Security] password_hash says: a
  // password that is no longer in use is never kept as text.
  const std::string hash = hashPassword(pwd);
  auto rs = openRead("select max(seq) from umPwdHist" + oneUser(usrNo));
  const long seq = rs->recordCount() > 0 && !rs->value(0).isNull() ? rs->value(0).toLong() + 1 : 1;
  rs->close();
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  execute("insert into umPwdHist(usr_no,pwd,set_time,seq) values('" + QuoteSql(usrNo) + "','" + QuoteSql(hash) + "','" +
          stamp + "'," + std::to_string(seq) + ")");
  execute("delete from umPwdHist" + oneUser(usrNo) + " and seq<=" + std::to_string(seq - r.history));
}

}  // namespace tivel::mgt
