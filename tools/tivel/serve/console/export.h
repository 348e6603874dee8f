// The console's exports: the users (with the list's filters and order) and
// the system log (with the log page's filters) as CSV files a spreadsheet
// opens as they are: UTF-8 with a byte-order mark (so Chinese text is read
// right), CRLF line ends, every cell quoted, and a cell that a spreadsheet
// would take for a formula (=, +, -, @, tab, CR first) written with a "'"
// before it. Each export writes one system log entry naming the
// administrator and the number of rows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tools/tivel/serve/http.h"

namespace tivel::tool {

// The most rows one export writes; a larger selection is refused (413) with
// a request to narrow the filters, so one export never holds the server.
inline constexpr size_t kExportRowLimit = 100000;

// One CSV cell: quoted, quotes doubled, a formula's first character defused.
std::string csvCell(std::string_view text);

// Answers GET /console/export/users.csv (arguments q, org, grp, state, sort)
// or /console/export/log.csv (from, to, account, text) for the signed-in
// `account` (a batch thread only): the file, 400 for a filter that cannot be
// read, 404 for another name, 413 past kExportRowLimit.
void answerExport(const HttpRequest& request, HttpResponse& response, const std::string& account);

}  // namespace tivel::tool
