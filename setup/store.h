// The root's setup store: one JSON file (the catalogue file of
// platform/com/class_catalogue.h) holding what the administration stand-ins
// keep. Like SQLite's and LevelDB's files it is changed only under a lock
// file, and a change replaces the file whole by a rename, so readers never
// see half a change and concurrent writers never undo each other. The file is
// readable by its owner only (and its group in a directory shared with one,
// platform/files/private_files.h); neither the temporary file nor the lock is
// ever opened through a link.
#pragma once

#include <functional>
#include <string>

#include "setup/service_state.h"

namespace tivel::setup {

class Store {
 public:
  // The store of the current root (the catalogue file), or the file `path`.
  Store();
  explicit Store(std::string path);

  const std::string& path() const { return path_; }

  // What the store holds; a missing file holds the initial state. Fails with
  // kInvalidData for a damaged file and kFail for one that cannot be read.
  ServiceState read() const;

  // Reads the state under the store's lock, lets `change` edit it and writes
  // the result. When `change` or the write fails, the file stays as it was
  // and the failure reaches the caller.
  void update(const std::function<void(ServiceState&)>& change) const;

 private:
  std::string path_;
};

}  // namespace tivel::setup
