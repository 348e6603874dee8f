#include "setup/service_state.h"

#include <strings.h>

#include <stdexcept>

namespace tivel::setup {
namespace {

using Json = nlohmann::json;

// A member of `j` or the fallback when absent; a member of the wrong kind fails.
template <class T>
T field(const Json& j, const char* key, T fallback) {
  auto it = j.find(key);
  return it == j.end() ? fallback : it->template get<T>();
}

const Json& arrayAt(const Json& j, const char* key) {
  static const Json empty = Json::array();
  auto it = j.find(key);
  if (it == j.end()) return empty;
  if (!it->is_array()) throw std::invalid_argument(std::string(key) + " must be an array");
  return *it;
}

}  // namespace

bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

Json toJson(const ServiceState& s) {
  Json dirs = Json::array();
  for (const auto& d : s.virtualDirectories)
    dirs.push_back({{"name", d.name},
                    {"path", d.path},
                    {"application", d.application},
                    {"accessRead", d.accessRead},
                    {"accessWrite", d.accessWrite},
                    {"accessExecute", d.accessExecute}});
  Json accounts = Json::array();
  for (const auto& a : s.accounts)
    accounts.push_back(
        {{"name", a.name}, {"fullName", a.fullName}, {"description", a.description}, {"passwordHash", a.passwordHash}});
  Json groups = Json::array();
  for (const auto& g : s.groups) groups.push_back({{"name", g.name}, {"members", g.members}});
  Json packages = Json::array();
  for (const auto& p : s.packages) {
    Json components = Json::array();
    for (const auto& c : p.components) components.push_back({{"progId", c.progId}, {"file", c.file}});
    packages.push_back({{"key", p.key},
                        {"name", p.name},
                        {"identity", p.identity},
                        {"passwordHash", p.passwordHash},
                        {"components", components}});
  }
  return Json{{"web", {{"virtualDirectories", dirs}}},
              {"ftp", {{"path", s.ftp.path}, {"accessRead", s.ftp.accessRead}, {"accessWrite", s.ftp.accessWrite}}},
              {"accounts", accounts},
              {"groups", groups},
              {"packages", packages}};
}

ServiceState fromJson(const Json& j) {
  if (!j.is_object()) throw std::invalid_argument("the document must be an object");
  ServiceState s;
  if (j.contains("web"))
    for (const auto& d : arrayAt(j.at("web"), "virtualDirectories"))
      s.virtualDirectories.push_back({field<std::string>(d, "name", ""), field<std::string>(d, "path", ""),
                                      field<std::string>(d, "application", ""), field(d, "accessRead", true),
                                      field(d, "accessWrite", false), field(d, "accessExecute", false)});
  if (j.contains("ftp")) {
    const Json& f = j.at("ftp");
    s.ftp = {field<std::string>(f, "path", ""), field(f, "accessRead", true), field(f, "accessWrite", false)};
  }
  for (const auto& a : arrayAt(j, "accounts"))
    s.accounts.push_back({field<std::string>(a, "name", ""), field<std::string>(a, "fullName", ""),
                          field<std::string>(a, "description", ""), field<std::string>(a, "passwordHash", "")});
  if (j.contains("groups")) {
    s.groups.clear();
    for (const auto& g : arrayAt(j, "groups"))
      s.groups.push_back({field<std::string>(g, "name", ""), field(g, "members", std::vector<std::string>{})});
  }
  for (const auto& p : arrayAt(j, "packages")) {
    Package package{field<std::string>(p, "key", ""),
                    field<std::string>(p, "name", ""),
                    field<std::string>(p, "identity", ""),
                    field<std::string>(p, "passwordHash", ""),
                    {}};
    for (const auto& c : arrayAt(p, "components"))
      package.components.push_back({field<std::string>(c, "progId", ""), field<std::string>(c, "file", "")});
    s.packages.push_back(std::move(package));
  }
  return s;
}

}  // namespace tivel::setup
