#include "platform/ado/sqlite/keyword_columns.h"

#include "platform/ado/keyword_words.h"

namespace tivel::ado::sqlite {

std::string quoteKeywordColumns(std::string_view s) {
  if (s.size() < 6) return std::string(s);
  return rewriteWords(s, {.dollarInWords = false, .bracketsAndBackticks = true},
                      [](std::string& out, std::string_view word, bool /*call*/) {
                        if (isNullWord(word)) {
                          out += '"';
                          out += word;
                          out += '"';
                        } else {
                          out += word;
                        }
                      });
}

}  // namespace tivel::ado::sqlite
