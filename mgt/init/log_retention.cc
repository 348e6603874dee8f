#include "mgt/init/log_retention.h"

#include "mgt/common/helpers.h"
#include "platform/ado/recordset.h"
#include "platform/com/error.h"

namespace tivel::mgt {

long pruneSystemLog(ado::Connection& conn, const com::DateTime& before, int batch,
                    const std::function<void(long deleted)>& progress) {
  if (batch < 1) com::raise(com::kInvalidArgument, "tivel log", "the batch size must be at least 1");
  const std::string limit = "'" + QuoteSql(before.text()) + "'";
  long total = 0;
  for (;;) {
    // The keys of the oldest entries first, then their deletion by key: a
    // bounded statement every engine runs the same way.
    std::string keys;
    int found = 0;
    auto rs = conn.execute("select Log_no from SysLog where WDateTime < " + limit + " order by WDateTime limit " +
                           std::to_string(batch));
    for (; !rs->eof(); rs->moveNext(), ++found)
      keys += (keys.empty() ? "'" : ",'") + QuoteSql(rs->value(0).toString()) + "'";
    rs->close();
    if (found == 0) break;
    long deleted = 0;
    conn.inTransaction([&] { conn.execute("delete from SysLog where Log_no in (" + keys + ")", &deleted); });
    total += deleted;
    if (progress) progress(total);
    if (deleted == 0) break;  // another process took them meanwhile: nothing more to do here
  }
  return total;
}

}  // namespace tivel::mgt
