#include "mgt/init/role_check.h"

#include <cctype>
#include <set>
#include <string_view>

#include "platform/ado/odbc/connect_keys.h"
#include "platform/ado/recordset.h"

namespace tivel::mgt {
namespace {

// The lines SHOW GRANTS answers for the connection's account and its enabled role.
std::vector<std::string> grantLines(ado::Connection& conn) {
  std::vector<std::string> lines;
  for (auto rs = conn.execute("SHOW GRANTS"); !rs->eof(); rs->moveNext()) lines.push_back(rs->value(0).toString());
  return lines;
}

// "GRANT A, B ON *.* TO ..." as its privileges and its object; false for a
// role's grant ("GRANT `r` TO ...").
bool parseGrant(std::string_view line, std::set<std::string>* privileges, std::string* object) {
  constexpr std::string_view kGrant = "GRANT ";
  const size_t on = line.find(" ON "), to = line.find(" TO ");
  if (!line.starts_with(kGrant) || on == std::string_view::npos || to == std::string_view::npos || to < on)
    return false;
  privileges->clear();
  std::string_view list = line.substr(kGrant.size(), on - kGrant.size());
  while (!list.empty()) {
    const size_t comma = list.find(", ");
    std::string_view one = list.substr(0, comma);
    if (const size_t paren = one.find(" ("); paren != std::string_view::npos) one = one.substr(0, paren);
    privileges->insert(std::string(one));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 2);
  }
  *object = std::string(line.substr(on + 4, to - on - 4));
  return true;
}

// The name a grant line quotes from `at` on (with backticks, or double
// quotes when the session reads "..." as a name), its doubled quotes undone;
// empty when none starts there.
std::string quotedName(const std::string& line, size_t at) {
  if (at >= line.size() || (line[at] != '`' && line[at] != '"')) return {};
  const char q = line[at];
  std::string name;
  for (size_t i = at + 1; i < line.size(); ++i) {
    if (line[i] != q) {
      name += line[i];
    } else if (i + 1 < line.size() && line[i + 1] == q) {
      name += q;
      ++i;
    } else {
      return name;
    }
  }
  return {};
}

// The roles granted to the account ("GRANT `r` TO ..."), which a caller may
// enable with SET ROLE.
std::vector<std::string> grantedRoles(const std::vector<std::string>& lines) {
  std::vector<std::string> roles;
  for (const std::string& line : lines)
    if (line.starts_with("GRANT ") && line.find(" ON ") == std::string::npos)
      if (std::string role = quotedName(line, 6); !role.empty()) roles.push_back(std::move(role));
  return roles;
}

std::string backquoted(const std::string& name) {
  std::string out = "`";
  for (char c : name) out += c == '`' ? std::string("``") : std::string(1, c);
  return out + "`";
}

// MariaDB: the account's own grants and those of every role it may enable.
// FILE reads and writes the server's files (LOAD_FILE, SELECT ... INTO
// OUTFILE); SUPER changes the server's global settings, among them the files
// it writes; writing the mysql schema lets INSTALL SONAME load a library.
std::vector<std::string> mariadbWarnings(ado::Connection& conn) {
  const std::string account = "the database account " + conn.execute("select current_user()")->value(0).toString();
  const com::Variant enabled = conn.execute("select current_role()")->value(0);
  std::vector<std::string> lines = grantLines(conn);
  for (const std::string& role : grantedRoles(lines)) {
    conn.execute("SET ROLE " + backquoted(role));
    for (std::string& line : grantLines(conn)) lines.push_back(std::move(line));
  }
  conn.execute(enabled.isNull() ? std::string("SET ROLE NONE") : "SET ROLE " + backquoted(enabled.toString()));

  bool file = false, super = false, plugins = false;
  std::set<std::string> privileges;
  std::string object;
  for (const std::string& line : lines) {
    if (!parseGrant(line, &privileges, &object)) continue;
    const bool all = privileges.count("ALL PRIVILEGES") > 0;
    const bool global = object == "*.*";
    file = file || (global && (all || privileges.count("FILE")));
    super = super || (global && (all || privileges.count("SUPER")));
    const bool mysqlSchema = quotedName(object, 0) == "mysql";
    plugins = plugins || ((global || mysqlSchema) && (all || privileges.count("INSERT")));
  }
  std::vector<std::string> warnings;
  if (file)
    warnings.push_back(account +
                       " has the FILE privilege: LOAD_FILE and SELECT ... INTO OUTFILE read and write the "
                       "database host's files");
  if (super)
    warnings.push_back(account + " has the SUPER privilege: SET GLOBAL changes the server's settings and files");
  if (plugins)
    warnings.push_back(account + " may write the mysql schema: INSTALL SONAME loads a library into the server");
  return warnings;
}

}  // namespace

