// Test support for the management suites: records, lists and their keys as
// the operations hand them back.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mgt/common/collection.h"
#include "platform/com/variant.h"
#include "records/record.h"

namespace tivel::mgt::testing {

// A record of the class with the given properties set (others stay Empty).
inline records::RecordPtr rec(const char* cls, std::initializer_list<std::pair<const char*, com::Variant>> values) {
  records::RecordPtr r = records::newRecord(cls);
  for (const auto& [name, value] : values) r->set(name, value);
  return r;
}

// The record a value holds, or null.
inline records::RecordPtr asRecord(const com::Variant& v) {
  return std::dynamic_pointer_cast<records::Record>(v.toObject());
}
// The collection a value holds, or null.
inline CollectionPtr asList(const com::Variant& v) { return std::dynamic_pointer_cast<cCollection>(v.toObject()); }

// The collection keys of a list, in the list's order (none for Nothing).
inline std::vector<std::string> keysOf(const com::Variant& v) {
  std::vector<std::string> keys;
  if (auto list = asList(v))
    for (const auto& entry : list->entries()) keys.push_back(entry.first);
  return keys;
}

}  // namespace tivel::mgt::testing
