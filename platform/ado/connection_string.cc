#include "platform/ado/connection_string.h"

#include <strings.h>

#include "platform/com/text.h"

namespace tivel::ado {
namespace {

using com::trimWhitespace;

std::string_view trim(std::string_view s) { return trimWhitespace(s); }

bool sameKey(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

// A value that starts with "{" runs to its closing "}" ("}}" stands for one
// "}"), so ODBC values such as passwords may hold ";". The braces stay part of
// the value: the ODBC driver reads them again when the pairs are handed on.
ConnectionString ConnectionString::parse(std::string_view text) {
  ConnectionString cs;
  size_t i = 0;
  while (i < text.size()) {
    size_t eq = std::string_view::npos, end = i;
    while (end < text.size() && text[end] != ';') {
      if (text[end] == '=' && eq == std::string_view::npos) {
        eq = end;
        size_t v = eq + 1;
        while (v < text.size() && trimWhitespace(text.substr(v, 1)).empty()) ++v;
        if (v < text.size() && text[v] == '{') {
          size_t j = v + 1;
          while (j < text.size()) {
            if (text[j] == '}') {
              if (j + 1 < text.size() && text[j + 1] == '}') {
                j += 2;
                continue;
              }
              break;
            }
            ++j;
          }
          end = j < text.size() ? j + 1 : j;
          continue;
        }
      }
      ++end;
    }
    std::string_view piece = text.substr(i, end - i);
    std::string_view key = piece, value;
    if (eq != std::string_view::npos) {
      key = piece.substr(0, eq - i);
      value = piece.substr(eq - i + 1);
    }
    i = end + 1;
    key = trim(key);
    value = trim(value);
    if (key.empty()) continue;  // ";;", a trailing ";" or "=value" alone
    cs.pairs_.emplace_back(std::string(key), std::string(value));
  }
  return cs;
}

std::string ConnectionString::get(std::string_view key) const {
  key = trim(key);
  for (const auto& [k, v] : pairs_)
    if (sameKey(k, key)) return v;
  return "";
}

bool ConnectionString::has(std::string_view key) const {
  key = trim(key);
  for (const auto& [k, v] : pairs_)
    if (sameKey(k, key)) return true;
  return false;
}

}  // namespace tivel::ado
