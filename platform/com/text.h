// Small text routines the components share.
#pragma once

#include <string>
#include <string_view>

namespace tivel::com {

// The text without the blanks, tabs and line ends around it.
std::string_view trimWhitespace(std::string_view s);

// The text with every single quote doubled: the inside of a statement's
// literal between single quotes.
std::string doubleSingleQuotes(std::string_view s);

}  // namespace tivel::com
