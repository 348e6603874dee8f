// The host's object handles: every object it answers gets a new integer
// handle, counted from 1, and the handle keeps the object alive until the
// client releases it or the host ends.
#pragma once

#include <cstdint>
#include <map>

#include "platform/com/variant.h"

namespace tivel::tool {

class HandleTable {
 public:
  HandleTable() = default;
  // Drops the remaining references, newest first.
  ~HandleTable();
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;

  // Keeps a reference to the object and returns its new handle (never reused).
  int64_t add(com::ObjectPtr object);
  // The object behind a handle; fails with badRequest for a handle not held.
  com::ObjectPtr find(int64_t handle) const;
  // Drops the reference a handle holds; fails as find does.
  void release(int64_t handle);
  // The number of handles held.
  size_t size() const { return objects_.size(); }

 private:
  std::map<int64_t, com::ObjectPtr> objects_;
  int64_t next_ = 1;
};

}  // namespace tivel::tool
