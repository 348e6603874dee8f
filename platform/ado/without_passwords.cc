#include "platform/ado/without_passwords.h"

#include <strings.h>

#include <cctype>

namespace tivel::ado {
namespace {

bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The length of the password key at `at` ("pwd" or "password", not inside a
// longer name), 0 when there is none.
size_t keyAt(std::string_view text, size_t at) {
  if (at > 0 && isNameChar(text[at - 1])) return 0;
  for (std::string_view key : {std::string_view("password"), std::string_view("pwd")}) {
    if (text.size() - at < key.size() || strncasecmp(text.data() + at, key.data(), key.size()) != 0) continue;
    size_t end = at + key.size();
    if (end < text.size() && isNameChar(text[end])) continue;
    return key.size();
  }
  return 0;
}

// Where the value starting at `v` ends (one past it).
size_t valueEnd(std::string_view text, size_t v) {
  if (v >= text.size()) return v;
  char open = text[v];
  char close = open == '{' ? '}' : open;
  if (open == '\'' || open == '"' || open == '{') {
    for (size_t j = v + 1; j < text.size(); ++j) {
      if (text[j] == '\\' && open != '{') {
        ++j;
        continue;
      }
      if (text[j] != close) continue;
      if (j + 1 < text.size() && text[j + 1] == close) {  // a doubled quote or brace stands for one
        ++j;
        continue;
      }
      return j + 1;
    }
    return text.size();
  }
  size_t j = v;
  while (j < text.size() && text[j] != ';' && !std::isspace(static_cast<unsigned char>(text[j]))) ++j;
  return j;
}

}  // namespace

std::string withoutPasswords(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t key = keyAt(text, i);
    if (key == 0) {
      out += text[i++];
      continue;
    }
    size_t eq = i + key;
    while (eq < text.size() && text[eq] == ' ') ++eq;
    if (eq >= text.size() || text[eq] != '=') {
      out.append(text.substr(i, key));
      i += key;
      continue;
    }
    size_t v = eq + 1;
    while (v < text.size() && text[v] == ' ') ++v;
    out.append(text.substr(i, v - i));
    out += "***";
    i = valueEnd(text, v);
  }
  return out;
}

}  // namespace tivel::ado
