// The kinds of directory object bindPath hands out (internal to the room).
#pragma once

#include <string>

#include "setup/directory.h"

namespace tivel::setup {

// The web site's root: a container of virtual directories ("IIsWebVirtualDir").
DirectoryPtr webRoot();
// The FTP site's root: properties Path, AccessRead, AccessWrite.
DirectoryPtr ftpRoot();
// The local computer `computer`: a container of accounts ("user").
DirectoryPtr computerObject(const std::string& computer);
// The local group `group` (an existing one) of `computer`.
DirectoryPtr groupObject(const std::string& computer, const std::string& group);

}  // namespace tivel::setup
