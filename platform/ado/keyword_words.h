// The scan both engines' keyword quoting shares: a statement text walked word
// by word, with quoted texts, quoted names and comments passed over unchanged.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tivel::ado {

// What counts as a word and as a quoted run for one engine.
struct WordRules {
  bool dollarInWords = false;         // "$" continues a word
  bool bracketsAndBackticks = false;  // `name` and [name] are quoted names too
};

// Writes one bare word to out; `call` tells whether "(" follows it (after blanks).
using WordWriter = std::function<void(std::string& out, std::string_view word, bool call)>;

// The statement text with every bare word written by writeWord and the rest copied as it is.
std::string rewriteWords(std::string_view sql, const WordRules& rules, const WordWriter& writeWord);

// True when the word is "isnull" in any letter case.
bool isNullWord(std::string_view word);

}  // namespace tivel::ado
