#include "platform/ado/odbc/keyword_names.h"

#include "platform/ado/keyword_words.h"

namespace tivel::ado::odbc {

std::string quoteKeywordNames(std::string_view s) {
  return rewriteWords(s, {.dollarInWords = true, .bracketsAndBackticks = false},
                      [](std::string& out, std::string_view word, bool call) {
                        if (isNullWord(word) && !call)
                          out += "\"isnull\"";
                        else
                          out += word;
                      });
}

}  // namespace tivel::ado::odbc
