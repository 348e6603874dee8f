#include "platform/com/module_path.h"

#include <gtest/gtest.h>

namespace tivel::com {
namespace {

// The root a library stands for decides where every component finds its INI
// files and databases: a build tree, a prefix install and the system package.
TEST(ModulePath, InstalledLayoutsMapToTheirRoot) {
  EXPECT_EQ(componentDirectoryOf("/src/build/bin/libTivelMgt.so"), "/src/build/bin");
  EXPECT_EQ(componentDirectoryOf("/opt/tivel/lib/tivel/libTivelMgt.so"), "/opt/tivel/bin");
  EXPECT_EQ(componentDirectoryOf("/usr/lib/tivel/libTivelMgt.so"), "/var/lib/tivel/bin");
  // Only a lib/tivel pair counts, not any directory named tivel.
  EXPECT_EQ(componentDirectoryOf("/home/tivel/lib/libTivelMgt.so"), "/home/tivel/lib");
  EXPECT_EQ(componentDirectoryOf("/srv/tivel/libTivelMgt.so"), "/srv/tivel");
}

}  // namespace
}  // namespace tivel::com
