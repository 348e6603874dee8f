#include "platform/ado/keyword_words.h"

#include <strings.h>

#include <cctype>

namespace tivel::ado {
namespace {

// Length of a quoted run starting at i (the opening character included),
// with the closing character doubled inside it as an escape (not for "]").
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

// Length of the run from i that must pass unchanged: a quoted text or name,
// or a comment; 0 when none starts there.
size_t untouchable(std::string_view s, size_t i, const WordRules& rules) {
  const char c = s[i];
  if (c == '\'' || c == '"') return quotedRun(s, i, c);
  if (rules.bracketsAndBackticks && c == '`') return quotedRun(s, i, '`');
  if (rules.bracketsAndBackticks && c == '[') return quotedRun(s, i, ']');
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

bool wordChar(char c, const WordRules& rules) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || (rules.dollarInWords && c == '$') || (c & 0x80);
}

}  // namespace

std::string rewriteWords(std::string_view s, const WordRules& rules, const WordWriter& writeWord) {
  std::string out;
  out.reserve(s.size() + 8);
  size_t i = 0;
  while (i < s.size()) {
    if (size_t run = untouchable(s, i, rules)) {
      out.append(s.substr(i, run));
      i += run;
      continue;
    }
    if (!wordChar(s[i], rules)) {
      out += s[i++];
      continue;
    }
    size_t j = i;
    while (j < s.size() && wordChar(s[j], rules)) ++j;
    size_t next = j;
    while (next < s.size() && std::isspace(static_cast<unsigned char>(s[next]))) ++next;
    writeWord(out, s.substr(i, j - i), next < s.size() && s[next] == '(');
    i = j;
  }
  return out;
}

bool isNullWord(std::string_view word) { return word.size() == 6 && strncasecmp(word.data(), "isnull", 6) == 0; }

}  // namespace tivel::ado
