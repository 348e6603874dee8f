#include "platform/ado/sqlite/keyword_columns.h"

#include <cctype>
#include <strings.h>

namespace tivel::ado::sqlite {
namespace {

bool wordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || (c & 0x80); }

// Length of a quoted run starting at i (the opening character included),
// with the closing character doubled inside it as an escape.
size_t quotedRun(std::string_view s, size_t i, char close) {
  size_t j = i + 1;
  while (j < s.size()) {
    if (s[j] == close) {
      if (j + 1 < s.size() && s[j + 1] == close && close != ']') {
        j += 2;
        continue;
      }
      return j + 1 - i;
    }
    ++j;
  }
  return s.size() - i;
}

}  // namespace

std::string quoteKeywordColumns(std::string_view s) {
  if (s.size() < 6) return std::string(s);
  std::string out;
  out.reserve(s.size() + 8);
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    size_t run = 0;
    if (c == '\'') run = quotedRun(s, i, '\'');
    else if (c == '"') run = quotedRun(s, i, '"');
    else if (c == '`') run = quotedRun(s, i, '`');
    else if (c == '[') run = quotedRun(s, i, ']');
    else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      size_t end = s.find('\n', i);
      run = (end == std::string_view::npos ? s.size() : end) - i;
    } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      size_t end = s.find("*/", i + 2);
      run = (end == std::string_view::npos ? s.size() : end + 2) - i;
    } else if (wordChar(c)) {
      size_t j = i;
      while (j < s.size() && wordChar(s[j])) ++j;
      std::string_view word = s.substr(i, j - i);
      if (word.size() == 6 && strncasecmp(word.data(), "isnull", 6) == 0) {
        out += '"';
        out += word;
        out += '"';
      } else {
        out += word;
      }
      i = j;
      continue;
    } else {
      run = 1;
    }
    out.append(s.substr(i, run));
    i += run;
  }
  return out;
}

}  // namespace tivel::ado::sqlite
