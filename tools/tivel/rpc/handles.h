// The host's object handles: every object it answers gets a new integer
// handle, counted from 1, and the handle keeps the object alive until the
// client releases it or the host ends.
#pragma once

#include <cstdint>
#include <map>
#include <string>

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

  // Notes that the request with id `id` (its JSON text) answered the object
  // behind `handle`, so that a later {"from":id} names it; a later answer to
  // the same id replaces the note.
  void name(const std::string& id, int64_t handle) {
    values_.erase(id);
    named_[id] = handle;
  }
  // Notes that the request with id `id` answered a value (no object), so
  // that a later {"from":id} in a value's place stands for it.
  void nameValue(const std::string& id, com::Variant value);
  // Drops the notes of an id whose latest answer was neither (an error, a dump).
  void unname(const std::string& id) {
    named_.erase(id);
    values_.erase(id);
  }
  // The handle noted for `id`; fails with badRequest when none is.
  int64_t named(const std::string& id) const;
  // What the request with id `id` answered, object or value; fails with
  // badRequest when it answered neither.
  com::Variant answered(const std::string& id) const;

 private:
  std::map<int64_t, com::ObjectPtr> objects_;
  std::map<std::string, int64_t> named_;
  std::map<std::string, com::Variant> values_;
  int64_t next_ = 1;
};

}  // namespace tivel::tool
