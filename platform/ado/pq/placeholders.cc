#include "platform/ado/pq/placeholders.h"

#include <cctype>

namespace tivel::ado::pq {
namespace {

bool wordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || (c & 0x80); }

// End of a run quoted by `close` from i (the opening character), the closing
// character doubled inside standing for itself; with `backslash`, "\" escapes
// the next character (E'...').
size_t quotedEnd(std::string_view s, size_t i, char close, bool backslash) {
  size_t j = i + 1;
  while (j < s.size()) {
    if (backslash && s[j] == '\\') {
      j += 2;
      continue;
    }
    if (s[j] == close) {
      if (j + 1 < s.size() && s[j + 1] == close) {
        j += 2;
        continue;
      }
      return j + 1;
    }
    ++j;
  }
  return s.size();
}

// End of a /* */ comment from i; PostgreSQL nests them.
size_t blockCommentEnd(std::string_view s, size_t i) {
  int depth = 0;
  size_t j = i;
  while (j + 1 < s.size()) {
    if (s[j] == '/' && s[j + 1] == '*') {
      ++depth;
      j += 2;
    } else if (s[j] == '*' && s[j + 1] == '/') {
      j += 2;
      if (--depth == 0) return j;
    } else {
      ++j;
    }
  }
  return s.size();
}

// The tag of a dollar quote starting at i ("$$" or "$name$"), "" when none does.
std::string_view dollarTag(std::string_view s, size_t i) {
  size_t j = i + 1;
  while (j < s.size() && (wordChar(s[j]) && !std::isdigit(static_cast<unsigned char>(s[i + 1])))) ++j;
  if (j < s.size() && s[j] == '$') return s.substr(i, j + 1 - i);
  return {};
}

}  // namespace

NumberedText numberPlaceholders(std::string_view s) {
  NumberedText out;
  out.text.reserve(s.size() + 8);
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    size_t end = i;
    if (c == '\'') {
      // E'...' reads backslash escapes; the E was copied as a word character.
      const bool escapes = i > 0 && (s[i - 1] == 'E' || s[i - 1] == 'e') && (i < 2 || !wordChar(s[i - 2]));
      end = quotedEnd(s, i, '\'', escapes);
    } else if (c == '"') {
      end = quotedEnd(s, i, '"', false);
    } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      size_t nl = s.find('\n', i);
      end = nl == std::string_view::npos ? s.size() : nl;
    } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      end = blockCommentEnd(s, i);
    } else if (c == '$' && (i == 0 || !wordChar(s[i - 1]))) {
      std::string_view tag = dollarTag(s, i);
      if (!tag.empty()) {
        size_t close = s.find(tag, i + tag.size());
        end = close == std::string_view::npos ? s.size() : close + tag.size();
      }
    } else if (c == '?') {
      out.text += '$';
      out.text += std::to_string(++out.count);
      ++i;
      continue;
    } else if (wordChar(c)) {
      // A whole word at once, so that "$" inside it ("a$b") is no quote.
      end = i;
      while (end < s.size() && (wordChar(s[end]) || s[end] == '$')) ++end;
    }
    if (end == i) end = i + 1;
    out.text.append(s.substr(i, end - i));
    i = end;
  }
  return out;
}

}  // namespace tivel::ado::pq
