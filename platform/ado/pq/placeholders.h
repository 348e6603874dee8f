// Statement texts for libpq: the "?" placeholders of the data-access layer
// written as PostgreSQL's numbered $1, $2, ...
#pragma once

#include <string>
#include <string_view>

namespace tivel::ado::pq {

struct NumberedText {
  std::string text;  // the statement with $n in place of each "?"
  int count = 0;     // how many placeholders it holds
};

// Numbers every "?" outside quoted texts ('...', E'...', $tag$...$tag$),
// quoted names and comments (-- and nested /* */), in order from $1.
NumberedText numberPlaceholders(std::string_view sql);

}  // namespace tivel::ado::pq
