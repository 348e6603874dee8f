// Connection strings: "key=value" pairs separated by ";", keys matched without
// regard to letter case and to the blanks around them.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tivel::ado {

class ConnectionString {
 public:
  // Parses the text; pairs without "=" keep an empty value. Values are trimmed.
  static ConnectionString parse(std::string_view text);

  // The value of the first pair with that key (any case, blanks ignored), or "".
  std::string get(std::string_view key) const;
  bool has(std::string_view key) const;
  // The pairs in their order, keys and values trimmed.
  const std::vector<std::pair<std::string, std::string>>& pairs() const { return pairs_; }

 private:
  std::vector<std::pair<std::string, std::string>> pairs_;
};

}  // namespace tivel::ado
