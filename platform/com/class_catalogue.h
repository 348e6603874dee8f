// The root's component catalogue: which library file registers which class.
// CreateObject consults it for a ProgID that no loaded library registered, so
// a program can create classes of installed libraries it was not linked with.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tivel::com {

// The catalogue file of the root: <component directory>/../db/setup.json. It
// is a JSON document whose "packages" array holds packages, each with a
// "components" array of {"progId": ..., "file": ...}; the installation
// helper writes it, replacing the file whole.
std::string catalogueFile();

// The library file the catalogue names for `progid` (any letter case), or ""
// when no component has that ProgID or the catalogue is absent or unreadable.
std::string catalogueLibrary(std::string_view progid);

// Loads the library `file` (a path to an existing file; it stays loaded for
// the life of the process) and returns the ProgIDs registered by code in it,
// sorted. Fails with 0x80070002 for a missing file and 0x800700C1 for a file
// that cannot be loaded as a library. A library runs code as it loads, so
// only a file the root's administrator put in place is loaded: its real
// path (links resolved) lies under the root's bin directory or under the
// directory of the system's own libraries, it belongs to root or to the
// owner of the root, and neither it nor its directory is writable by group
// or others; any other file fails with 0x80070005 before it is opened.
std::vector<std::string> loadComponentLibrary(const std::string& file);

// Loads the library the catalogue names for `progid`; false when it names
// none. Fails as loadComponentLibrary fails.
bool loadCatalogueClass(std::string_view progid);

}  // namespace tivel::com
