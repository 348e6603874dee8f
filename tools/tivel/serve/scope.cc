#include "tools/tivel/serve/scope.h"

#include <cctype>
#include <stdexcept>

namespace tivel::tool {
namespace {

// The portal's pages: the management, record, fee and data-access classes.
constexpr const char* kPages =
    "TivelMgt.*,TivelPublicDB.*,TivelGF.interface,ADODB.Connection,ADODB.Recordset,ADOR.Recordset";
// The administrator's console: the management and record classes and the
// console's own reads (TivelMgt.ConsoleMgt), without the generic recordset
// gateways and without the database's connection string (it carries the
// password), and never users' secrets.
constexpr const char* kConsole =
    "TivelMgt.*,TivelMgt.ConsoleMgt,TivelMgt.UserTasks,TivelPublicDB.*,-TivelMgt.AdminMgt:getRecordset,"
    "-TivelMgt.AdminMgt:setRecordset,-TivelMgt.cPublic:GetDBStr,secrets=withheld";
// The installation helper, for the local installer's tools.
constexpr const char* kSetup = "Tivel.RegClass";

// Classes that a wildcard never reaches: only a scope that names them lets
// a caller use them.
// The console's own classes: only the console preset names them.
constexpr const char* kConsoleOnly[] = {"tivelmgt.consolemgt", "tivelmgt.usertasks"};
constexpr const char* kNamedOnly[] = {"tivel.regclass", kConsoleOnly[0], kConsoleOnly[1]};

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.'; }

const char* presetText(std::string_view name) {
  if (name == "pages") return kPages;
  if (name == "console") return kConsole;
  if (name == "setup") return kSetup;
  return nullptr;
}

}  // namespace

Scope Scope::parse(std::string_view text) {
  Scope scope;
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) scope.text_ += c;
  if (scope.text_.empty()) throw std::invalid_argument("an empty scope allows nothing");
  scope.add(scope.text_, 0);
  return scope;
}

void Scope::add(std::string_view list, int depth) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    std::string_view item = list.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    start = end == std::string_view::npos ? list.size() + 1 : end + 1;
    if (item.empty()) throw std::invalid_argument("an empty item in the scope");
    if (item == "connect=own" || item == "connect=any") {
      if (item == "connect=any") connections_ = ConnectionRule::Any;
      continue;
    }
    if (item == "secrets=withheld") {
      withholdSecrets_ = true;
      continue;
    }
    if (const char* preset = presetText(item)) {
      if (depth == 0) add(preset, depth + 1);
      continue;
    }
    Rule rule;
    if (item.front() == '-') {
      rule.exclude = true;
      item.remove_prefix(1);
    }
    size_t colon = item.find(':');
    std::string_view cls = item.substr(0, colon);
    if (colon != std::string_view::npos) {
      std::string_view member = item.substr(colon + 1);
      bool ok = !member.empty();
      for (char c : member) ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
      if (!ok) throw std::invalid_argument("not a member name in the scope: " + std::string(item));
      rule.member = lower(member);
    }
    // A class pattern: a ProgID ("Lib.Class"), or a prefix of one ending in "*".
    bool ok = !cls.empty();
    for (size_t i = 0; i < cls.size(); ++i) ok = ok && (isNameChar(cls[i]) || (cls[i] == '*' && i + 1 == cls.size()));
    ok = ok && (cls.back() == '*' || cls.find('.') != std::string_view::npos);
    if (!ok)
      throw std::invalid_argument("not a preset (pages, setup, console), class, member, connect= or secrets= rule: " +
                                  std::string(item));
    rule.classPattern = lower(cls);
    // The console's own classes are the console preset's: no other scope names them.
    for (const char* only : kConsoleOnly)
      if (depth == 0 && !rule.exclude && rule.classPattern == only)
        throw std::invalid_argument("only the console preset reaches " + std::string(cls));
    rules_.push_back(std::move(rule));
  }
}

bool Scope::classMatches(const Rule& rule, std::string_view progid) {
  const std::string id = lower(progid);
  const std::string& p = rule.classPattern;
  if (p.empty() || p.back() != '*') return p == id;
  for (const char* named : kNamedOnly)
    if (id == named) return false;
  return id.compare(0, p.size() - 1, p, 0, p.size() - 1) == 0;
}

bool Scope::mayCreate(std::string_view progid) const {
  bool allowed = false;
  for (const Rule& r : rules_) {
    if (!classMatches(r, progid)) continue;
    if (r.exclude && r.member.empty()) return false;
    allowed = allowed || !r.exclude;
  }
  return allowed;
}

bool Scope::mayCall(std::string_view progid, std::string_view member) const {
  const std::string m = lower(member);
  bool allowed = false;
  for (const Rule& r : rules_) {
    if (!classMatches(r, progid) || (!r.member.empty() && r.member != m)) continue;
    if (r.exclude) return false;
    allowed = true;
  }
  return allowed;
}

}  // namespace tivel::tool
