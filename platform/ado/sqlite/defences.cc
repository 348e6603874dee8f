#include "platform/ado/sqlite/defences.h"

#include <sqlite3.h>
#include <strings.h>

namespace tivel::ado::sqlite {
namespace {

// The longest text or blob value, and the longest statement text. Values
// stay well above what a batch may answer (64 MiB) so a stored attachment
// still reads; the engine's own ceilings (about 1 GB) let one statement make
// several such values out of nothing (zeroblob, printf, replace).
constexpr int kMaxLength = 128 << 20;
constexpr int kMaxSqlLength = 16 << 20;

bool named(const char* name, const char* const* list) {
  for (; *list; ++list)
    if (strcasecmp(name, *list) == 0) return true;
  return false;
}

// Pragmas that only read the database's own schema or settings. Given an
// argument they name a table or index (or a count of errors to report); any
// other pragma given an argument would change the connection, the file's
// journal or the process.
const char* const kReadingPragmas[] = {
    "application_id", "auto_vacuum",     "cache_size",   "collation_list",   "compile_options",   "data_version",
    "database_list",  "encoding",        "foreign_keys", "freelist_count",   "function_list",     "journal_mode",
    "module_list",    "page_count",      "page_size",    "pragma_list",      "schema_version",    "synchronous",
    "user_version",   "table_info",      "table_xinfo",  "table_list",       "index_info",        "index_xinfo",
    "index_list",     "integrity_check", "quick_check",  "foreign_key_list", "foreign_key_check", nullptr};
const char* const kPragmasWithAnArgument[] = {
    "table_info",       "table_xinfo",       "table_list",      "index_info",  "index_xinfo", "index_list",
    "foreign_key_list", "foreign_key_check", "integrity_check", "quick_check", nullptr};

// Functions that load code or hand out an address of the process.
const char* const kRefusedFunctions[] = {"load_extension", "fts3_tokenizer", nullptr};

struct Verdict {
  int answer;
  std::string reason;
};

Verdict judge(int action, const char* a, const char* b) {
  switch (action) {
    case SQLITE_ATTACH:
      // VACUUM INTO attaches the file it writes; plain VACUUM attaches a
      // temporary database, which a statement could not tell from its own.
      return {SQLITE_DENY, "statements may not attach databases (ATTACH, VACUUM, VACUUM INTO)"};
    case SQLITE_DETACH: return {SQLITE_DENY, "statements may not detach databases"};
    case SQLITE_PRAGMA: {
      const char* name = a ? a : "";
      if (named(name, kReadingPragmas) && (!b || named(name, kPragmasWithAnArgument))) return {SQLITE_OK, ""};
      return {SQLITE_DENY, std::string("the pragma ") + name + (b ? " with a value" : "") +
                               " is not open to statements: only reading the schema and settings is"};
    }
    case SQLITE_FUNCTION:
      if (b && named(b, kRefusedFunctions))
        return {SQLITE_DENY, std::string("the function ") + b + " is not open to statements"};
      return {SQLITE_OK, ""};
    default: return {SQLITE_OK, ""};
  }
}

int authorize(void* refusal, int action, const char* a, const char* b, const char*, const char*) {
  // Called for every column a statement reads: answer those first.
  if (action == SQLITE_READ || action == SQLITE_SELECT) return SQLITE_OK;
  Verdict v = judge(action, a, b);
  if (v.answer != SQLITE_OK) *static_cast<std::string*>(refusal) = std::move(v.reason);
  return v.answer;
}

}  // namespace

void makeDefensive(sqlite3* db, std::string* refusal) {
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  // Functions and virtual tables that are not harmless may not be reached
  // through views, triggers, defaults or indexes of the file.
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
  sqlite3_enable_load_extension(db, 0);
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, kMaxLength);
  sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, kMaxSqlLength);
  sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
  sqlite3_set_authorizer(db, authorize, refusal);
}

}  // namespace tivel::ado::sqlite
