// Shared pieces of the UmMgt suites: a fresh portal per test and engine with
// a UmMgt object, and short ways to build records and read results.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "mgt/testing/portal.h"
#include "mgt/testing/records.h"
#include "mgt/um/um_mgt.h"
#include "platform/com/registry.h"

namespace tivel::mgt::um_testing {

using testing::asList;
using testing::asRecord;
using testing::keysOf;
using testing::rec;

// A user record with the required values and a state, and no value (null)
// for login mode, count and account time, so their defaults apply.
inline RecordPtr user(const com::Variant& no, const com::Variant& account, const com::Variant& name = "用户") {
  return rec("cUmUsr", {{"Usr_No", no},
                        {"Account", account},
                        {"Name", name},
                        {"State", "0"},
                        {"Login_Mode", com::Variant::null()},
                        {"Login_Count", com::Variant::null()},
                        {"Account_Time", com::Variant::null()}});
}

class UmTest : public testing::PortalTest {
 protected:
  void SetUp() override {
    PortalTest::SetUp();
    um = std::dynamic_pointer_cast<UmMgt>(com::CreateObject("TivelMgt.UmMgt"));
    ASSERT_TRUE(um);
  }
  // Adds a user that must be accepted.
  void addUser(const RecordPtr& r) {
    com::Variant key;
    ASSERT_EQ(um->addUsr(r, key), "0");
  }
  com::Variant text(const std::string& sql) { return portal().scalar(sql); }
  std::shared_ptr<UmMgt> um;
};

}  // namespace tivel::mgt::um_testing
