// What a caller of the gateway may do: the classes (by ProgID) it may
// create, the members it may call, and the databases its connections may
// reach. A token carries one, and so does any other way in (a console
// session); the batch runner checks every request against it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tivel::tool {

// Where the connections a batch opens may go.
enum class ConnectionRule {
  Own,  // only the root's own data sources (what SysTivel.ini and Scrivane.ini give)
  Any,  // any connection string
};

class Scope {
 public:
  // Parses a scope text: items separated by ",", each a preset name
  // ("pages", "setup", "console"), "secrets=withheld" (its answers never
  // carry users' passwords, second-factor or directory secrets; the console
  // preset includes it), a class pattern ("TivelMgt.AdminMgt",
  // "TivelMgt.*", "*"), a member ("TivelMgt.AdminMgt:getRecordset"), one of
  // these after "-" to exclude it, or "connect=own" / "connect=any". Names
  // match in any letter case; a pattern with "*" never matches the
  // installation helper, which only its own ProgID names, nor the console's
  // own class (TivelMgt.ConsoleMgt), which only the console preset names. Fails
  // (std::invalid_argument) naming the item at fault.
  static Scope parse(std::string_view text);

  // The text the scope was parsed from, blanks removed: how it is shown and stored.
  const std::string& text() const { return text_; }
  // Whether a request may create an object of the class (or list its members).
  bool mayCreate(std::string_view progid) const;
  // Whether a request may call, read or write the member of an object of the class.
  bool mayCall(std::string_view progid, std::string_view member) const;
  ConnectionRule connections() const { return connections_; }
  // Whether answers withhold users' secrets (secrets=withheld).
  bool withholdsSecrets() const { return withholdSecrets_; }

 private:
  struct Rule {
    bool exclude = false;
    std::string classPattern;  // lower case; may end in "*"
    std::string member;        // lower case; "" for the whole class
  };
  static bool classMatches(const Rule& rule, std::string_view progid);
  void add(std::string_view item, int depth);

  std::string text_;
  std::vector<Rule> rules_;
  ConnectionRule connections_ = ConnectionRule::Own;
  bool withholdSecrets_ = false;
};

// A caller the gateway let in: a token's name (or a session's) and its scope.
struct Caller {
  std::string name;
  std::shared_ptr<const Scope> scope;
};

}  // namespace tivel::tool
