// Shared pieces of the AppMgt suites: a fresh portal per test and engine with
// an AppMgt object, and short ways to build records and read results.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "mgt/app/app_mgt.h"
#include "mgt/testing/portal.h"
#include "mgt/testing/records.h"
#include "platform/com/registry.h"

namespace tivel::mgt::app_testing {

using testing::asList;
using testing::asRecord;
using testing::keysOf;
using testing::rec;

// One portal per test and engine, with an AppMgt created by its ProgID.
class AppTest : public testing::PortalTest {
 protected:
  void SetUp() override {
    PortalTest::SetUp();
    mgt = std::dynamic_pointer_cast<AppMgt>(com::CreateObject("TivelMgt.AppMgt"));
    ASSERT_TRUE(mgt);
  }
  std::shared_ptr<AppMgt> mgt;
};

}  // namespace tivel::mgt::app_testing
