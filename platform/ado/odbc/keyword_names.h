// Column names of the system that PostgreSQL reads as keywords. The
// management tables have a column isNull, which the statements name bare;
// PostgreSQL takes a bare ISNULL for its postfix null test.
#pragma once

#include <string>
#include <string_view>

namespace tivel::ado::odbc {

// Quotes every bare isnull word (any case, not followed by "(") as "isnull",
// the column's folded name; quoted texts, quoted names and comments are left
// as they are.
std::string quoteKeywordNames(std::string_view sql);

}  // namespace tivel::ado::odbc
