// The SQL word scanners of the engines on arbitrary statement text: the
// keyword quoting only ever adds quotes around a bare keyword (and folds its
// letter case), and MariaDB's table respelling only changes letter case, so
// the text without quotes, in any case, stays the same.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/ado/odbc/keyword_names.h"
#include "platform/ado/odbc/table_spellings.h"
#include "platform/ado/sqlite/keyword_columns.h"

namespace {

std::string unquotedLower(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != '"') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

void check(const std::string& in, const std::string& out, const char* scanner) {
  if (out.size() < in.size() || unquotedLower(out) != unquotedLower(in)) {
    std::fprintf(stderr, "invariant broken: %s changed more than quotes\n", scanner);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string sql(reinterpret_cast<const char*>(data), size);
  check(sql, tivel::ado::odbc::quoteKeywordNames(sql), "quoteKeywordNames");
  check(sql, tivel::ado::sqlite::quoteKeywordColumns(sql), "quoteKeywordColumns");
  static const tivel::ado::odbc::TableSpellings tables = [] {
    tivel::ado::odbc::TableSpellings t;
    t.assign({"umOrg2Usr", "AppRol", "App", "SysLog", "T_Scrpfile", "twin", "TWIN"});
    return t;
  }();
  std::string respelt = tables.adapt(sql);
  check(sql, respelt, "TableSpellings");
  if (respelt.size() != sql.size()) std::abort();
  return 0;
}
