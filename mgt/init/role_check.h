// Whether a connection's database role reaches beyond its database. The
// recordset gateways run any statement a caller sends, so a role that may
// read or write the server's files or run its programs hands the database
// host to every caller.
#pragma once

#include <string>
#include <vector>

#include "platform/ado/connection.h"

namespace tivel::mgt {

// One warning per way the open connection's role reaches the database host:
// on PostgreSQL a superuser; a member of pg_read_server_files,
// pg_write_server_files or pg_execute_server_program (COPY to or from files
// and programs); a role that may create roles before PostgreSQL 16 (it may
// grant itself those); a role that may execute the server-file functions.
// On MariaDB an account (or a role it may enable) with FILE, SUPER, or
// INSERT on the mysql schema. Empty for an account with only the grants the
// portal needs, and on the embedded engine. Followed by connectionWarnings.
std::vector<std::string> roleWarnings(ado::Connection& conn);

// What of the database server or this machine's driver reaches beyond the
// portal whatever the role: a MariaDB server that allows LOAD DATA LOCAL
// (@@local_infile), and an odbcinst.ini entry of the engine's driver that
// logs every connection (CommLog, Debug). Empty on the embedded engine.
std::vector<std::string> connectionWarnings(ado::Connection& conn);

}  // namespace tivel::mgt
