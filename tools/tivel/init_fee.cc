#include "tools/tivel/init_fee.h"

#include <iostream>

#include "fee/schema.h"
#include "mgt/init/role_check.h"
#include "mgt/init/schema.h"

namespace tivel::tool {

void initFeeRoot(const std::string& root, const std::function<std::string(const std::string&)>& hide) {
  gf::FeeInitReport r = gf::initFeeDatabase(root);
  std::cout << "fee config: " << r.iniPath << (r.wroteIni ? " (written)" : " (kept)") << "\n"
            << "fee db:     " << hide(r.connectionString) << (r.createdDatabaseFile ? " (created)" : "") << "\n"
            << "fee schema: ready\n";
  ado::Connection conn;
  conn.open(r.connectionString);
  mgt::applySchema(conn, "fee");  // records the fee schema's version
  for (const std::string& w : mgt::roleWarnings(conn)) std::cerr << "tivel init: warning: fee database: " << w << "\n";
  conn.close();
}

}  // namespace tivel::tool
