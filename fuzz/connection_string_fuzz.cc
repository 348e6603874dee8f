// Connection-string parsing and the mapping to an ODBC connect string on
// arbitrary text: failures are call errors, never crashes, and the parsed
// pairs answer their own lookups.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/ado/connection_string.h"
#include "platform/ado/odbc/odbc_connection_string.h"
#include "platform/com/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tivel::ado;
  std::string text(reinterpret_cast<const char*>(data), size);
  ConnectionString cs = ConnectionString::parse(text);
  for (const auto& [key, value] : cs.pairs())
    if (!cs.has(key)) {
      std::fprintf(stderr, "invariant broken: parsed key '%s' not found again\n", key.c_str());
      std::abort();
    }
  cs.get("Provider");
  try {
    odbc::OdbcTarget t =
        odbc::toOdbc(cs, [](const std::string& name) { return name.find("PostgreSQL") != std::string::npos; });
    // The connect string the driver manager reads is the text of key=value pairs.
    ConnectionString::parse(t.connectString);
  } catch (const tivel::com::ComError&) {
  }
  return 0;
}
