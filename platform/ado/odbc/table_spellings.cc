#include "platform/ado/odbc/table_spellings.h"

#include <cctype>

#include "platform/ado/keyword_words.h"

namespace tivel::ado::odbc {
namespace {

void lowerInto(std::string_view word, std::string* out) {
  out->assign(word);
  for (char& c : *out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

void TableSpellings::assign(const std::vector<std::string>& names) {
  byLowerCase_.clear();
  std::string key;
  for (const std::string& name : names) {
    lowerInto(name, &key);
    auto [it, added] = byLowerCase_.emplace(key, name);
    if (!added && it->second != name) it->second.clear();
  }
}

std::string TableSpellings::adapt(std::string_view sql) const {
  if (byLowerCase_.empty()) return std::string(sql);
  std::string key;
  return rewriteWords(sql, {.dollarInWords = true, .bracketsAndBackticks = true},
                      [&](std::string& out, std::string_view word, bool) {
                        lowerInto(word, &key);
                        auto it = byLowerCase_.find(key);
                        out += it == byLowerCase_.end() || it->second.empty() ? word : std::string_view(it->second);
                      });
}

std::string TableSpellings::spelling(const std::string& name) const {
  std::string key;
  lowerInto(name, &key);
  auto it = byLowerCase_.find(key);
  return it == byLowerCase_.end() || it->second.empty() ? name : it->second;
}

}  // namespace tivel::ado::odbc
