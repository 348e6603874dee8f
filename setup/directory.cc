#include "setup/directory.h"

#include <strings.h>

#include "platform/com/error.h"
#include "setup/computer_name.h"
#include "setup/directory_objects.h"
#include "setup/service_errors.h"

namespace tivel::setup {
namespace {

bool startsWith(std::string_view s, std::string_view prefix, bool anyCase) {
  if (s.size() < prefix.size()) return false;
  return anyCase ? strncasecmp(s.data(), prefix.data(), prefix.size()) == 0 : s.substr(0, prefix.size()) == prefix;
}

[[noreturn]] void badPath(std::string_view path) {
  com::raise(kBadPathname, "bindPath", "An invalid directory pathname was passed: " + std::string(path));
}

}  // namespace

DirectoryPtr bindPath(std::string_view path) {
  // Provider names are matched exactly, the rest in any letter case.
  if (startsWith(path, "IIS://", false)) {
    std::string_view rest = path.substr(6);
    if (sameName(std::string(rest), "LocalHost/W3SVC/1/Root")) return webRoot();
    if (sameName(std::string(rest), "LocalHost/MSFTPSVC/1/Root")) return ftpRoot();
    badPath(path);
  }
  if (startsWith(path, "WinNT://", false)) {
    std::string rest(path.substr(8));
    size_t slash = rest.find('/');
    std::string computer = rest.substr(0, slash);
    if (!sameName(computer, localComputerName())) badPath(path);
    if (slash == std::string::npos) return computerObject(computer);
    std::string group = rest.substr(slash + 1);
    if (group.empty() || group.find('/') != std::string::npos) badPath(path);
    return groupObject(computer, group);
  }
  badPath(path);
}

DirectoryObject::DirectoryObject(std::string path, std::vector<Property> schema)
    : path_(std::move(path)), schema_(std::move(schema)) {}

void DirectoryObject::Put(std::string_view property, const com::Variant& value) {
  for (const Property& p : schema_) {
    if (!sameName(p.name, std::string(property))) continue;
    com::Variant converted = value.coerce(p.kind);
    for (auto& [name, v] : cache_)
      if (name == p.name) {
        v = std::move(converted);
        return;
      }
    cache_.emplace_back(p.name, std::move(converted));
    return;
  }
  com::raise(kPropertyNotFound, path_, "The directory property cannot be found in the cache: " + std::string(property));
}

const com::Variant* DirectoryObject::cached(std::string_view property) const {
  for (const auto& [name, v] : cache_)
    if (name == property) return &v;
  return nullptr;
}

void DirectoryObject::unsupported(const char* member) const {
  com::raise(kNotSupported, path_, std::string(member) + " is not supported by this object");
}

DirectoryPtr DirectoryObject::Create(std::string_view, std::string_view) { unsupported("Create"); }
void DirectoryObject::Delete(std::string_view, std::string_view) { unsupported("Delete"); }
void DirectoryObject::AppCreate(bool) { unsupported("AppCreate"); }
void DirectoryObject::SetPassword(std::string_view) { unsupported("SetPassword"); }
void DirectoryObject::Add(std::string_view) { unsupported("Add"); }

}  // namespace tivel::setup
