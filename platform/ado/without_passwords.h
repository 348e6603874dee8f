// Taking passwords out of a text before it is shown: a driver's message may
// repeat the connection string or its options.
#pragma once

#include <string>
#include <string_view>

namespace tivel::ado {

// The text with the value of every PWD=, Password= and password='...'
// (any letter case, blanks around "=" allowed) replaced by "***"; a value
// runs to its closing quote or brace, or to ";", a blank or the end.
std::string withoutPasswords(std::string_view text);

}  // namespace tivel::ado
