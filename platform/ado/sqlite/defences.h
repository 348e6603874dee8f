// What a statement on the embedded engine may not do. The recordset gateways
// run any statement a caller sends on the portal's database, so every
// connection refuses what would reach beyond that database: other database
// files (ATTACH, VACUUM INTO), code (extensions, a tokenizer given as an
// address), pragmas that name files or change the connection or the process,
// and writes that corrupt the file's own structures.
#pragma once

#include <string>

struct sqlite3;

namespace tivel::ado::sqlite {

// Puts the defences on an open connection: the engine's defensive mode, an
// untrusted schema, extension loading and the two-argument fts3_tokenizer
// off, lower limits on lengths and attached databases, and an authorizer
// for the rest. `refusal` (which must outlive the connection) receives the
// reason of the last statement the authorizer refused.
void makeDefensive(sqlite3* db, std::string* refusal);

}  // namespace tivel::ado::sqlite
