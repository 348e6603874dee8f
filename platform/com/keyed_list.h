// Objects that hold an ordered list of keyed entries (the management
// component's cCollection) implement this, so hosts can show their entries.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/com/variant.h"

namespace tivel::com {

class KeyedList {
 public:
  virtual ~KeyedList() = default;
  // The entries in position order, each with its key.
  virtual std::vector<std::pair<std::string, Variant>> entries() const = 0;
};

}  // namespace tivel::com
