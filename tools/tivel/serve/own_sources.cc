#include "tools/tivel/serve/own_sources.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <thread>

#include "fee/module.h"
#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "platform/ado/connection_string.h"
#include "platform/ado/data_files.h"

namespace tivel::tool {
namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// One text per connection string, equal for strings that reach the same
// database the same way; "" for a string that names a key twice (which of
// its values a driver takes is not ours to guess).
std::string form(const std::string& text) {
  std::vector<std::string> pairs;
  const ado::ConnectionString cs = ado::ConnectionString::parse(text);
  const bool sqlite = lower(cs.get("Provider")) == "sqlite";
  for (const auto& [k, v] : cs.pairs()) {
    const std::string key = lower(k);
    std::string value = v;
    if (key == "provider") value = lower(value);
    if (sqlite && key == "data source" && !value.empty()) {
      std::error_code ec;
      std::filesystem::path real = std::filesystem::weakly_canonical(value, ec);
      if (!ec) value = real.string();
    }
    pairs.push_back(key + "=" + value);
  }
  std::sort(pairs.begin(), pairs.end());
  std::string out;
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (i > 0 && pairs[i].substr(0, pairs[i].find('=')) == pairs[i - 1].substr(0, pairs[i - 1].find('='))) return "";
    out += pairs[i] + '\n';
  }
  return out;
}

}  // namespace

OwnSources OwnSources::ofRoot() {
  std::vector<std::string> strings;
  // On a thread of its own: the components keep their configuration path
  // per thread, and this one's may name an earlier root.
  std::thread([&strings] {
    // Either file may be missing or unreadable in a root; it then gives none.
    // Each as the component opens it too, with the connect time-out of its
    // INI file added.
    try {
      strings.push_back(mgt::GetConnectionString());
      strings.push_back(ado::withConnectTimeout(strings.back(), mgt::configPath()));
    } catch (...) {
    }
    try {
      strings.push_back(gf::GetConnectionString());
      strings.push_back(ado::withConnectTimeout(strings.back(), gf::iniPath()));
    } catch (...) {
    }
  }).join();
  return OwnSources(strings);
}

OwnSources::OwnSources(const std::vector<std::string>& connectionStrings) {
  for (const std::string& s : connectionStrings)
    if (std::string f = form(s); !f.empty()) forms_.push_back(std::move(f));
}

bool OwnSources::contains(const std::string& connectionString) const {
  const std::string f = form(connectionString);
  return !f.empty() && std::find(forms_.begin(), forms_.end(), f) != forms_.end();
}

}  // namespace tivel::tool
