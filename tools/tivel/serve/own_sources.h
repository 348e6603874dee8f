// The root's own data sources: the connection strings the root's
// SysTivel.ini and Scrivane.ini give. A scope with connect=own lets a batch
// open connections to these and to nothing else.
#pragma once

#include <string>
#include <vector>

namespace tivel::tool {

class OwnSources {
 public:
  // The strings the configuration of the root in use (TIVEL_HOME) gives now.
  static OwnSources ofRoot();
  explicit OwnSources(const std::vector<std::string>& connectionStrings);

  // Whether a connection string reaches one of them the same way: the same
  // pairs (keys in any letter case, in any order, the provider's name in any
  // letter case, a SQLite file by its real path) and no other pair.
  bool contains(const std::string& connectionString) const;

 private:
  std::vector<std::string> forms_;
};

}  // namespace tivel::tool
