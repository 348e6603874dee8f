// Shared pieces of the SysMgt suites: a fresh portal per test and engine
// with a SysMgt object, and short ways to build records and read results.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "mgt/sys/sys_mgt.h"
#include "mgt/testing/portal.h"
#include "mgt/testing/records.h"
#include "platform/com/registry.h"

namespace tivel::mgt::sys_testing {

using testing::asList;
using testing::asRecord;
using testing::keysOf;
using testing::rec;

// The first record of a list (nullptr for Nothing or an empty list).
inline RecordPtr firstRecord(const com::Variant& v) {
  auto list = asList(v);
  return list && list->Count() > 0 ? asRecord(list->Item(1)) : nullptr;
}

class SysTest : public testing::PortalTest {
 protected:
  void SetUp() override {
    PortalTest::SetUp();
    sys = std::dynamic_pointer_cast<SysMgt>(com::CreateObject("TivelMgt.SysMgt"));
    ASSERT_TRUE(sys);
  }
  std::shared_ptr<SysMgt> sys;
};

}  // namespace tivel::mgt::sys_testing
