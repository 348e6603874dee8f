// Table names for an engine that tells them apart by letter case (MariaDB
// on Linux keeps each table in files of its name), where the system's
// statements name one table in several spellings (umOrg2Usr, umOrg2usr).
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tivel::ado::odbc {

class TableSpellings {
 public:
  // Takes the catalogue's table names. Names that differ only in letter case
  // are ambiguous and left out: words naming them stay as written.
  void assign(const std::vector<std::string>& names);
  // The statement text with every bare word that names a table in another
  // letter case written as the catalogue spells it. Quoted texts, quoted
  // names and comments stay as they are; so do column names, which the
  // engine matches in any case, unless a table has the same name.
  std::string adapt(std::string_view sql) const;
  // The catalogue's spelling of a table name, or the name when none matches.
  std::string spelling(const std::string& name) const;

 private:
  std::unordered_map<std::string, std::string> byLowerCase_;  // "" for an ambiguous name
};

}  // namespace tivel::ado::odbc
