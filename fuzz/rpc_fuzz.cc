// The rpc host on arbitrary request lines, against a scratch portal root on
// the embedded engine: every line gets one well-formed JSON answer carrying
// an id, whatever it holds. Each input is one session of lines.
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "mgt/init/root.h"
#include "tools/tivel/rpc/host.h"
#include "tools/tivel/rpc/root.h"

namespace {

// Opening connections of the session's own choosing could reach files and
// servers outside the scratch root: lines naming one are skipped.
bool reachesOutside(std::string line) {
  std::transform(line.begin(), line.end(), line.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const char* word : {"source", "driver", "dsn", "provider", "file", "server"})
    if (line.find(word) != std::string::npos) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/tivel_rpc_fuzz_XXXXXX";
  if (::mkdtemp(dir) == nullptr) std::abort();
  tivel::tool::useRoot(dir);
  tivel::mgt::initRoot({dir, true});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  tivel::tool::RpcHost host;
  size_t start = 0;
  while (start <= input.size()) {
    size_t nl = input.find('\n', start);
    std::string line = input.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    start = nl == std::string::npos ? input.size() + 1 : nl + 1;
    if (reachesOutside(line)) continue;
    std::string answer = host.handle(line);
    if (answer.empty()) continue;
    auto json = nlohmann::json::parse(answer, nullptr, false);
    if (json.is_discarded() || !json.is_object() || !json.contains("id") ||
        json.contains("result") == json.contains("error")) {
      std::fprintf(stderr, "invariant broken: answer %s\n", answer.c_str());
      std::abort();
    }
  }
  return 0;
}