std::vector<std::string> connectionWarnings(ado::Connection& conn) {
  const std::string dialect = conn.backend().dialect();
  std::vector<std::string> warnings;
  if (dialect == "mariadb" && conn.execute("select @@local_infile")->value(0).toLong() != 0)
    warnings.push_back(
        "the MariaDB server allows LOAD DATA LOCAL (local_infile=ON): this system's connections keep it off on "
        "their side, but any other client of the database may be made to send the server its own machine's "
        "files; set local_infile=OFF in the server's configuration");
  const char* family = dialect == "postgresql" ? "postgres" : dialect == "mariadb" ? "maria" : nullptr;
  if (!family) return warnings;
  for (const std::string& entry : ado::odbc::loggingDriverEntries()) {
    std::string lower;
    for (char c : entry) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find(family) != std::string::npos)
      warnings.push_back(entry +
                         " in odbcinst.ini: every other program that connects through it writes its password and "
                         "statements to /tmp (this system turns the driver's logs off on its own connections); "
                         "set CommLog=0 and Debug=0 there");
  }
  return warnings;
}

std::vector<std::string> roleWarnings(ado::Connection& conn) {
  const std::string dialect = conn.backend().dialect();
  std::vector<std::string> host = connectionWarnings(conn);
  if (dialect == "mariadb") {
    std::vector<std::string> warnings = mariadbWarnings(conn);
    warnings.insert(warnings.end(), host.begin(), host.end());
    return warnings;
  }
  if (dialect != "postgresql") return {};
  auto rs = conn.execute(
      "select current_user, rolsuper, rolcreaterole, pg_has_role('pg_read_server_files', 'MEMBER'), "
      "pg_has_role('pg_write_server_files', 'MEMBER'), pg_has_role('pg_execute_server_program', 'MEMBER'), "
      "has_function_privilege('pg_read_file(text)', 'EXECUTE') or "
      "has_function_privilege('pg_read_binary_file(text)', 'EXECUTE') or "
      "has_function_privilege('lo_import(text)', 'EXECUTE') or "
      "has_function_privilege('lo_export(oid, text)', 'EXECUTE'), "
      "current_setting('server_version_num')::integer from pg_roles where rolname = current_user");
  std::vector<std::string> warnings;
  if (rs->eof()) return host;
  const std::string role = "the database role " + rs->value(0).toString();
  auto has = [&](int column) { return rs->value(column).toBool(); };
  if (has(1)) {
    warnings.push_back(role +
                       " is a superuser: any statement a caller sends reaches the database host "
                       "(COPY ... TO PROGRAM runs programs, pg_read_file reads files)");
    warnings.insert(warnings.end(), host.begin(), host.end());
    return warnings;
  }
  const struct {
    int column;
    const char* what;
  } memberships[] = {{3, "pg_read_server_files: COPY ... FROM reads the database host's files"},
                     {4, "pg_write_server_files: COPY ... TO writes files on the database host"},
                     {5, "pg_execute_server_program: COPY ... TO PROGRAM runs programs on the database host"}};
  for (const auto& m : memberships)
    if (has(m.column)) warnings.push_back(role + " is a member of " + m.what);
  if (has(2) && rs->value(7).toLong() < 160000)
    warnings.push_back(role +
                       " may create roles, and so grant itself the roles that reach the database host's "
                       "files and programs");
  if (has(6))
    warnings.push_back(role +
                       " may execute functions that read or write the database host's files "
                       "(pg_read_file, lo_import, lo_export)");
  warnings.insert(warnings.end(), host.begin(), host.end());
  return warnings;
}

}  // namespace tivel::mgt
