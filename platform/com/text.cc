#include "platform/com/text.h"

namespace tivel::com {
namespace {

bool isWhitespace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string_view trimWhitespace(std::string_view s) {
  while (!s.empty() && isWhitespace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isWhitespace(s.back())) s.remove_suffix(1);
  return s;
}

std::string doubleSingleQuotes(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

}  // namespace tivel::com
