// The databases and configuration files of a portal root, as the backup
// and restore commands carry them.
#pragma once

#include <string>
#include <vector>

#include "mgt/init/backup.h"

namespace tivel::tool {

// Points TIVEL_HOME at the root and names its management database ("mgt",
// from SysTivel.ini) and fee database ("fee", from Scrivane.ini, when the
// root has that file).
std::vector<mgt::ArchivedDatabase> rootDatabases(const std::string& root);

// The root's INI files (ini/*.ini) by their paths in the root; with
// passwords false, the values of password keys (pwd, password) are left empty.
std::vector<mgt::ArchivedFile> rootIniFiles(const std::string& root, bool passwords);

}  // namespace tivel::tool
