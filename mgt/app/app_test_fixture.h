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
#include "platform/com/registry.h"

namespace tivel::mgt::app_testing {

// A record of the class with the given properties set (others stay Empty).
inline RecordPtr rec(const char* cls, std::initializer_list<std::pair<const char*, com::Variant>> values) {
  RecordPtr r = records::newRecord(cls);
  for (const auto& [name, value] : values) r->set(name, value);
  return r;
}

inline RecordPtr asRecord(const com::Variant& v) { return std::dynamic_pointer_cast<Record>(v.toObject()); }
inline CollectionPtr asList(const com::Variant& v) { return std::dynamic_pointer_cast<cCollection>(v.toObject()); }

// The collection keys of a list, in the list's order (none for Nothing).
inline std::vector<std::string> keysOf(const com::Variant& v) {
  std::vector<std::string> keys;
  if (auto list = asList(v))
    for (const auto& entry : list->entries()) keys.push_back(entry.first);
  return keys;
}

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
