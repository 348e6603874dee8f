// The embedded engine reads ISNULL as an operator keyword, while the
// management database has columns named isNull that the system's statements
// name bare ("insert into umUsrSecAttr(...,isNull,...)"). Statements are
// therefore given to the engine with every bare isNull word quoted as an
// identifier; the ISNULL postfix operator (spelled IS NULL everywhere else)
// is not available through this backend.
#pragma once

#include <string>
#include <string_view>

namespace tivel::ado::sqlite {

// The statement text with bare isNull words (any case) outside literals,
// quoted identifiers and comments written as "isNull".
std::string quoteKeywordColumns(std::string_view sql);

}  // namespace tivel::ado::sqlite
