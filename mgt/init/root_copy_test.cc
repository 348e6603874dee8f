#include <gtest/gtest.h>

#include <filesystem>

#include "mgt/common/module.h"
#include "mgt/testing/portal.h"
#include "mgt/um/um_mgt.h"
#include "platform/com/registry.h"

namespace tivel::mgt {
namespace {

class RootCopyTest : public testing::PortalTest {
 protected:
  bool seed() const override { return true; }
};

// A root copied or restored without its empty bin/ opens as before: the
// configuration and the embedded database are found beside it.
TEST_P(RootCopyTest, OpensWithoutItsBinDirectory) {
  std::filesystem::remove(portal().root() + "/bin");
  ASSERT_FALSE(std::filesystem::exists(portal().root() + "/bin"));
  resetThreadState();
  auto um = std::dynamic_pointer_cast<UmMgt>(com::CreateObject("TivelMgt.UmMgt"));  // the start-up runs here
  ASSERT_TRUE(um);
  EXPECT_EQ(um->getGrpName("1"), "系统管理员");
}

INSTANTIATE_TEST_SUITE_P(Engines, RootCopyTest, ::testing::ValuesIn(tivel::testing::engines()),
                         tivel::testing::EngineName());

}  // namespace
}  // namespace tivel::mgt
