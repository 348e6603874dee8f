#include "platform/com/registry.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

namespace tivel::com {
namespace {

struct Entry {
  const ClassInfo* info;
  Factory factory;
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

}  // namespace

void registerClass(const ClassInfo& info, Factory factory) {
  std::lock_guard lock(tableMutex());
  table()[folded(info.progid())] = Entry{&info, std::move(factory)};
}

ObjectPtr CreateObject(std::string_view progid) {
  Factory f;
  {
    std::lock_guard lock(tableMutex());
    auto it = table().find(folded(progid));
    if (it == table().end())
      raise(kInvalidClassString, "CreateObject", "Invalid class string: " + std::string(progid));
    f = it->second.factory;
  }
  return f();
}

const ClassInfo* findClass(std::string_view progid) {
  std::lock_guard lock(tableMutex());
  auto it = table().find(folded(progid));
  return it == table().end() ? nullptr : it->second.info;
}

std::vector<std::string> registeredClasses() {
  std::lock_guard lock(tableMutex());
  std::vector<std::string> out;
  for (const auto& [k, e] : table()) out.push_back(e.info->progid());
  return out;
}

}  // namespace tivel::com
