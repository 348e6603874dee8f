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
#include "mgt/um/um_mgt.h"
#include "platform/com/registry.h"

namespace tivel::mgt::um_testing {

// A record of the class with the given properties set (others stay Empty).
inline RecordPtr rec(const char* cls, std::initializer_list<std::pair<const char*, com::Variant>> values) {
  RecordPtr r = records::newRecord(cls);
  for (const auto& [name, value] : values) r->set(name, value);
  return r;
}

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

inline RecordPtr asRecord(const com::Variant& v) { return std::dynamic_pointer_cast<Record>(v.toObject()); }
inline CollectionPtr asList(const com::Variant& v) { return std::dynamic_pointer_cast<cCollection>(v.toObject()); }

// The collection keys of a list in order (empty for Nothing).
inline std::vector<std::string> keysOf(const com::Variant& v) {
  std::vector<std::string> keys;
  if (auto list = asList(v))
    for (const auto& entry : list->entries()) keys.push_back(entry.first);
  return keys;
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
