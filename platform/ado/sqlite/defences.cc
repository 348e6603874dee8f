#include "platform/ado/sqlite/defences.h"

#include <sqlite3.h>
#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ado/interrupt.h"

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

// printf and format build their whole text before the engine checks its
// length, in one call the progress handler cannot interrupt: a width or
// precision of two billion holds the thread some 13 s, whatever the batch's
// deadline. The widths and precisions of one call may add up to this many
// characters (a few milliseconds of work); legitimate formats use tens.
constexpr sqlite3_int64 kMaxPrintfWidths = 100000;

// Every conversion's width and precision in the format, literal or taken
// from the arguments ("*"), added up; more than kMaxPrintfWidths counts as
// that plus one.
sqlite3_int64 printfWidths(const unsigned char* format, int argc, sqlite3_value** argv) {
  sqlite3_int64 total = 0;
  int arg = 1;
  auto starred = [&] {
    sqlite3_int64 v = arg < argc ? sqlite3_value_int64(argv[arg]) : 0;
    ++arg;
    return v < 0 ? (v == INT64_MIN ? INT64_MAX : -v) : v;
  };
  auto number = [&](const unsigned char*& p) {
    sqlite3_int64 v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) v = v > kMaxPrintfWidths ? v : v * 10 + (*p - '0');
    return v;
  };
  for (const unsigned char* p = format; *p; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    while (*p && std::strchr("-+ #0,!", *p)) ++p;
    sqlite3_int64 width = 0, precision = 0;
    if (*p == '*') {
      width = starred();
      ++p;
    } else {
      width = number(p);
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        precision = starred();
        ++p;
      } else {
        precision = number(p);
      }
    }
    while (*p == 'l') ++p;
    if (!*p) break;
    ++arg;  // the conversion's own argument
    total += std::max(width, precision);
    if (total > kMaxPrintfWidths) return kMaxPrintfWidths + 1;
  }
  return total;
}

// The engine's own functions, reached through a private in-memory
// connection that keeps them (on the caller's connection their names are
// taken by the checked ones below).
struct BuiltinEngine {
  sqlite3* db = nullptr;
  struct Kept {
    std::string name;
    int argc;
    sqlite3_stmt* st;
  };
  std::vector<Kept> kept;

  ~BuiltinEngine() {
    for (const Kept& k : kept) sqlite3_finalize(k.st);
    sqlite3_close_v2(db);
  }

  sqlite3_stmt* statement(const char* name, int argc) {
    if (!db) {
      if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY, nullptr) != SQLITE_OK)
        return nullptr;
      sqlite3_limit(db, SQLITE_LIMIT_LENGTH, kMaxLength);
    }
    for (const Kept& k : kept)
      if (k.argc == argc && k.name == name) return k.st;
    std::string sql = std::string("select ") + name + "(";
    for (int i = 1; i <= argc; ++i) sql += (i > 1 ? ",?" : "?") + std::to_string(i);
    sql += ")";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return nullptr;
    kept.push_back({name, argc, st});
    return st;
  }

  // Answers the engine's own function `name` of the arguments.
  void call(sqlite3_context* ctx, const char* name, int argc, sqlite3_value** argv) {
    sqlite3_stmt* st = statement(name, argc);
    if (!st) return sqlite3_result_error(ctx, "the engine's function is not available", -1);
    for (int i = 0; i < argc; ++i) sqlite3_bind_value(st, i + 1, argv[i]);
    if (sqlite3_step(st) == SQLITE_ROW)
      sqlite3_result_value(ctx, sqlite3_column_value(st, 0));
    else
      sqlite3_result_error(ctx, sqlite3_errmsg(db), -1);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
  }
};

// A call that makes up to the longest value in one go (a second or two)
// starts only while the statement's deadline has not passed: the engine
// looks at an interrupt only between rows and loops, so a row of many such
// calls would otherwise run on long past it.
bool pastDeadline(sqlite3_context* ctx) {
  if (!threadInterrupted()) return false;
  sqlite3_result_error_code(ctx, SQLITE_INTERRUPT);
  return true;
}

void checkedPrintf(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (pastDeadline(ctx)) return;
  if (argc < 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) return;  // NULL, as the engine's answers
  const unsigned char* format = sqlite3_value_text(argv[0]);
  if (!format) return sqlite3_result_error_nomem(ctx);
  if (printfWidths(format, argc, argv) > kMaxPrintfWidths)
    return sqlite3_result_error(ctx,
                                "printf: the widths and precisions of one call may add up to at most 100000 "
                                "characters",
                                -1);
  static_cast<BuiltinEngine*>(sqlite3_user_data(ctx))->call(ctx, "printf", argc, argv);
}

void gatedRandomblob(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (!pastDeadline(ctx)) static_cast<BuiltinEngine*>(sqlite3_user_data(ctx))->call(ctx, "randomblob", argc, argv);
}

void gatedReplace(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (!pastDeadline(ctx)) static_cast<BuiltinEngine*>(sqlite3_user_data(ctx))->call(ctx, "replace", argc, argv);
}

// Every connection's values together: a statement that would take more of
// the heap fails (out of memory) and the process goes on. Process-wide, as
// the engine keeps it: one batch's statement may use most of it, but never
// the machine's memory.
constexpr sqlite3_int64 kHeapLimit = sqlite3_int64(1) << 30;

}  // namespace

void makeDefensive(sqlite3* db, std::string* refusal) {
  static std::once_flag heapLimit;
  std::call_once(heapLimit, [] { sqlite3_hard_heap_limit64(kHeapLimit); });
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
  // printf and its other name format with their widths checked, and the
  // functions that make a long value in one call (randomblob, replace)
  // behind the deadline; the engine's own do the work. One engine per
  // connection, owned by printf's registration and freed with it.
  auto* engine = new BuiltinEngine;
  const int flags = SQLITE_UTF8 | SQLITE_INNOCUOUS;
  if (sqlite3_create_function_v2(db, "printf", -1, flags | SQLITE_DETERMINISTIC, engine, checkedPrintf, nullptr,
                                 nullptr, [](void* p) { delete static_cast<BuiltinEngine*>(p); }) != SQLITE_OK)
    return;
  sqlite3_create_function_v2(db, "format", -1, flags | SQLITE_DETERMINISTIC, engine, checkedPrintf, nullptr, nullptr,
                             nullptr);
  sqlite3_create_function_v2(db, "replace", 3, flags | SQLITE_DETERMINISTIC, engine, gatedReplace, nullptr, nullptr,
                             nullptr);
  sqlite3_create_function_v2(db, "randomblob", 1, flags, engine, gatedRandomblob, nullptr, nullptr, nullptr);
}

}  // namespace tivel::ado::sqlite
