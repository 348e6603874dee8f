#include "tools/tivel/rpc/handles.h"

#include <string>

#include "tools/tivel/rpc/error.h"

namespace tivel::tool {

HandleTable::~HandleTable() {
  // Newer objects may depend on older ones (a recordset on its connection);
  // let them go first.
  while (!objects_.empty()) objects_.erase(std::prev(objects_.end()));
}

int64_t HandleTable::add(com::ObjectPtr object) {
  int64_t h = next_++;
  objects_.emplace(h, std::move(object));
  return h;
}

com::ObjectPtr HandleTable::find(int64_t handle) const {
  auto it = objects_.find(handle);
  if (it == objects_.end()) badRequest("Unknown object handle: " + std::to_string(handle));
  return it->second;
}

int64_t HandleTable::named(const std::string& id) const {
  auto it = named_.find(id);
  if (it == named_.end()) badRequest("No earlier request with id " + id + " answered an object");
  return it->second;
}

void HandleTable::nameValue(const std::string& id, com::Variant value) {
  named_.erase(id);
  values_[id] = std::move(value);
}

com::Variant HandleTable::answered(const std::string& id) const {
  if (auto v = values_.find(id); v != values_.end()) return v->second;
  auto it = named_.find(id);
  if (it == named_.end()) badRequest("No earlier request with id " + id + " answered an object or a value");
  return com::Variant(find(it->second));
}

void HandleTable::release(int64_t handle) {
  auto it = objects_.find(handle);
  if (it == objects_.end()) badRequest("Unknown object handle: " + std::to_string(handle));
  // Move the reference out first so that a destructor running arbitrary
  // code never sees the table half-changed.
  com::ObjectPtr gone = std::move(it->second);
  objects_.erase(it);
}

}  // namespace tivel::tool
