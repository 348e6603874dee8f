#include "platform/com/registry.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <optional>

#include "platform/com/class_catalogue.h"

namespace tivel::com {
namespace {

struct Entry {
  const ClassInfo* info;
  Factory factory;
  const void* origin;
};

std::string folded(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Filled at static-initialisation time of every component library, read
// afterwards from any thread.
std::map<std::string, Entry>& table() {
  static std::map<std::string, Entry> t;
  return t;
}

std::mutex& tableMutex() {
  static std::mutex m;
  return m;
}

// The entry of a registered class; a class not registered yet is looked up
// in the root's component catalogue and its library loaded (outside the lock:
// loading registers classes). A library that fails to load fails the call.
std::optional<Entry> lookup(std::string_view progid) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    {
      std::lock_guard lock(tableMutex());
      auto it = table().find(folded(progid));
      if (it != table().end()) return it->second;
    }
    if (attempt == 0 && !loadCatalogueClass(progid)) break;
  }
  return std::nullopt;
}

}  // namespace

[[gnu::noinline]] void registerClass(const ClassInfo& info, Factory factory) {
  // Where this was called from tells which library registers the class.
  const void* origin = __builtin_extract_return_addr(__builtin_return_address(0));
  std::lock_guard lock(tableMutex());
  table()[folded(info.progid())] = Entry{&info, std::move(factory), origin};
}

const void* registrationOrigin(std::string_view progid) {
  std::lock_guard lock(tableMutex());
  auto it = table().find(folded(progid));
  return it == table().end() ? nullptr : it->second.origin;
}

ObjectPtr CreateObject(std::string_view progid) {
  std::optional<Entry> e = lookup(progid);
  if (!e) raise(kInvalidClassString, "CreateObject", "Invalid class string: " + std::string(progid));
  return e->factory();
}

const ClassInfo* findClass(std::string_view progid) {
  try {
    std::optional<Entry> e = lookup(progid);
    return e ? e->info : nullptr;
  } catch (const ComError&) {
    return nullptr;
  }
}

std::vector<std::string> registeredClasses() {
  std::lock_guard lock(tableMutex());
  std::vector<std::string> out;
  for (const auto& [k, e] : table()) out.push_back(e.info->progid());
  return out;
}

}  // namespace tivel::com
