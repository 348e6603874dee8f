#include "platform/ado/odbc/keyword_names.h"

#include <strings.h>

#include <cctype>

namespace tivel::ado::odbc {
namespace {

bool wordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || (c & 0x80); }

// Length of the run from i that must pass unchanged: a quoted text or name
// (the closing quote doubled inside it), or a comment; 0 when none starts there.
size_t untouchable(std::string_view s, size_t i) {
  char c = s[i];
  if (c == '\'' || c == '"') {
    size_t j = i + 1;
    while (j < s.size()) {
      if (s[j] == c) {
        if (j + 1 < s.size() && s[j + 1] == c) {
          j += 2;
          continue;
        }
        return j + 1 - i;
      }
      ++j;
    }
    return s.size() - i;
  }
  if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
    size_t end = s.find('\n', i);
    return (end == std::string_view::npos ? s.size() : end) - i;
  }
  if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
    size_t end = s.find("*/", i + 2);
    return (end == std::string_view::npos ? s.size() : end + 2) - i;
  }
  return 0;
}

}  // namespace

std::string quoteKeywordNames(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 8);
  size_t i = 0;
  while (i < s.size()) {
    if (size_t run = untouchable(s, i)) {
      out.append(s.substr(i, run));
      i += run;
      continue;
    }
    if (!wordChar(s[i])) {
      out += s[i++];
      continue;
    }
    size_t j = i;
    while (j < s.size() && wordChar(s[j])) ++j;
    std::string_view word = s.substr(i, j - i);
    size_t next = j;
    while (next < s.size() && std::isspace(static_cast<unsigned char>(s[next]))) ++next;
    bool call = next < s.size() && s[next] == '(';
    if (word.size() == 6 && strncasecmp(word.data(), "isnull", 6) == 0 && !call) out += "\"isnull\"";
    else out += word;
    i = j;
  }
  return out;
}

}  // namespace tivel::ado::odbc
