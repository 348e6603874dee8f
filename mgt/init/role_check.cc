#include "mgt/init/role_check.h"

#include "platform/ado/recordset.h"

namespace tivel::mgt {

std::vector<std::string> roleWarnings(ado::Connection& conn) {
  if (conn.backend().dialect() != "postgresql") return {};
  auto rs = conn.execute(
      "select current_user, rolsuper, rolcreaterole, pg_has_role('pg_read_server_files', 'MEMBER'), "
      "pg_has_role('pg_write_server_files', 'MEMBER'), pg_has_role('pg_execute_server_program', 'MEMBER'), "
      "has_function_privilege('pg_read_file(text)', 'EXECUTE') or "
      "has_function_privilege('pg_read_binary_file(text)', 'EXECUTE') or "
      "has_function_privilege('lo_import(text)', 'EXECUTE') or "
      "has_function_privilege('lo_export(oid, text)', 'EXECUTE'), "
      "current_setting('server_version_num')::integer from pg_roles where rolname = current_user");
  std::vector<std::string> warnings;
  if (rs->eof()) return warnings;
  const std::string role = "the database role " + rs->value(0).toString();
  auto has = [&](int column) { return rs->value(column).toBool(); };
  if (has(1)) {
    warnings.push_back(role +
                       " is a superuser: any statement a caller sends reaches the database host "
                       "(COPY ... TO PROGRAM runs programs, pg_read_file reads files)");
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
  return warnings;
}

}  // namespace tivel::mgt
