// UTF-8 <-> UTF-16 for the wide ODBC calls. Text crosses the driver boundary
// only as UTF-16, so what arrives does not depend on the process's locale.
#pragma once

#include <string>
#include <string_view>

namespace tivel::ado::odbc {

// UTF-8 to UTF-16. Malformed bytes become U+FFFD, never a failure.
std::u16string toUtf16(std::string_view utf8);
// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view utf16);

}  // namespace tivel::ado::odbc
