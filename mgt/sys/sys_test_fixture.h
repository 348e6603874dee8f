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
#include "platform/com/registry.h"

namespace tivel::mgt::sys_testing {

// A record of the class with the given properties set (others stay Empty).
inline RecordPtr rec(const char* cls, std::initializer_list<std::pair<const char*, com::Variant>> values) {
  RecordPtr r = records::newRecord(cls);
  for (const auto& [name, value] : values) r->set(name, value);
  return r;
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
